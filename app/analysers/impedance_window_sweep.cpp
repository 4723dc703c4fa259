// The impedance window's stepped sweep: its controls, the tones played one after another, and
// the curve it leaves with a loudspeaker's resonance and Thiele-Small parameters read from it.
#include "app/analysers/impedance_window.h"

#include "analysis/impedance/loudspeaker.h"
#include "app/analysers/impedance_chart.h"
#include "engine/sound_device.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>

#include <cmath>

QWidget* CImpedanceWindow::MakeSweepControls() {
    auto* box = new QGroupBox(tr("步进扫描"), this);
    m_sweepFrom = new QDoubleSpinBox(box);
    m_sweepTo = new QDoubleSpinBox(box);
    for (QDoubleSpinBox* s : {m_sweepFrom, m_sweepTo}) {
        s->setRange(kLowestHz, kHighestHz);
        s->setDecimals(1);
        s->setSuffix(QStringLiteral(" Hz"));
    }
    m_sweepFrom->setObjectName(QStringLiteral("sweepFrom"));
    m_sweepTo->setObjectName(QStringLiteral("sweepTo"));
    m_sweepFrom->setValue(20);
    m_sweepTo->setValue(20000);
    m_perOctave = new QSpinBox(box);
    m_perOctave->setObjectName(QStringLiteral("perOctave"));
    m_perOctave->setRange(1, 96);
    m_perOctave->setValue(12);
    // A voice coil's DC resistance read with an ohmmeter is better than any fit's: given, the
    // Thiele-Small figures use it.
    m_re = new QDoubleSpinBox(box);
    m_re->setObjectName(QStringLiteral("re"));
    m_re->setRange(0, 1000);
    m_re->setDecimals(3);
    m_re->setSuffix(QStringLiteral(" Ω"));
    m_re->setSpecialValueText(tr("拟合"));
    m_re->setValue(0);
    m_startSweep = new QPushButton(tr("开始扫描"), box);
    m_stopSweep = new QPushButton(tr("停止"), box);
    m_stopSweep->setObjectName(QStringLiteral("stopSweep"));
    m_stopSweep->setEnabled(false);
    m_progressBar = new QProgressBar(box);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    auto* form = new QFormLayout(box);
    form->addRow(tr("起始"), m_sweepFrom);
    form->addRow(tr("终止"), m_sweepTo);
    form->addRow(tr("每倍频程点数"), m_perOctave);
    form->addRow(tr("Re（直流电阻）"), m_re);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {m_startSweep, m_stopSweep}) {
        b->setAutoDefault(false);
        row->addWidget(b);
    }
    form->addRow(row);
    form->addRow(m_progressBar);
    // A resistance typed in after the sweep reads the same curve again.
    connect(m_re, &QDoubleSpinBox::valueChanged, this, [this] {
        if (!m_curve.empty()) {
            ShowFigures();
        }
    });
    connect(m_startSweep, &QPushButton::clicked, this, [this] { StartSweep(); });
    connect(m_stopSweep, &QPushButton::clicked, this, [this] { EndSweep(); });
    return box;
}

void CImpedanceWindow::StartSweep() {
    if (m_listening && !m_sweeping) {
        Restart(true);
    }
}

void CImpedanceWindow::PlayNextTone() {
    const double hz = m_nextToneHz.exchange(0.0);
    if (!m_sweeping || hz <= 0) {
        return;
    }
    m_progressBar->setValue(int(std::lround(m_progress.load() * 1000)));
    Play(hz);
}

void CImpedanceWindow::SweepFinished() {
    if (m_sweeping) {
        EndSweep();
    }
}

void CImpedanceWindow::EndSweep() {
    SetRunTap(false);
    if (m_calibrating) {
        FinishCalibrationSweep(m_run->Sweep());
        return;
    }
    m_curve.clear();
    m_uncalibrated = 0;
    if (const CImpedanceSweep* sweep = m_run->Sweep()) {
        for (const ImpedanceSweepPoint& p : sweep->Points()) {
            if (p.refusal == ImpedanceRefusal::None) {
                m_curve.push_back({p.freq_hz, p.z_ohm, p.corrected.z_resolution_ohm});
                m_uncalibrated += p.corrected.match == CalState::Uncalibrated ||
                                  p.corrected.leads == CalState::Uncalibrated;
            }
        }
    }
    m_chart->Show(m_curve);
    m_progressBar->setValue(1000);
    ShowFigures();
    if (m_listening) {
        Restart(false);
    }
}

void CImpedanceWindow::ShowFigures() {
    QStringList lines;
    if (const std::optional<double> fs = ResonanceHz(m_curve)) {
        std::string why;
        const std::optional<double> re =
            m_re->value() > 0 ? std::optional<double>(m_re->value()) : std::nullopt;
        const auto ts = ThieleSmallFromCurve(m_curve, re, &why);
        if (ts) {
            lines << tr("谐振 f_s = %1 Hz，Re = %2 Ω，Z_max = %3 Ω")
                         .arg(ts->fs_hz, 0, 'f', 2)
                         .arg(ts->re_ohm, 0, 'f', 3)
                         .arg(ts->z_max_ohm, 0, 'f', 2)
                  << tr("Qms = %1，Qes = %2，Qts = %3，Le = %4")
                         .arg(ts->q_ms, 0, 'f', 3)
                         .arg(ts->q_es, 0, 'f', 3)
                         .arg(ts->q_ts, 0, 'f', 3)
                         .arg(CImpedanceReadout::Si(ts->le_h, QStringLiteral("H"), 3));
        } else {
            lines << tr("谐振 f_s = %1 Hz；无 Thiele-Small 参数：%2")
                         .arg(*fs, 0, 'f', 2)
                         .arg(QString::fromStdString(why));
        }
    }
    if (m_uncalibrated > 0) {
        lines << tr("%n 个扫描频率不在校准范围内，未修正", "", m_uncalibrated);
    }
    m_speakerLabel->setText(lines.join(QLatin1Char('\n')));
}
