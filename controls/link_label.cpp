#include "controls/link_label.h"

#include "base/format_and_alert.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

QRect FitRectToText(const QRect& rect, const QSize& text, Qt::Alignment alignment) {
    // Edges in the exclusive-right form, so the arithmetic reads as widths.
    int left = rect.left(), top = rect.top();
    int right = left + rect.width(), bottom = top + rect.height();
    if (alignment & Qt::AlignVCenter) {
        const int inward = (rect.height() - text.height()) / 2; // truncates toward zero
        top += inward;
        bottom -= inward;
    } else {
        bottom = top + text.height();
    }
    if (alignment & Qt::AlignHCenter) {
        const int inward = (rect.width() - text.width()) / 2;
        left += inward;
        right -= inward;
    } else if (alignment & Qt::AlignRight) {
        left = right - text.width();
    } else {
        right = left + text.width();
    }
    return QRect(left, top, right - left, bottom - top);
}

CLinkLabel::CLinkLabel(const QString& caption, QWidget* parent)
    : QLabel(caption, parent), m_launcher(CLinkLauncher::System()) {
    // A plain static text sits at its top-left corner unless told otherwise.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CLinkLabel::PreSubclassWindow() {
    if (m_address.isEmpty())
        m_address = text();
    if (text().isEmpty())
        setText(m_address);
    FitToText();
    m_cursor = QCursor(Qt::ArrowCursor);
    setToolTip(m_address);
}

void CLinkLabel::SetAddress(const QString& address) {
    m_address = address;
    FitToText();
    setToolTip(m_address);
}

void CLinkLabel::SetOpened(bool opened) {
    m_opened = opened;
    update();
}

void CLinkLabel::FitToText() {
    if (!m_autoFit)
        return;
    // Measured in the font the text is drawn with; the underline adds no width or height.
    const QSize extent = QFontMetrics(font()).size(Qt::TextSingleLine, text());
    setGeometry(FitRectToText(geometry(), extent, alignment()));
}

void CLinkLabel::LaunchAddress(const QString& address, LaunchDone done) {
    const QPointer<CLinkLabel> self(this);
    m_launcher.m_openWithSystem(address, [self, address, done](int shellCode) {
        if (!self) {
            return;
        }
        if (shellCode > 32) {
            done(shellCode);
            return;
        }
        QString command;
        if (self->m_launcher.m_queryHtmlCommand(command) != 0) {
            done(shellCode);
            return;
        }
        done(self->m_launcher.m_runCommand(RewriteHandlerCommand(command, address)));
    });
}

void CLinkLabel::ShowLaunchFailure(int code) {
    // A warning captioned with the program's name, shown however the program shows alerts.
    ShowAlert({LaunchFailureText(code).toStdString(),
               QCoreApplication::applicationName().toStdString(), AlertIcon::Warning});
}

void CLinkLabel::OnClicked() {
    // The opener may take seconds to say how it went; the panel goes on meanwhile.
    LaunchAddress(m_address, [this](int code) { OnLaunched(code); });
}

void CLinkLabel::OnLaunched(int code) {
    m_opened = code > 32;
    if (m_opened) {
        SetOpened(true);
        return;
    }
    // No repaint here: the text keeps its colour until something else repaints it.
    m_launcher.m_beep();
    ShowLaunchFailure(code);
}

const QFont& CLinkLabel::LinkFont() {
    if (!m_linkFont) {
        m_linkFont = font();
        m_linkFont->setUnderline(true);
    }
    return *m_linkFont;
}

void CLinkLabel::paintEvent(QPaintEvent*) {
    // No background of its own: the text lies on whatever the parent drew.
    QPainter painter(this);
    painter.setPen(TextColor());
    painter.setFont(m_underlined ? LinkFont() : font());
    painter.drawText(contentsRect(), int(alignment()), text());
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        OnClicked();
    else
        QLabel::mouseReleaseEvent(event);
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
    setCursor(m_cursor);
    QLabel::enterEvent(event);
}
