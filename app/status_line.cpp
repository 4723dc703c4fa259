#include "app/status_line.h"

#include "audio/wave/wave_api.h"
#include "base/number_text.h"
#include "measure/scope_math.h"
#include "scope/scope.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kNone = "—";

// Cells of the strip, left to right, in pixels: X1, X2, xruns, then the device to the end.
constexpr int kCellWidths[] = {285, 285, 75};

std::string Formatted(double value, int decimals, const char* unit = "") {
    if (!std::isfinite(value)) {
        return kNone;
    }
    return FixedText(value, decimals) + unit;
}

// With volts: the width of the xruns and device cells, beside the channels' rows.
constexpr int kSideCellWidthPx = 170;

} // namespace

std::optional<double> TraceVoltsPerDivision(const ScopeScale& scale, int channel,
                                            double vrmsAt0Dbfs) {
    const size_t c = channel == 0 ? 0 : 1;
    const auto alongRows = [&] {
        return ScopeVoltsPerDivision(scale.ampScale[c], scale.gainDivisor[c], scale.heightPx,
                                     scale.gridRows, vrmsAt0Dbfs);
    };
    switch (scale.mode) {
    case kScopeModeX:
        return c == 0 ? std::optional<double>(alongRows()) : std::nullopt;
    case kScopeModeX1X2:
    case kScopeModeSum: // one trace, but each channel keeps its own scale in it
        return alongRows();
    case kScopeModeXY: // X1 runs across the columns, X2 down the rows
        return c == 0 ? ScopeVoltsPerDivision(scale.ampScale[0], scale.gainDivisor[0],
                                              scale.widthPx, scale.gridColumns, vrmsAt0Dbfs)
                      : alongRows();
    default:
        return std::nullopt;
    }
}

std::string VoltsText(double volts) {
    if (!std::isfinite(volts)) {
        return std::string(kNone) + " V";
    }
    // Below 0.1 V in millivolts, so a small signal keeps three or four figures in sight.
    return std::abs(volts) >= 0.1 ? FixedText(volts, 3) + " V" : FixedText(volts * 1e3, 2) + " mV";
}

std::string StatusVoltsText(const ChannelReading& reading, double vrmsAt0Dbfs,
                            std::optional<double> voltsPerDivision) {
    // Silence reads -infinity dBFS, which is no voltage worth a figure: "—" as for dBFS.
    const double vrms =
        std::isfinite(reading.rmsDbfs) ? DbfsToVrms(reading.rmsDbfs, vrmsAt0Dbfs) : NAN;
    std::string text = "  " + VoltsText(vrms) + "rms  " + VoltsText(SineVpp(vrms)) + "pp";
    if (voltsPerDivision) {
        text += "  " + VoltsText(*voltsPerDivision) + "/div";
    }
    return text;
}

std::string StatusChannelText(const char* name, const ChannelReading& reading) {
    // The one-second average: the per-buffer estimate wanders in the last digit shown.
    const std::string hertz =
        reading.averageHertz ? Formatted(*reading.averageHertz, 3, " Hz") : kNone;
    const std::string peak = QCoreApplication::translate("CStatusLine", "peak").toStdString();
    return std::string(name) + " " + hertz + "  RMS " + Formatted(reading.rmsDbfs, 2) + "  " +
           peak + " " + Formatted(reading.peakDbfs, 2) + " dBFS";
}

CStatusLine::CStatusLine(QWidget* parent, const PixelRect& panel)
    : QWidget(parent), m_panelWidth(panel.width) {
    m_lastRmsDbfs.fill(-std::numeric_limits<double>::infinity());
    setGeometry(panel.x, panel.y + panel.height, panel.width, kStatusLineHeightPx);
    setFixedHeight(kStatusLineHeightPx);
    // Fixed-pitch digits: a changing reading does not make the text beside it move.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    setFont(font);
    setAttribute(Qt::WA_OpaquePaintEvent);
    LayOutCells(false);
    // Until the first buffer, and for good when the capture cannot start: nothing measured yet.
    ChannelReading nothing;
    nothing.rmsDbfs = nothing.peakDbfs = -std::numeric_limits<double>::infinity();
    m_texts[0] = QString::fromStdString(StatusChannelText("X1", nothing));
    m_texts[1] = QString::fromStdString(StatusChannelText("X2", nothing));
}

void CStatusLine::ShowCardLent(const QString& text) {
    m_loanText = text;
    // A reading still on its way from before the loan must not overwrite the text.
    m_pending.Take();
    LayOutCells(false);
    if (!text.isEmpty()) {
        SetCellText(0, text);
        SetCellText(1, QString());
        return;
    }
    ChannelReading nothing;
    nothing.rmsDbfs = nothing.peakDbfs = -std::numeric_limits<double>::infinity();
    for (int c = 0; c < kChannels; ++c) {
        m_lastRmsDbfs[size_t(c)] = nothing.rmsDbfs;
        SetCellText(size_t(c),
                    QString::fromStdString(StatusChannelText(c == 0 ? "X1" : "X2", nothing)));
    }
}

void CStatusLine::OnCaptureBuffer(const uint8_t* buffer) {
    std::memcpy(m_frames, buffer, sizeof m_frames);
    // Input lost in a gap must not be averaged over as if the buffers were consecutive.
    const uint64_t xruns = WaveXrunCount();
    if (const uint64_t gaps = xruns + WaveDroppedInputFrames(); gaps != m_gaps) {
        m_estimator.Reset();
        m_gaps = gaps;
    }
    const StatusReading reading{m_estimator.Measure(m_frames), xruns};
    if (m_pending.Put(reading)) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void CStatusLine::Deliver() {
    const std::optional<StatusReading> reading = m_pending.Take();
    if (!reading || !m_loanText.isEmpty()) {
        return;
    }
    std::string device = WaveDeviceName(WaveDirection::In);
    // The scale is only asked for when a channel of this device is calibrated.
    const bool calibrated =
        std::any_of(m_calibration.Entries().begin(), m_calibration.Entries().end(),
                    [&](const CalibrationEntry& e) {
                        return e.device == device && e.side == CalibrationSide::Input;
                    });
    const ScopeScale scale = calibrated && m_scaleSource ? m_scaleSource() : ScopeScale{};
    LayOutCells(calibrated);
    for (int c = 0; c < kChannels; ++c) {
        m_lastRmsDbfs[size_t(c)] = reading->channels[size_t(c)].rmsDbfs;
        SetCellText(size_t(c), ChannelText(c, reading->channels[size_t(c)], device, scale));
    }
    // These two seldom change: their texts are made only when they do.
    if (reading->xruns != m_xrunsShown) {
        m_xrunsShown = reading->xruns;
        SetCellText(2, QCoreApplication::translate("CStatusLine", "xruns %1").arg(reading->xruns));
    }
    if (device != m_deviceShown) {
        m_deviceShown = std::move(device);
        SetCellText(3, QCoreApplication::translate("CStatusLine", "capture: %1")
                           .arg(QString::fromStdString(*m_deviceShown)));
    }
    emit ReadingShown();
}

QString CStatusLine::ChannelText(int channel, const ChannelReading& reading,
                                 const std::string& device, const ScopeScale& scale) const {
    std::string text = StatusChannelText(channel == 0 ? "X1" : "X2", reading);
    if (const auto entry = m_calibration.Find(device, CalibrationSide::Input, channel)) {
        text += StatusVoltsText(reading, entry->vrms_at_0dbfs,
                                TraceVoltsPerDivision(scale, channel, entry->vrms_at_0dbfs));
    }
    return QString::fromStdString(text);
}

void CStatusLine::LayOutCells(bool twoRows) {
    std::array<QRect, 4> cells;
    if (twoRows) {
        // A channel with volts takes most of a row: X1 over X2, the xruns beside X1 and the
        // device's name beside X2, cut at the edge as before.
        const int sideX = std::max(m_panelWidth - kSideCellWidthPx - 4, 4);
        const int channelWidth = sideX - 4;
        cells = {QRect(4, 0, channelWidth, kStatusLineHeightPx),
                 QRect(4, kStatusLineHeightPx, channelWidth, kStatusLineHeightPx),
                 QRect(sideX, 0, kSideCellWidthPx, kStatusLineHeightPx),
                 QRect(sideX, kStatusLineHeightPx, kSideCellWidthPx, kStatusLineHeightPx)};
    } else {
        int x = 4;
        for (size_t i = 0; i < cells.size(); ++i) {
            const int width =
                i < std::size(kCellWidths) ? kCellWidths[i] : std::max(m_panelWidth - x - 4, 0);
            cells[i] = QRect(x, 0, width, kStatusLineHeightPx);
            x += width;
        }
        if (!m_loanText.isEmpty()) {
            // The loan's one text spans both channels' cells.
            cells[0] = cells[0].united(cells[1]);
            cells[1] = QRect();
        }
    }
    if (cells == m_cells) {
        return;
    }
    m_cells = cells;
    const int height = twoRows ? 2 * kStatusLineHeightPx : kStatusLineHeightPx;
    if (height != this->height()) {
        setFixedHeight(height);
        emit HeightChanged(height);
    }
    update();
}

void CStatusLine::SetCalibration(const CCalibrationStore& store) {
    m_calibration = store;
}

void CStatusLine::SetScopeScaleSource(std::function<ScopeScale()> source) {
    m_scaleSource = std::move(source);
}

double CStatusLine::LastRmsDbfs(int channel) const {
    return m_lastRmsDbfs[channel == 0 ? 0 : 1];
}

void CStatusLine::SetCellText(size_t cell, const QString& text) {
    if (m_texts[cell] != text) {
        m_texts[cell] = text;
        update(m_cells[cell]);
    }
}

void CStatusLine::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (event->rect().intersects(m_cells[i])) {
            // As a label draws its text: left, centred in the cell's height, cut at its edge.
            painter.setClipRect(m_cells[i]);
            style()->drawItemText(&painter, m_cells[i],
                                  Qt::AlignLeft | Qt::AlignVCenter | Qt::TextExpandTabs, palette(),
                                  isEnabled(), m_texts[i], QPalette::WindowText);
        }
    }
}

QString CStatusLine::Text() const {
    QStringList texts;
    for (const QString& text : m_texts) {
        texts << text;
    }
    return texts.join(QStringLiteral(" | "));
}
