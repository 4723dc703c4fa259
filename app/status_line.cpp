#include "status_line.h"

#include "number_text.h"
#include "wave_api.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

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

} // namespace

std::string StatusChannelText(const char* name, const ChannelReading& reading) {
    // The one-second average: the per-buffer estimate wanders in the last digit shown.
    const std::string hertz =
        reading.averageHertz ? Formatted(*reading.averageHertz, 3, " Hz") : kNone;
    const std::string peak = QCoreApplication::translate("CStatusLine", "peak").toStdString();
    return std::string(name) + " " + hertz + "  RMS " + Formatted(reading.rmsDbfs, 2) + "  " +
           peak + " " + Formatted(reading.peakDbfs, 2) + " dBFS";
}

CStatusLine::CStatusLine(QWidget* parent, const PixelRect& panel) : QWidget(parent) {
    setGeometry(panel.x, panel.y + panel.height, panel.width, kStatusLineHeightPx);
    // Fixed-pitch digits: a changing reading does not make the text beside it move.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    setFont(font);
    setAttribute(Qt::WA_OpaquePaintEvent);
    int x = 4;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const int width = i < std::size(kCellWidths) ? kCellWidths[i] : panel.width - x - 4;
        m_cells[i] = QRect(x, 0, width, kStatusLineHeightPx);
        x += width;
    }
    // Until the first buffer, and for good when the capture cannot start: nothing measured yet.
    ChannelReading nothing;
    nothing.rmsDbfs = nothing.peakDbfs = -std::numeric_limits<double>::infinity();
    m_texts[0] = QString::fromStdString(StatusChannelText("X1", nothing));
    m_texts[1] = QString::fromStdString(StatusChannelText("X2", nothing));
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
    if (!reading) {
        return;
    }
    SetCellText(0, QString::fromStdString(StatusChannelText("X1", reading->channels[0])));
    SetCellText(1, QString::fromStdString(StatusChannelText("X2", reading->channels[1])));
    // These two seldom change: their texts are made only when they do.
    if (reading->xruns != m_xrunsShown) {
        m_xrunsShown = reading->xruns;
        SetCellText(2, QCoreApplication::translate("CStatusLine", "xruns %1").arg(reading->xruns));
    }
    if (std::string device = WaveDeviceName(WaveDirection::In); device != m_deviceShown) {
        m_deviceShown = std::move(device);
        SetCellText(3, QCoreApplication::translate("CStatusLine", "capture: %1")
                           .arg(QString::fromStdString(*m_deviceShown)));
    }
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
