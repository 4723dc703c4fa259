#include "app/analysers/impedance_chart.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLowestHz = 10.0;
constexpr double kHighestHz = 20000.0;
constexpr double kDegPerRad = 57.29577951308232;

QString Tr(const char* text) {
    return QCoreApplication::translate("CImpedanceWindow", text);
}

// Whole decades round the curve, so the log axis's labels fall on 1, 10, 100...
std::pair<double, double> DecadesAround(double lo, double hi) {
    return {std::pow(10.0, std::floor(std::log10(lo))), std::pow(10.0, std::ceil(std::log10(hi)))};
}

} // namespace

CImpedanceChart::CImpedanceChart(QWidget* parent) : QWidget(parent) {
    auto* chart = new QChart;
    chart->setTitle(Tr(QT_TRANSLATE_NOOP("CImpedanceWindow", "阻抗与相位")));
    auto* x = new QLogValueAxis;
    x->setBase(10.0);
    x->setRange(kLowestHz, kHighestHz);
    x->setLabelFormat(QStringLiteral("%g"));
    x->setMinorTickCount(8);
    x->setTitleText(Tr(QT_TRANSLATE_NOOP("CImpedanceWindow", "频率 (Hz)")));
    m_ohms = new QLogValueAxis;
    m_ohms->setBase(10.0);
    m_ohms->setRange(1, 1000);
    m_ohms->setLabelFormat(QStringLiteral("%g"));
    m_ohms->setTitleText(QStringLiteral("|Z| (Ω)"));
    auto* degrees = new QValueAxis;
    degrees->setRange(-90, 90);
    degrees->setTickCount(7);
    degrees->setLabelFormat(QStringLiteral("%d"));
    degrees->setTitleText(Tr(QT_TRANSLATE_NOOP("CImpedanceWindow", "相位 (°)")));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(m_ohms, Qt::AlignLeft);
    chart->addAxis(degrees, Qt::AlignRight);
    m_magnitude = new QLineSeries;
    m_magnitude->setName(QStringLiteral("|Z|"));
    m_magnitude->setPen(QPen(QColor(0, 110, 200), 2));
    m_phase = new QLineSeries;
    m_phase->setName(QStringLiteral("θ"));
    m_phase->setPen(QPen(QColor(210, 60, 40), 1.5));
    chart->addSeries(m_magnitude);
    chart->addSeries(m_phase);
    m_magnitude->attachAxis(x);
    m_magnitude->attachAxis(m_ohms);
    m_phase->attachAxis(x);
    m_phase->attachAxis(degrees);
    m_view = new QChartView(chart);
    m_view->setMinimumSize(520, 360);
    m_view->setRenderHint(QPainter::Antialiasing);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

void CImpedanceChart::Show(const std::vector<ImpedanceCurvePoint>& curve) {
    QList<QPointF> magnitude;
    QList<QPointF> phase;
    double lo = 1e300;
    double hi = 0;
    for (const ImpedanceCurvePoint& p : curve) {
        const double ohms = std::abs(p.z_ohm);
        if (!(ohms > 0)) {
            continue; // nothing a log axis can place
        }
        magnitude.append({p.freq_hz, ohms});
        phase.append({p.freq_hz, std::arg(p.z_ohm) * kDegPerRad});
        lo = std::min(lo, ohms);
        hi = std::max(hi, ohms);
    }
    if (!magnitude.isEmpty()) {
        const auto [bottom, top] = DecadesAround(lo, hi * 1.0001);
        m_ohms->setRange(bottom, std::max(top, bottom * 10));
    }
    m_magnitude->replace(magnitude);
    m_phase->replace(phase);
}

int CImpedanceChart::PointCount() const {
    return int(m_magnitude->count());
}
