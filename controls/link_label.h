#pragma once
// CLinkLabel: a caption drawn as a web link. Blue and underlined until its address has been
// opened, purple after; a tooltip shows the address; a click opens it in the user's browser, and
// a failure beeps and shows a box. The window fits itself to its text.
//
// Thread: GUI thread only, including the owner's writes of m_cursor.

#include "controls/link_launch.h"

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>

#include <optional>

// The window rectangle fitted to a text extent (pixels), by the label's alignment:
// AlignVCenter moves top and bottom inward each by (height - textHeight) / 2, truncated toward
// zero (outward when the text is taller), else bottom = top + textHeight; AlignHCenter moves left
// and right inward each by (width - textWidth) / 2, AlignRight keeps the right edge, and
// otherwise the left edge stays and the width becomes the text's.
QRect FitRectToText(const QRect& rect, const QSize& text, Qt::Alignment alignment);

class CLinkLabel : public QLabel {
public:
    explicit CLinkLabel(const QString& caption = {}, QWidget* parent = nullptr);

    // For the owner to call once the label has its caption and rectangle: an empty address
    // becomes the caption and an empty caption the address; then the window is fitted, the
    // cursor reset to the arrow and the tooltip set to the address.
    void PreSubclassWindow();

    void SetAddress(const QString& address);
    void SetOpened(bool opened);
    void FitToText();

    // Opens the address: the system's opener, then the text/html handler. done gets the code
    // (above 32 is success) once known, on this thread; never once the label is gone.
    void LaunchAddress(const QString& address, LaunchDone done);
    void ShowLaunchFailure(int code);

    const QString& Address() const { return m_address; }
    bool Opened() const { return m_opened; }
    // The colour the text is drawn in now.
    QColor TextColor() const { return m_opened ? m_colorOpened : m_colorNormal; }

    // Written directly by the owner; shown while the pointer is over the label.
    QCursor m_cursor;
    // The steps of opening the address; tests replace them.
    CLinkLauncher m_launcher;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    void OnClicked();
    void OnLaunched(int code);
    const QFont& LinkFont();

    const QColor m_colorNormal{0, 0, 238};
    const QColor m_colorOpened{85, 26, 139};
    bool m_opened = false;
    const bool m_underlined = true;
    const bool m_autoFit = true;
    QString m_address;
    std::optional<QFont> m_linkFont; // made at the first paint, kept for the label's life
};
