#pragma once
// The distortion window's two plots, drawn with Qt Charts: the residual spectrum (everything but
// the fundamental, dBFS over a log frequency axis, 20 Hz to 22.05 kHz) with the fundamental and
// harmonics marked, and a bar chart of H2..H10 relative to the fundamental. GUI thread.

#include "analysis/distortion/distortion_monitor.h"

#include <QWidget>

#include <array>

class QBarSet;
class QChartView;
class QLineSeries;
class QScatterSeries;

class CDistortionCharts : public QWidget {
    Q_OBJECT
public:
    explicit CDistortionCharts(QWidget* parent = nullptr);

    void Show(const DistortionRow& row);
    // Points now on the spectrum of channel 0 or 1 (for tests).
    int SpectrumPointCount(int channel) const;

private:
    QChartView* MakeSpectrumChart();
    QChartView* MakeHarmonicChart();

    std::array<QLineSeries*, 2> m_spectrum{};
    std::array<QScatterSeries*, 2> m_marks{};
    std::array<QBarSet*, 2> m_bars{};
};
