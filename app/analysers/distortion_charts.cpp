#include "app/analysers/distortion_charts.h"

#include "analysis/common/spectrum_points.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr double kLowestHz = 20.0;
constexpr double kHighestHz = 22050.0;
constexpr double kFloorDbfs = -180.0;
// A point per two or three pixels of a full-width plot: narrow harmonics survive (each band
// keeps its loudest bin) and redrawing stays cheap at one block a second or more.
constexpr int kSpectrumBands = 700;
// Bars stand on this floor: Qt's bars grow from zero, so they carry dB above it and the axis
// is labelled in dB relative to the fundamental.
constexpr double kBarFloorDb = -160.0;

const QColor kChannelColours[2] = {QColor(0, 110, 200), QColor(210, 60, 40)};

QString Tr(const char* text) {
    return QCoreApplication::translate("CDistortionWindow", text);
}

} // namespace

CDistortionCharts::CDistortionCharts(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeSpectrumChart(), 3);
    layout->addWidget(MakeHarmonicChart(), 2);
}

QChartView* CDistortionCharts::MakeSpectrumChart() {
    auto* chart = new QChart;
    chart->setTitle(Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "残余频谱 (去除基波)")));
    auto* x = new QLogValueAxis;
    x->setBase(10.0);
    x->setRange(kLowestHz, kHighestHz);
    x->setLabelFormat(QStringLiteral("%g"));
    x->setMinorTickCount(8);
    x->setTitleText(Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "频率 (Hz)")));
    auto* y = new QValueAxis;
    y->setRange(kFloorDbfs, 0);
    y->setTickCount(10);
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTitleText(QStringLiteral("dBFS"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (int c = 0; c < 2; ++c) {
        m_spectrum[c] = new QLineSeries;
        m_spectrum[c]->setName(c == 0 ? QStringLiteral("X1") : QStringLiteral("X2"));
        m_spectrum[c]->setPen(QPen(kChannelColours[c], 1));
        m_marks[c] = new QScatterSeries;
        m_marks[c]->setName(c == 0 ? Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "X1 基波与谐波"))
                                   : Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "X2 基波与谐波")));
        m_marks[c]->setColor(kChannelColours[c]);
        m_marks[c]->setMarkerSize(7);
        for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(m_spectrum[c]),
                                        static_cast<QAbstractSeries*>(m_marks[c])}) {
            chart->addSeries(series);
            series->attachAxis(x);
            series->attachAxis(y);
        }
    }
    auto* view = new QChartView(chart);
    view->setMinimumHeight(260);
    return view;
}

QChartView* CDistortionCharts::MakeHarmonicChart() {
    auto* chart = new QChart;
    chart->setTitle(Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "谐波 (相对基波)")));
    auto* series = new QBarSeries;
    QStringList orders;
    for (int order = kLowestHarmonic; order <= kHighestHarmonic; ++order) {
        orders << QStringLiteral("H%1").arg(order);
    }
    for (int c = 0; c < 2; ++c) {
        m_bars[c] = new QBarSet(c == 0 ? QStringLiteral("X1") : QStringLiteral("X2"));
        m_bars[c]->setColor(kChannelColours[c]);
        for (int h = 0; h < kHarmonicCount; ++h) {
            m_bars[c]->append(0);
        }
        series->append(m_bars[c]);
    }
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(orders);
    auto* y = new QCategoryAxis;
    y->setRange(0, -kBarFloorDb);
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int db = static_cast<int>(kBarFloorDb); db <= 0; db += 20) {
        y->append(QStringLiteral("%1 dB").arg(db), db - kBarFloorDb);
    }
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    auto* view = new QChartView(chart);
    view->setMinimumHeight(180);
    return view;
}

void CDistortionCharts::Show(const DistortionRow& row) {
    for (int c = 0; c < 2; ++c) {
        const DistortionReading& reading = row.channels[c];
        QList<QPointF> line;
        for (const SpectrumPoint& point : PeakPerLogBand(row.residual_dbfs[c], row.bin_hz,
                                                         kLowestHz, kHighestHz, kSpectrumBands)) {
            line.append({point.freq_hz, std::max(point.level_db, kFloorDbfs)});
        }
        m_spectrum[c]->replace(line);

        QList<QPointF> marks;
        if (reading.f0_hz && reading.level_dbfs) {
            marks.append({*reading.f0_hz, *reading.level_dbfs});
        }
        for (int h = 0; h < kHarmonicCount; ++h) {
            const HarmonicReading& harmonic = reading.harmonics[h];
            const double bar = harmonic.level_db ? *harmonic.level_db - kBarFloorDb : 0.0;
            m_bars[c]->replace(h, std::max(bar, 0.0));
            if (harmonic.level_db && reading.level_dbfs) {
                marks.append({harmonic.freq_hz,
                              std::max(*reading.level_dbfs + *harmonic.level_db, kFloorDbfs)});
            }
        }
        m_marks[c]->replace(marks);
    }
}

int CDistortionCharts::SpectrumPointCount(int channel) const {
    return static_cast<int>(m_spectrum[channel]->count());
}
