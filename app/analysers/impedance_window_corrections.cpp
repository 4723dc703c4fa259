// When the impedance window takes a correction: from the live reading, or over a sweep's
// frequencies; the corrections box keeps and shows what was taken.
#include "app/analysers/impedance_window.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStringList>

void CImpedanceWindow::Calibrate(ImpedanceCalKind kind) {
    if (m_sweeping) {
        return;
    }
    if (m_corrections.OverSweep()) {
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
    SetCalPoint(m_corrections.Stored(), kind, r.freq_hz, r.v1, r.v2, m_rRef->value());
    m_corrections.Save();
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
            CalibrateFromSweep(m_corrections.Stored(), kind, sweep->Points(), m_rRef->value());
        QStringList lines;
        lines << tr("已保存 %n 个校准频点", "", stored.stored);
        for (const ImpedanceSweepPoint& p : stored.refused) {
            lines << tr("%1 Hz 未校准：%2")
                         .arg(p.freq_hz, 0, 'f', 2)
                         .arg(CImpedanceReadout::RefusalText(p.refusal));
        }
        m_speakerLabel->setText(lines.join(QLatin1Char('\n')));
        if (stored.stored > 0) {
            m_corrections.Save();
        }
    }
    if (m_listening) {
        Restart(false);
    }
}

void CImpedanceWindow::ClearCalibration() {
    ImpedanceCorrections& stored = m_corrections.Stored();
    stored.match.Clear();
    stored.open.Clear();
    stored.shorted.Clear();
    m_corrections.Save();
    Restart(false);
}
