#pragma once
// CScopeScreen: the sunken screen control that shows the newest finished oscilloscope frame,
// 3 pixels inside its border. The capture worker publishes frames whole; the widget takes the
// newest one on the GUI thread and repaints only when one has arrived, so a half-drawn frame is
// never shown and a slow GUI skips frames instead of queueing them.

#include <QFrame>
#include <QImage>

#include <atomic>
#include <cstdint>
#include <mutex>

class CScopeScreen : public QFrame {
    Q_OBJECT
public:
    explicit CScopeScreen(QWidget* parent = nullptr);

    // Any thread. frame must not share pixels with anything the caller goes on drawing into.
    void PublishFrame(QImage frame);

    // GUI thread: the frame on show (null before the first one) and how many were shown.
    const QImage& Frame() const { return m_shown; }
    int64_t FramesShown() const { return m_framesShown; }

    // The control's rectangle on the screen, in global pixels. Kept although nothing calls it
    // (the frame size comes from the template): the screen control is defined to return it.
    QRect ScreenRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // The picture's place, inside the border.
    QRect InsideRect() const;

private slots:
    void TakePendingFrame();

private:
    std::mutex m_pendingMutex;
    QImage m_pending;
    std::atomic<bool> m_takePosted{false};
    QImage m_shown;
    int64_t m_framesShown = 0;
};
