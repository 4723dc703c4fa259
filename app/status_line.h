#pragma once
// CStatusLine: the strip under the panel. For X1 and X2 it shows what the 21.5 Hz readouts
// cannot: the tone's frequency to a thousandth of a hertz ("—" when there is no clear tone),
// and its RMS and peak levels in dBFS; then the xrun count and the capture device's name.
//
// Threads: built and shown on the GUI thread. OnCaptureBuffer runs on the capture worker, once
// per buffer: it measures (no allocation) and puts the reading into a mailbox; a queued call
// shows the newest reading on the GUI thread, so a slow GUI skips readings rather than queue
// them, and only cells whose text changed repaint. Once the capture device in use is
// calibrated, each channel also reads in volts and the scope's scale in volts a division; that
// is worked out on the GUI thread at delivery, so the worker's cost stays as it was.

#include "analysis/calibration/calibration.h"
#include "app/panel_layout.h"
#include "base/latest_value.h"
#include "measure/tone_estimator.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Height in pixels of the strip the window grows by; twice that while it shows volts.
inline constexpr int kStatusLineHeightPx = 22;

struct StatusReading {
    std::array<ChannelReading, kChannels> channels;
    uint64_t xruns = 0;
};

// One channel's part, e.g. "X1 1000.003 Hz  RMS -6.02  peak -3.01 dBFS"; "—" for a frequency
// when there is no tone and for a level of silence. GUI thread: the words are translated.
std::string StatusChannelText(const char* name, const ChannelReading& reading);

// What the scope draws now, for its scale in volts.
struct ScopeScale {
    int mode = 0; // the scope mode radios' value: 1 X1, 2 X1 and X2, 3 sum, 4 X-Y, 5 spectra
    std::array<float, kChannels> ampScale{1.0f, 1.0f}; // pixels per sample unit
    std::array<int, kChannels> gainDivisor{1, 1};
    int gridRows = 10;
    int gridColumns = 10;
    int widthPx = 0; // the scope's frame
    int heightPx = 0;
};

// Volts a division of the channel's trace in the current mode; nothing where the mode draws
// no trace of it against a grid of volts (the spectra).
std::optional<double> TraceVoltsPerDivision(const ScopeScale& scale, int channel,
                                            double vrmsAt0Dbfs);
// A voltage as the strip shows it: "0.500 V", "12.34 mV"; "— V" when not finite.
std::string VoltsText(double volts);
// The calibrated tail of a channel's part: "  0.500 Vrms  1.414 Vpp  1.64 mV/div".
std::string StatusVoltsText(const ChannelReading& reading, double vrmsAt0Dbfs,
                            std::optional<double> voltsPerDivision);

class CStatusLine : public QWidget {
    Q_OBJECT
public:
    // Placed right below the panel's client area `panel`, as wide as it.
    CStatusLine(QWidget* parent, const PixelRect& panel);

    // Capture worker. buffer: kFramesPerBuffer interleaved frames, X1 first.
    void OnCaptureBuffer(const uint8_t* buffer);

    // GUI thread; for tests.
    QString Text() const;

    // GUI thread. The calibrations the strip reads volts with (a copy; call again after a
    // change), and where it finds the scope's scale at each reading.
    void SetCalibration(const CCalibrationStore& store);
    void SetScopeScaleSource(std::function<ScopeScale()> source);
    // GUI thread. While the card is lent to an analyser the strip shows `text` across the
    // channels' cells, not a reading of a stream the panel no longer has; an empty text: the
    // card is back, and the channels read "—" until the next buffer.
    void ShowCardLent(const QString& text);

    // GUI thread. The RMS level of the channel in the reading shown last; -infinity before
    // the first.
    double LastRmsDbfs(int channel) const;

signals:
    // GUI thread: a new reading is on show.
    void ReadingShown();
    // GUI thread: the strip took a second row for volts, or gave it back; height in pixels.
    void HeightChanged(int heightPx);

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    // Posted by name, not as a functor: the worker then allocates nothing for the call.
    void Deliver();

private:
    // GUI thread: repaints the cell when its text changes.
    void SetCellText(size_t cell, const QString& text);
    // GUI thread: the channel's part, with volts when its input is calibrated.
    QString ChannelText(int channel, const ChannelReading& reading, const std::string& device,
                        const ScopeScale& scale) const;
    // GUI thread: the cells in one row as always, or in two when a channel reads in volts.
    void LayOutCells(bool twoRows);

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
    int m_panelWidth = 0;
    CCalibrationStore m_calibration;
    std::function<ScopeScale()> m_scaleSource;
    QString m_loanText; // empty while the card is the panel's
    std::array<double, kChannels> m_lastRmsDbfs;
};
