#pragma once
// CStatusLine: the strip under the panel. For X1 and X2 it shows what the 21.5 Hz readouts
// cannot: the tone's frequency to a thousandth of a hertz ("—" when there is no clear tone),
// and its RMS and peak levels in dBFS; then the xrun count and the capture device's name.
//
// Threads: built and shown on the GUI thread. OnCaptureBuffer runs on the capture worker, once
// per buffer: it measures (no allocation) and puts the reading into a mailbox; a queued call
// shows the newest reading on the GUI thread, so a slow GUI skips readings rather than queue
// them, and only cells whose text changed repaint.

#include "latest_value.h"
#include "panel_layout.h"
#include "tone_estimator.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// Height in pixels of the strip the window grows by.
inline constexpr int kStatusLineHeightPx = 22;

struct StatusReading {
    std::array<ChannelReading, kChannels> channels;
    uint64_t xruns = 0;
};

// One channel's part, e.g. "X1 1000.003 Hz  RMS -6.02  peak -3.01 dBFS"; "—" for a frequency
// when there is no tone and for a level of silence. GUI thread: the words are translated.
std::string StatusChannelText(const char* name, const ChannelReading& reading);

class CStatusLine : public QWidget {
    Q_OBJECT
public:
    // Placed right below the panel's client area `panel`, as wide as it.
    CStatusLine(QWidget* parent, const PixelRect& panel);

    // Capture worker. buffer: kFramesPerBuffer interleaved frames, X1 first.
    void OnCaptureBuffer(const uint8_t* buffer);

    // GUI thread; for tests.
    QString Text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    // Posted by name, not as a functor: the worker then allocates nothing for the call.
    void Deliver();

private:
    // GUI thread: repaints the cell when its text changes.
    void SetCellText(size_t cell, const QString& text);

    // Capture worker only.
    CToneEstimator m_estimator;
    int16_t m_frames[kFramesPerBuffer * kChannels] = {};
    uint64_t m_gaps = 0; // xruns and dropped input seen so far

    CLatestValue<StatusReading> m_pending;
    // The strip draws its cells itself, opaque: a reading changes every buffer, and a label
    // per cell would lay itself out again and have the panel paint the background under it.
    std::array<QRect, 4> m_cells{}; // X1, X2, xruns, device
    std::array<QString, 4> m_texts;
    std::optional<uint64_t> m_xrunsShown; // none before the first reading
    std::optional<std::string> m_deviceShown;
};
