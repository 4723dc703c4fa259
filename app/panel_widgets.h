#pragma once
// Builds the panel's widgets from the template table and keeps them by control id.
// GUI thread only.

#include "app/panel_layout.h"

#include <QString>

#include <functional>
#include <map>

class QAbstractButton;
class QButtonGroup;
class QSlider;
class QWidget;

// Makes the widget of a Screen, Readout or Link entry (the panel's own classes).
using CustomWidgetFactory = std::function<QWidget*(const ControlSpec& control, QWidget* parent)>;

class CPanelWidgets {
public:
    // Creates every control of PanelControls() as a child of panel, at its converted rectangle,
    // with the slider set-up applied (range, ticks, then the requested position, clamped).
    // Radios, toggles and buttons are push buttons that Enter never presses.
    void Build(QWidget* panel, const CustomWidgetFactory& makeCustom);

    QWidget* Widget(int id) const;
    QAbstractButton* Button(int id) const; // radios, toggles and buttons
    QSlider* Slider(int id) const;
    QButtonGroup* RadioGroup(int group) const;
    // The group box or text whose template caption (untranslated) is caption; for tests and the
    // footer.
    QWidget* Static(const QString& caption) const;

private:
    std::map<int, QWidget*> m_byId;
    std::map<int, QButtonGroup*> m_groups;
    std::multimap<QString, QWidget*> m_statics;
};
