#pragma once
// The impedance window's plot, drawn with Qt Charts: |Z| in ohms (log axis, left) and its phase
// in degrees (right) over a log frequency axis from 10 Hz to 20 kHz. GUI thread.

#include "analysis/impedance/impedance_readings.h"

#include <QWidget>

#include <vector>

class QChartView;
class QLineSeries;
class QLogValueAxis;

class CImpedanceChart : public QWidget {
    Q_OBJECT
public:
    explicit CImpedanceChart(QWidget* parent = nullptr);

    void Show(const std::vector<ImpedanceCurvePoint>& curve);
    // Points now on the |Z| curve (for tests).
    int PointCount() const;

private:
    QChartView* m_view = nullptr;
    QLineSeries* m_magnitude = nullptr;
    QLineSeries* m_phase = nullptr;
    QLogValueAxis* m_ohms = nullptr;
};
