#include "app/analysers/frequency_response_charts.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace {

constexpr double kDefaultLoHz = 20.0;
constexpr double kDefaultHiHz = 20000.0;
// The impulse response can be a million samples: drawn as the lowest and highest sample of each
// of this many stretches, which keeps every spike visible and the redraw cheap.
constexpr int kImpulseStretches = 1500;

const QColor kMeasurementColour(0, 90, 190);
// H2..H9, then THD.
const QColor kHarmonicColours[kSweepHighestHarmonic] = {
    QColor(220, 110, 0),   QColor(30, 150, 60), QColor(150, 60, 190),
    QColor(120, 120, 120), QColor(0, 160, 170), QColor(170, 140, 0),
    QColor(230, 100, 150), QColor(90, 90, 200), QColor(200, 30, 30)};
const QColor kGateColour(200, 30, 30);
const QColor kOverlayColours[] = {QColor(120, 170, 230), QColor(230, 140, 60), QColor(90, 180, 120),
                                  QColor(200, 100, 180), QColor(150, 150, 60)};

QString Tr(const char* text) {
    return QCoreApplication::translate("CFrequencyResponseWindow", text);
}

QList<QPointF> Points(const std::vector<double>& x, const std::vector<double>& y) {
    QList<QPointF> points;
    points.reserve(qsizetype(std::min(x.size(), y.size())));
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        // A break in the line where a value is missing would need a series per stretch; a
        // missing harmonic is simply not drawn there.
        if (std::isfinite(x[i]) && std::isfinite(y[i]) && x[i] > 0) {
            points.append({x[i], y[i]});
        }
    }
    return points;
}

// At least `least` wide around what is drawn (`fallback` when nothing is), rounded outward to a
// step that gives at most `intervals` of them, with a tick on every step. Fewer ticks on a short
// plot: Qt Charts elides labels that would touch.
void FitRange(QValueAxis* axis, double lo, double hi, double least, int intervals,
              std::pair<double, double> fallback) {
    if (!(lo <= hi)) {
        std::tie(lo, hi) = fallback;
    }
    if (hi - lo < least) {
        const double middle = (lo + hi) / 2;
        lo = middle - least / 2;
        hi = middle + least / 2;
    }
    constexpr double kSteps[] = {1, 2, 5, 10, 15, 20, 30, 45, 50, 90, 100, 180, 360, 720, 1000};
    double low = lo, high = hi, step = 1;
    for (const double candidate : kSteps) {
        step = candidate;
        // A hair's tolerance, so that -45.000001 is not taken a whole step further out.
        low = std::floor(lo / step + 1e-6) * step;
        high = std::ceil(hi / step - 1e-6) * step;
        if (high - low <= intervals * step) {
            break;
        }
    }
    axis->setRange(low, high);
    axis->setTickCount(int(std::lround((high - low) / step)) + 1);
}

} // namespace

CFrequencyResponseCharts::CFrequencyResponseCharts(QWidget* parent) : QTabWidget(parent) {
    auto* response = new QWidget(this);
    auto* layout = new QVBoxLayout(response);
    layout->setContentsMargins(0, 0, 0, 0);
    m_magChart = new QChart;
    m_phaseChart = new QChart;
    layout->addWidget(MakeFrequencyChart(m_magChart,
                                         Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "幅度")),
                                         QStringLiteral("dB"), m_magX, m_magY),
                      3);
    layout->addWidget(MakeFrequencyChart(m_phaseChart,
                                         Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "相位")),
                                         Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "度")),
                                         m_phaseX, m_phaseY),
                      2);
    m_mag = new QLineSeries;
    m_mag->setName(Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "幅度")));
    AddCurve(m_magChart, m_mag, kMeasurementColour, 2);
    for (int h = 0; h < kSweepHighestHarmonic; ++h) {
        m_harmonics[size_t(h)] = new QLineSeries;
        m_harmonics[size_t(h)]->setName(h + 2 <= kSweepHighestHarmonic
                                            ? QStringLiteral("H%1").arg(h + 2)
                                            : QStringLiteral("THD"));
        AddCurve(m_magChart, m_harmonics[size_t(h)], kHarmonicColours[h], 1);
        m_harmonics[size_t(h)]->setVisible(false);
    }
    m_phase = new QLineSeries;
    m_phase->setName(Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "相位")));
    AddCurve(m_phaseChart, m_phase, kMeasurementColour, 2);
    addTab(response, Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "频率响应")));
    addTab(MakeImpulseChart(), Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "脉冲响应")));
    FitAxes();
}

QChartView* CFrequencyResponseCharts::MakeFrequencyChart(QChart* chart, const QString& title,
                                                         const QString& unit, QLogValueAxis*& x,
                                                         QValueAxis*& y) {
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->show();
    x = new QLogValueAxis;
    x->setBase(10.0);
    x->setRange(kDefaultLoHz, kDefaultHiHz);
    x->setLabelFormat(QStringLiteral("%g"));
    x->setMinorTickCount(8);
    x->setTitleText(Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "频率 (Hz)")));
    y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%g"));
    y->setTitleText(unit);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto* view = new QChartView(chart);
    view->setMinimumHeight(200);
    return view;
}

QWidget* CFrequencyResponseCharts::MakeImpulseChart() {
    m_impulseChart = new QChart;
    m_impulseChart->setTitle(Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "脉冲响应")));
    m_impulseChart->legend()->hide();
    m_impulseX = new QValueAxis;
    m_impulseX->setTitleText(Tr(QT_TRANSLATE_NOOP("CFrequencyResponseWindow", "时间 (ms)")));
    m_impulseX->setLabelFormat(QStringLiteral("%g"));
    m_impulseY = new QValueAxis;
    m_impulseY->setLabelFormat(QStringLiteral("%g"));
    m_impulseChart->addAxis(m_impulseX, Qt::AlignBottom);
    m_impulseChart->addAxis(m_impulseY, Qt::AlignLeft);
    m_impulse = new QLineSeries;
    m_impulseChart->addSeries(m_impulse);
    m_impulse->attachAxis(m_impulseX);
    m_impulse->attachAxis(m_impulseY);
    m_impulse->setPen(QPen(kMeasurementColour, 1));
    m_gate = new QLineSeries;
    m_impulseChart->addSeries(m_gate);
    m_gate->attachAxis(m_impulseX);
    m_gate->attachAxis(m_impulseY);
    m_gate->setPen(QPen(kGateColour, 1, Qt::DashLine));
    return new QChartView(m_impulseChart);
}

void CFrequencyResponseCharts::AddCurve(QChart* chart, QLineSeries* series, const QColor& colour,
                                        qreal width) {
    series->setPen(QPen(colour, width));
    chart->addSeries(series);
    const QList<QAbstractAxis*> axes = chart->axes();
    for (QAbstractAxis* axis : axes) {
        series->attachAxis(axis);
    }
}

void CFrequencyResponseCharts::ShowOutcome(const SweepOutcome* outcome, double lo_hz, double hi_hz,
                                           double rate_hz) {
    const SweepResult empty;
    const SweepResult& r = outcome != nullptr ? outcome->result : empty;
    m_mag->replace(Points(r.freq_hz, r.mag_db));
    m_phase->replace(Points(r.freq_hz, r.phase_deg));
    // THD over every harmonic read, H2..H9.
    for (int h = 0; h < kSweepHighestHarmonic; ++h) {
        m_harmonics[size_t(h)]->replace(
            Points(r.freq_hz, h + 2 <= kSweepHighestHarmonic ? HarmonicDb(r, h + 2) : r.thd9_db));
    }
    for (QLogValueAxis* x : {m_magX, m_phaseX}) {
        x->setRange(outcome != nullptr ? lo_hz : kDefaultLoHz,
                    outcome != nullptr ? hi_hz : kDefaultHiHz);
    }

    QList<QPointF> impulse;
    const std::vector<float> none;
    const std::vector<float>& samples = outcome != nullptr ? outcome->impulse : none;
    const int peak = outcome != nullptr ? outcome->impulse_peak : 0;
    const double latencyMs = outcome != nullptr ? outcome->latency_ms : 0.0;
    const size_t stretch = std::max<size_t>(1, samples.size() / kImpulseStretches);
    for (size_t begin = 0; begin < samples.size(); begin += stretch) {
        const size_t end = std::min(samples.size(), begin + stretch);
        const auto [lo, hi] = std::minmax_element(samples.begin() + ptrdiff_t(begin),
                                                  samples.begin() + ptrdiff_t(end));
        for (auto at : {lo < hi ? lo : hi, lo < hi ? hi : lo}) { // in time order
            const double ms = latencyMs + 1e3 * (double(at - samples.begin()) - peak) / rate_hz;
            impulse.append({ms, double(*at)});
            if (stretch == 1) {
                break;
            }
        }
    }
    m_impulse->replace(impulse);
    // The gate over the response, its weight scaled to the peak, when the response was gated.
    QList<QPointF> gate;
    if (outcome != nullptr && outcome->result.gate_lowest_hz > 0 && !samples.empty()) {
        const SweepResult& g = outcome->result;
        const double height = std::fabs(samples[size_t(peak)]);
        const int left = peak - g.gate_first;
        const int right = g.gate_last - peak;
        const int step = std::max(1, (left + right) / kImpulseStretches);
        const auto at = [&](int i) {
            return QPointF(latencyMs + 1e3 * i / rate_hz, height * GateWeight(i, left, right));
        };
        gate.append(at(-left));
        for (int i = -left; i <= right; i += step) {
            gate.append(at(i));
        }
        gate.append(at(right));
    }
    m_gate->replace(gate);
    if (!impulse.isEmpty()) {
        m_impulseX->setRange(impulse.front().x(), impulse.back().x());
        m_impulseX->applyNiceNumbers();
    }
    FitAxes();
}

void CFrequencyResponseCharts::ShowHarmonics(bool shown) {
    m_harmonicsShown = shown;
    for (QLineSeries* series : m_harmonics) {
        series->setVisible(shown);
    }
    FitAxes();
}

void CFrequencyResponseCharts::SetOverlays(const std::vector<FrequencyResponseOverlay>& overlays) {
    for (QLineSeries* series : m_overlaySeries) {
        series->chart()->removeSeries(series);
        delete series;
    }
    m_overlaySeries.clear();
    for (size_t i = 0; i < overlays.size(); ++i) {
        const FrequencyResponseOverlay& overlay = overlays[i];
        if (!overlay.shown) {
            continue;
        }
        const QColor colour = kOverlayColours[i % std::size(kOverlayColours)];
        auto* mag = new QLineSeries;
        mag->setName(overlay.name);
        mag->replace(Points(overlay.freq_hz, overlay.mag_db));
        AddCurve(m_magChart, mag, colour, 1.5);
        m_overlaySeries.push_back(mag);
        if (!overlay.phase_deg.empty()) {
            auto* phase = new QLineSeries;
            phase->setName(overlay.name);
            phase->replace(Points(overlay.freq_hz, overlay.phase_deg));
            AddCurve(m_phaseChart, phase, colour, 1.5);
            m_overlaySeries.push_back(phase);
        }
    }
    FitAxes();
}

void CFrequencyResponseCharts::FitAxes() {
    const auto span = [](QChart* chart, const QLogValueAxis* x) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (QAbstractSeries* series : chart->series()) {
            if (!series->isVisible()) {
                continue;
            }
            for (const QPointF& p : static_cast<QLineSeries*>(series)->points()) {
                if (p.x() >= x->min() && p.x() <= x->max()) {
                    lo = std::min(lo, p.y());
                    hi = std::max(hi, p.y());
                }
            }
        }
        return std::make_pair(lo, hi);
    };
    const auto [magLo, magHi] = span(m_magChart, m_magX);
    FitRange(m_magY, magLo, magHi, 20.0, 8, {-40.0, 10.0});
    const auto [phaseLo, phaseHi] = span(m_phaseChart, m_phaseX);
    FitRange(m_phaseY, phaseLo, phaseHi, 90.0, 4, {-180.0, 180.0});
    double impulseLo = 0, impulseHi = 0;
    for (const QPointF& p : m_impulse->points()) {
        impulseLo = std::min(impulseLo, p.y());
        impulseHi = std::max(impulseHi, p.y());
    }
    const double pad = std::max(0.05, 0.1 * (impulseHi - impulseLo));
    m_impulseY->setRange(impulseLo - pad, impulseHi + pad);
    m_impulseY->applyNiceNumbers();
}

QList<QPointF> CFrequencyResponseCharts::GatePoints() const {
    return m_gate->points();
}

QList<QPointF> CFrequencyResponseCharts::MagnitudePoints() const {
    return m_mag->points();
}

int CFrequencyResponseCharts::VisibleMagnitudeCurves() const {
    int count = 0;
    for (QAbstractSeries* series : m_magChart->series()) {
        count += series->isVisible() && static_cast<QLineSeries*>(series)->count() > 0 ? 1 : 0;
    }
    return count;
}
