// CFrequencyResponseWindow's files: the save buttons and what they write, curves kept and
// loaded as overlays. The window's runs are in frequency_response_window.cpp.
#include "app/analysers/frequency_response_window.h"

#include "analysis/sweep/sweep_files.h"
#include "app/analysers/analyser_export.h"
#include "files/float_wave.h"

#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

namespace {

// A curve file is text of some ten thousand lines at most; anything far larger is not one.
constexpr qint64 kLargestCurveFileBytes = 64 << 20;

const char* const kNoMeasurement = QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "还没有测量结果");

} // namespace

QWidget* CFrequencyResponseWindow::MakeExportButtons() {
    auto* box = new QGroupBox(tr("保存"), this);
    auto* layout = new QVBoxLayout(box);
    const auto add = [&](const QString& text, auto handler) {
        auto* button = new QPushButton(text, box);
        button->setAutoDefault(false);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, handler);
    };
    add(tr("保存 CSV…"), [this] {
        SaveWithDialog(tr("保存 CSV"), QStringLiteral("response.csv"), tr("CSV 文件 (*.csv)"),
                       [this](const QString& p, QString* e) { return ExportCsv(p, e); });
    });
    add(tr("保存 FRD…"), [this] {
        SaveWithDialog(tr("保存 FRD"), QStringLiteral("response.frd"), tr("FRD 文件 (*.frd)"),
                       [this](const QString& p, QString* e) { return ExportFrd(p, e); });
    });
    add(tr("保存脉冲响应 WAV…"), [this] {
        SaveWithDialog(tr("保存脉冲响应"), QStringLiteral("impulse.wav"),
                       tr("WAV 文件 (32 位浮点) (*.wav)"),
                       [this](const QString& p, QString* e) { return ExportImpulse(p, e); });
    });
    add(tr("保存图…"), [this] {
        SaveWithDialog(tr("保存图"), QStringLiteral("response.png"),
                       tr("PNG 图片 (*.png);;SVG 图形 (*.svg)"),
                       [this](const QString& p, QString* e) { return ExportPlot(p, e); });
    });
    return box;
}

QString CFrequencyResponseWindow::FrdComment() const {
    const SweepMeasurementSettings& s = m_outcomeSettings;
    return QStringLiteral("Tavrin frequency response, %1\n"
                          "band %2..%3 Hz, sweep %4 frames at %5 dBFS, %6 average(s)%7\n"
                          "latency %8 samples (%9 ms)%10%11")
        .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
        .arg(s.analysis.lo_hz)
        .arg(s.analysis.hi_hz)
        .arg(s.sweep.frames)
        .arg(s.sweep.level_dbfs)
        .arg(s.averages)
        .arg(s.reference == SweepReference::X2 ? QStringLiteral(", over X2") : QString())
        .arg(m_outcome->latency_samples, 0, 'f', 1)
        .arg(m_outcome->latency_ms, 0, 'f', 3)
        .arg(m_outcome->round_trip ? QStringLiteral(", round trip: from the sweep leaving the "
                                                    "program")
             : m_outcome->relative_latency
                 ? QStringLiteral(", relative: from the capture's start, the output queued "
                                  "before the sweep included")
                 : QStringLiteral(", X1 against X2"))
        .arg(m_outcome->result.gate_lowest_hz > 0
                 ? QStringLiteral("\ngate %1 ms before the peak to %2 ms after it: valid from "
                                  "%3 Hz up")
                       .arg(s.analysis.gate_left_ms)
                       .arg(s.analysis.gate_right_ms)
                       .arg(m_outcome->result.gate_lowest_hz, 0, 'f', 1)
                 : QString());
}

bool CFrequencyResponseWindow::ExportCsv(const QString& path, QString* error) const {
    if (!m_outcome) {
        *error = tr(kNoMeasurement);
        return false;
    }
    return SaveTextFile(path, QString::fromStdString(SweepCsvText(m_outcome->result)), error);
}

bool CFrequencyResponseWindow::ExportFrd(const QString& path, QString* error) const {
    if (!m_outcome) {
        *error = tr(kNoMeasurement);
        return false;
    }
    return SaveTextFile(
        path, QString::fromStdString(SweepFrdText(m_outcome->result, FrdComment().toStdString())),
        error);
}

bool CFrequencyResponseWindow::ExportImpulse(const QString& path, QString* error) const {
    if (!m_outcome) {
        *error = tr(kNoMeasurement);
        return false;
    }
    std::string why;
    if (!WriteFloatWave(QFile::encodeName(path).toStdString(), m_outcome->impulse,
                        int(m_outcomeSettings.sweep.rate_hz), why)) {
        *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

bool CFrequencyResponseWindow::ExportPlot(const QString& path, QString* error) {
    return SaveWidgetPicture(m_charts, path, error);
}

void CFrequencyResponseWindow::SaveWithDialog(
    const QString& title, const QString& name, const QString& filter,
    const std::function<bool(const QString&, QString*)>& save) {
    const QString path = QFileDialog::getSaveFileName(this, title, name, filter);
    QString error;
    if (!path.isEmpty() && !save(path, &error)) {
        QMessageBox::warning(this, windowTitle(), tr("无法保存 %1：%2").arg(path, error));
    }
}

void CFrequencyResponseWindow::KeepOverlay() {
    if (!m_outcome) {
        return;
    }
    const SweepResult& r = m_outcome->result;
    m_overlays.push_back(
        {tr("测量 %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))), r.freq_hz,
         r.mag_db, r.phase_deg, true});
    ShowOverlays();
}

bool CFrequencyResponseWindow::LoadOverlay(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    if (file.size() > kLargestCurveFileBytes) {
        *error = tr("文件过大，不是频率响应曲线");
        return false;
    }
    const QByteArray bytes = file.readAll();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    std::string why;
    FrequencyResponseOverlay overlay;
    overlay.name = QFileInfo(path).fileName();
    // Our own CSV names its columns on the first line; anything else is read as FRD.
    if (text.rfind("freq_hz,mag_db,", 0) == 0) {
        const std::optional<SweepResult> r = ParseSweepCsv(text, why);
        if (r) {
            overlay.freq_hz = r->freq_hz;
            overlay.mag_db = r->mag_db;
            overlay.phase_deg = r->phase_deg;
        }
    } else if (const std::optional<FrdCurve> curve = ParseFrd(text, why)) {
        overlay.freq_hz = curve->freq_hz;
        overlay.mag_db = curve->mag_db;
        overlay.phase_deg = curve->phase_deg;
    }
    if (overlay.freq_hz.empty()) {
        *error = QString::fromStdString(why);
        return false;
    }
    m_overlays.push_back(std::move(overlay));
    ShowOverlays();
    return true;
}

void CFrequencyResponseWindow::ShowOverlays() {
    const QSignalBlocker quiet(m_overlayList); // itemChanged is the user's click only
    m_overlayList->clear();
    for (const FrequencyResponseOverlay& overlay : m_overlays) {
        auto* item = new QListWidgetItem(overlay.name, m_overlayList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(overlay.shown ? Qt::Checked : Qt::Unchecked);
    }
    m_charts->SetOverlays(m_overlays);
}
