#include "status_line.h"

#include "wave_api.h"

#include <QFontDatabase>
#include <QLabel>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kNone = "—";

// Cells of the strip, left to right, in pixels: X1, X2, xruns, then the device to the end.
constexpr int kCellWidths[] = {285, 285, 75};

std::string Formatted(double value, const char* format) {
    if (!std::isfinite(value)) {
        return kNone;
    }
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string StatusChannelText(const char* name, const ChannelReading& reading) {
    // The one-second average: the per-buffer estimate wanders in the last digit shown.
    const std::string hertz =
        reading.averageHertz ? Formatted(*reading.averageHertz, "%.3f Hz") : kNone;
    return std::string(name) + " " + hertz + "  RMS " + Formatted(reading.rmsDbfs, "%.2f") +
           "  peak " + Formatted(reading.peakDbfs, "%.2f") + " dBFS";
}

CStatusLine::CStatusLine(QWidget* parent, const PixelRect& panel) : QWidget(parent) {
    setGeometry(panel.x, panel.y + panel.height, panel.width, kStatusLineHeightPx);
    // Fixed-pitch digits: a changing reading does not make the text beside it move.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    int x = 4;
    for (size_t i = 0; i < m_labels.size(); ++i) {
        m_labels[i] = new QLabel(this);
        m_labels[i]->setFont(font);
        const int width = i < std::size(kCellWidths) ? kCellWidths[i] : panel.width - x - 4;
        m_labels[i]->setGeometry(x, 0, width, kStatusLineHeightPx);
        x += width;
    }
    // Until the first buffer, and for good when the capture cannot start: nothing measured yet.
    ChannelReading nothing;
    nothing.rmsDbfs = nothing.peakDbfs = -std::numeric_limits<double>::infinity();
    m_labels[0]->setText(QString::fromStdString(StatusChannelText("X1", nothing)));
    m_labels[1]->setText(QString::fromStdString(StatusChannelText("X2", nothing)));
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
    // By name: the queued event is made inside Qt; the reading travels through the mailbox.
    if (m_pending.Put(reading)) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void CStatusLine::Deliver() {
    const std::optional<StatusReading> reading = m_pending.Take();
    if (!reading) {
        return;
    }
    const QString texts[] = {
        QString::fromStdString(StatusChannelText("X1", reading->channels[0])),
        QString::fromStdString(StatusChannelText("X2", reading->channels[1])),
        QStringLiteral("xruns %1").arg(reading->xruns),
        QStringLiteral("capture: %1").arg(QString::fromStdString(WaveDeviceName())),
    };
    for (size_t i = 0; i < m_labels.size(); ++i) {
        // setText repaints even for the same text; unchanged cells are left alone.
        if (m_labels[i]->text() != texts[i]) {
            m_labels[i]->setText(texts[i]);
        }
    }
}

QString CStatusLine::Text() const {
    QStringList texts;
    for (const QLabel* label : m_labels) {
        texts << label->text();
    }
    return texts.join(QStringLiteral(" | "));
}
