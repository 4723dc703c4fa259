// The impedance window's readout and its corrections: the live reading in large type, and the
// channel-match, open and short calibrations taken from it (or over a sweep) and kept per card.
#include "app/analysers/impedance_window.h"

#include "analysis/impedance/impedance_readings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString Optional(const std::optional<double>& value, const QString& unit) {
    return value ? CImpedanceWindow::Si(*value, unit) : QStringLiteral("—");
}

} // namespace

QString CImpedanceWindow::Si(double value, const QString& unit, int digits) {
    static const struct {
        double scale;
        const char* prefix;
    } kPrefixes[] = {{1e9, "G"},  {1e6, "M"},  {1e3, "k"},  {1.0, ""},
                     {1e-3, "m"}, {1e-6, "µ"}, {1e-9, "n"}, {1e-12, "p"}};
    const double size = std::abs(value);
    if (size == 0 || !std::isfinite(value)) {
        return QString::number(value) + QStringLiteral(" ") + unit;
    }
    // A value that rounds up to 1 at this prefix takes it: 0.999999e-6 is "1.0000 µF", not
    // "1000.00 nF".
    const double roundsUp = 1.0 - 0.5 * std::pow(10.0, 1 - digits);
    for (const auto& p : kPrefixes) {
        if (size >= p.scale * roundsUp || p.scale == 1e-12) {
            const double scaled = value / p.scale;
            const int whole = int(std::floor(std::log10(std::max(std::abs(scaled), 1.0))));
            return QString::number(scaled, 'f', std::max(0, digits - 1 - whole)) +
                   QStringLiteral(" ") + QString::fromUtf8(p.prefix) + unit;
        }
    }
    return {};
}

QWidget* CImpedanceWindow::MakeReadout() {
    auto* box = new QGroupBox(tr("读数"), this);
    auto* layout = new QVBoxLayout(box);
    QFont large = font();
    large.setPointSizeF(large.pointSizeF() * 2.2);
    QFont medium = font();
    medium.setPointSizeF(medium.pointSizeF() * 1.4);
    const auto label = [&](const char* name, const QFont& f) {
        auto* l = new QLabel(QStringLiteral("—"), box);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(f);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(l);
        return l;
    };
    m_zLabel = label("z", large);
    m_thetaLabel = label("theta", large);
    m_valueLabel = label("value", large);
    m_detailLabel = label("detail", medium);
    m_stateLabel = label("state", font());
    m_stateLabel->setWordWrap(true);
    return box;
}

QWidget* CImpedanceWindow::MakeCalibration() {
    auto* box = new QGroupBox(tr("校准 (本声卡)"), this);
    auto* match = new QPushButton(tr("通道匹配 (被测件短接)"), box);
    match->setObjectName(QStringLiteral("calMatch"));
    auto* open = new QPushButton(tr("开路"), box);
    open->setObjectName(QStringLiteral("calOpen"));
    auto* shorted = new QPushButton(tr("短路"), box);
    shorted->setObjectName(QStringLiteral("calShort"));
    auto* clear = new QPushButton(tr("清除"), box);
    clear->setObjectName(QStringLiteral("calClear"));
    m_calOverSweep = new QCheckBox(tr("按扫描频点"), box);
    m_calOverSweep->setObjectName(QStringLiteral("calOverSweep"));
    m_calOverSweep->setToolTip(tr("以下方步进扫描的频点测量并保存每一点，而非只在当前频率"));
    m_calLabel = new QLabel(box);
    m_calLabel->setObjectName(QStringLiteral("calState"));
    m_calLabel->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {match, open, shorted, clear}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(box);
    layout->addLayout(buttons);
    layout->addWidget(m_calOverSweep);
    layout->addWidget(m_calLabel);
    connect(match, &QPushButton::clicked, this, [this] { Calibrate(ImpedanceCalKind::Match); });
    connect(open, &QPushButton::clicked, this, [this] { Calibrate(ImpedanceCalKind::Open); });
    connect(shorted, &QPushButton::clicked, this, [this] { Calibrate(ImpedanceCalKind::Short); });
    connect(clear, &QPushButton::clicked, this, [this] { ClearCalibration(); });
    return box;
}

QString CImpedanceWindow::RefusalText(ImpedanceRefusal refusal) {
    static const char* const kRefusals[] = {
        "",
        QT_TR_NOOP("输入削波：请降低电平或声卡的输入增益"),
        QT_TR_NOOP("X1 上没有测试信号：请检查输出与 X1 的接线"),
        QT_TR_NOOP("X2 无信号：请检查参考电阻与 X2 的接线"),
        QT_TR_NOOP("阻抗超出 R_ref/1000 … 1000 R_ref，读数无意义：请选用更接近被测件的参考电阻"),
    };
    return tr(kRefusals[int(refusal)]);
}

void CImpedanceWindow::ShowReading(const ImpedanceLiveReading& reading) {
    if (reading.refusal != ImpedanceRefusal::None) {
        for (QLabel* l : {m_zLabel, m_thetaLabel, m_valueLabel, m_detailLabel}) {
            l->setText(QStringLiteral("—"));
        }
        m_stateLabel->setText(RefusalText(reading.refusal));
        return;
    }
    const ImpedanceReadings r = ReadImpedance(reading.corrected.z_ohm, reading.freq_hz);
    const bool series = m_model->currentIndex() == 0;
    m_zLabel->setText(QStringLiteral("|Z| = ") + Si(r.z_ohm, QStringLiteral("Ω")));
    m_thetaLabel->setText(QStringLiteral("θ = %1°").arg(r.theta_deg, 0, 'f', 2));
    switch (r.kind) {
    case ImpedanceKind::R:
        m_valueLabel->setText(QStringLiteral("R = ") +
                              (series ? Si(r.r_s_ohm, QStringLiteral("Ω"))
                                      : Optional(r.r_p_ohm, QStringLiteral("Ω"))));
        break;
    case ImpedanceKind::L:
        m_valueLabel->setText(QStringLiteral("L = ") +
                              Optional(series ? r.l_s_h : r.l_p_h, QStringLiteral("H")));
        break;
    case ImpedanceKind::C:
        m_valueLabel->setText(QStringLiteral("C = ") +
                              Optional(series ? r.c_s_f : r.c_p_f, QStringLiteral("F")));
        break;
    }
    m_detailLabel->setText(QStringLiteral("ESR = %1   Q = %2   D = %3")
                               .arg(Si(r.r_s_ohm, QStringLiteral("Ω")),
                                    r.q ? QString::number(*r.q, 'g', 4) : QStringLiteral("—"),
                                    r.d ? QString::number(*r.d, 'g', 4) : QStringLiteral("—")));
    QStringList state = {tr("正常，%1 Hz").arg(reading.freq_hz, 0, 'f', 2)};
    if (reading.corrected.match == CalState::Uncalibrated ||
        reading.corrected.leads == CalState::Uncalibrated) {
        state << tr("此频率不在校准范围内，未修正");
    }
    m_stateLabel->setText(state.join(QStringLiteral("；")));
}

void CImpedanceWindow::Calibrate(ImpedanceCalKind kind) {
    if (m_sweeping) {
        return;
    }
    if (m_calOverSweep->isChecked()) {
        if (m_listening) {
            m_calibrating = kind;
            m_speakerLabel->setText(tr("校准扫描中…"));
            Restart(true);
        }
        return;
    }
    if (!m_last || !m_last->has_amplitudes) {
        QMessageBox::warning(this, windowTitle(), tr("还没有可用于校准的读数"));
        return;
    }
    const ImpedanceLiveReading& r = *m_last;
    SetCalPoint(m_stored, kind, r.freq_hz, r.v1, r.v2, m_rRef->value());
    SaveCalibration();
    Restart(false);
}

void CImpedanceWindow::FinishCalibrationSweep(const CImpedanceSweep* sweep) {
    const ImpedanceCalKind kind = *m_calibrating;
    m_calibrating.reset();
    m_progressBar->setValue(1000);
    if (sweep == nullptr || !sweep->Finished()) {
        // Half a band stored would leave the rest calibrated from older points or not at all,
        // with nothing to tell the two apart.
        m_speakerLabel->setText(tr("校准扫描已停止，未保存"));
    } else {
        const SweepCalibration stored =
            CalibrateFromSweep(m_stored, kind, sweep->Points(), m_rRef->value());
        QStringList lines;
        lines << tr("已保存 %n 个校准频点", "", stored.stored);
        for (const ImpedanceSweepPoint& p : stored.refused) {
            lines << tr("%1 Hz 未校准：%2").arg(p.freq_hz, 0, 'f', 2).arg(RefusalText(p.refusal));
        }
        m_speakerLabel->setText(lines.join(QLatin1Char('\n')));
        if (stored.stored > 0) {
            SaveCalibration();
        }
    }
    if (m_listening) {
        Restart(false);
    }
}

void CImpedanceWindow::ClearCalibration() {
    m_stored.match.Clear();
    m_stored.open.Clear();
    m_stored.shorted.Clear();
    SaveCalibration();
    Restart(false);
}

void CImpedanceWindow::SaveCalibration() {
    ShowCalibration();
    m_store.Set(m_device, m_stored);
    std::string error;
    if (!m_store.Save(CImpedanceCalibrationStore::DefaultPath(), &error)) {
        QMessageBox::warning(this, windowTitle(),
                             tr("无法保存校准：%1").arg(QString::fromStdString(error)));
    }
}

void CImpedanceWindow::ShowCalibration() {
    const auto points = [](const CImpedanceCalTable& table) {
        if (table.Empty()) {
            return tr("无");
        }
        const std::vector<ImpedanceCalPoint>& p = table.Points();
        return tr("%n 个频点，%1–%2 Hz", "", int(p.size()))
            .arg(p.front().freq_hz, 0, 'f', 2)
            .arg(p.back().freq_hz, 0, 'f', 2);
    };
    m_calLabel->setText(
        tr("通道匹配：%1\n开路：%2；短路：%3")
            .arg(points(m_stored.match), points(m_stored.open), points(m_stored.shorted)));
}
