#pragma once
// The frequency-response window's plots, drawn with Qt Charts on two tabs: magnitude (dB) and
// phase (degrees) over a log frequency axis, with H2..H9 and THD on the magnitude plot when
// asked, and the overlays kept or loaded beside the measurement; then the linear impulse
// response over time in ms, with the gate drawn over it when the response was gated. GUI thread.

#include "analysis/sweep/sweep_measurement.h"

#include <QColor>
#include <QString>
#include <QTabWidget>

#include <array>
#include <vector>

class QChart;
class QChartView;
class QLineSeries;
class QLogValueAxis;
class QValueAxis;

// A curve drawn beside the measurement; one without phase (phase_deg empty) is drawn on the
// magnitude plot only.
struct FrequencyResponseOverlay {
    QString name;
    std::vector<double> freq_hz, mag_db, phase_deg;
    bool shown = true;
};

class CFrequencyResponseCharts : public QTabWidget {
    Q_OBJECT
public:
    explicit CFrequencyResponseCharts(QWidget* parent = nullptr);

    // The measurement to draw over lo_hz..hi_hz, or none. The impulse response is drawn with
    // its peak at the measured latency.
    void ShowOutcome(const SweepOutcome* outcome, double lo_hz, double hi_hz, double rate_hz);
    void ShowHarmonics(bool shown);
    void SetOverlays(const std::vector<FrequencyResponseOverlay>& overlays);

    // What the plots hold now (for tests): the measured magnitude's points, and the series
    // drawn on the magnitude plot (measurement, visible harmonics and overlays).
    QList<QPointF> MagnitudePoints() const;
    // The gate drawn on the impulse plot (time in ms, its weight scaled to the peak); empty
    // when the response was not gated.
    QList<QPointF> GatePoints() const;
    int VisibleMagnitudeCurves() const;

private:
    QChartView* MakeFrequencyChart(QChart* chart, const QString& title, const QString& unit,
                                   QLogValueAxis*& x, QValueAxis*& y);
    QWidget* MakeImpulseChart();
    void AddCurve(QChart* chart, QLineSeries* series, const QColor& colour, qreal width);
    void FitAxes();

    QChart* m_magChart = nullptr;
    QChart* m_phaseChart = nullptr;
    QLogValueAxis* m_magX = nullptr;
    QLogValueAxis* m_phaseX = nullptr;
    QValueAxis* m_magY = nullptr;
    QValueAxis* m_phaseY = nullptr;
    QLineSeries* m_mag = nullptr;
    QLineSeries* m_phase = nullptr;
    std::array<QLineSeries*, kSweepHighestHarmonic> m_harmonics{}; // H2..H9, then THD
    std::vector<QLineSeries*> m_overlaySeries;                     // on both plots
    QChart* m_impulseChart = nullptr;
    QValueAxis* m_impulseX = nullptr;
    QValueAxis* m_impulseY = nullptr;
    QLineSeries* m_impulse = nullptr;
    QLineSeries* m_gate = nullptr;
    bool m_harmonicsShown = false;
};
