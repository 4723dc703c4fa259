#include "app/panel_widgets.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>

namespace {

// The contexts the template table marks its captions under.
QString Caption(const ControlSpec& control) {
    const char* context =
        control.kind == ControlKind::GroupBox ? "PanelGroupBox" : "CInstrumentDlg";
    return QCoreApplication::translate(context, control.caption);
}

QSlider* MakeSlider(const ControlSpec& control, QWidget* parent) {
    const SliderSpec& s = control.slider;
    auto* slider = new QSlider(s.vertical ? Qt::Vertical : Qt::Horizontal, parent);
    if (s.vertical) {
        // Minimum at the top, and the up key moves toward it.
        slider->setInvertedAppearance(true);
        slider->setInvertedControls(true);
    }
    switch (s.ticks) {
    case SliderTicks::Left:
        slider->setTickPosition(QSlider::TicksLeft);
        break;
    case SliderTicks::Right:
        slider->setTickPosition(QSlider::TicksRight);
        break;
    case SliderTicks::Below:
        slider->setTickPosition(QSlider::TicksBelow);
        break;
    case SliderTicks::None:
        break;
    }
    slider->setTickInterval(s.tickInterval);
    slider->setRange(s.minimum, s.maximum);
    slider->setPageStep(std::max(1, (s.maximum - s.minimum) / 5));
    slider->setValue(s.requestedPosition); // clamped into the range by the slider
    return slider;
}

QPushButton* MakeButton(const ControlSpec& control, QWidget* parent) {
    auto* button = new QPushButton(Caption(control), parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setCheckable(control.kind == ControlKind::Radio || control.kind == ControlKind::Toggle);
    return button;
}

QLabel* MakeLogo(QWidget* parent) {
    auto* logo = new QLabel(parent);
    logo->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    logo->setLineWidth(1);
    logo->setPixmap(QPixmap(QStringLiteral(":/res/logo.png")));
    logo->setAlignment(Qt::AlignCenter);
    return logo;
}

} // namespace

void CPanelWidgets::Build(QWidget* panel, const CustomWidgetFactory& makeCustom) {
    for (const ControlSpec& control : PanelControls()) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case ControlKind::Screen:
        case ControlKind::Readout:
        case ControlKind::Link:
            widget = makeCustom(control, panel);
            break;
        case ControlKind::GroupBox:
            widget = new QGroupBox(Caption(control), panel);
            break;
        case ControlKind::Text:
            widget = new QLabel(Caption(control), panel);
            break;
        case ControlKind::Slider:
            widget = MakeSlider(control, panel);
            break;
        case ControlKind::Radio:
        case ControlKind::Toggle:
        case ControlKind::Button:
            widget = MakeButton(control, panel);
            break;
        case ControlKind::Logo:
            widget = MakeLogo(panel);
            break;
        }
        if (widget == nullptr) {
            continue;
        }
        widget->setGeometry(DialogUnitsToRect(control.rect, kPanelBaseUnits));
        // Group boxes go to the back so the controls drawn over them stay clickable.
        if (control.kind == ControlKind::GroupBox) {
            widget->lower();
        }
        if (control.kind == ControlKind::GroupBox || control.kind == ControlKind::Text) {
            m_statics.emplace(QString::fromUtf8(control.caption), widget);
        }
        if (control.id != kNoId) {
            widget->setObjectName(QString::number(control.id));
            m_byId[control.id] = widget;
        }
        if (control.radioGroup != 0) {
            QButtonGroup*& group = m_groups[control.radioGroup];
            if (group == nullptr) {
                group = new QButtonGroup(panel);
                group->setExclusive(true);
            }
            group->addButton(static_cast<QPushButton*>(widget), control.id);
        }
    }
}

QWidget* CPanelWidgets::Widget(int id) const {
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second;
}

QAbstractButton* CPanelWidgets::Button(int id) const {
    return qobject_cast<QAbstractButton*>(Widget(id));
}

QSlider* CPanelWidgets::Slider(int id) const {
    return qobject_cast<QSlider*>(Widget(id));
}

QButtonGroup* CPanelWidgets::RadioGroup(int group) const {
    const auto it = m_groups.find(group);
    return it == m_groups.end() ? nullptr : it->second;
}

QWidget* CPanelWidgets::Static(const QString& caption) const {
    const auto it = m_statics.find(caption);
    return it == m_statics.end() ? nullptr : it->second;
}
