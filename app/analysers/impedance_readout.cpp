#include "app/analysers/impedance_readout.h"

#include "analysis/impedance/impedance_readings.h"

#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QString Optional(const std::optional<double>& value, const QString& unit) {
    return value ? CImpedanceReadout::Si(*value, unit) : QStringLiteral("—");
}

} // namespace

QString CImpedanceReadout::Si(double value, const QString& unit, int digits) {
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

QWidget* CImpedanceReadout::Make(QWidget* parent) {
    auto* box = new QGroupBox(tr("读数"), parent);
    auto* layout = new QVBoxLayout(box);
    QFont large = parent->font();
    large.setPointSizeF(large.pointSizeF() * 2.2);
    QFont medium = parent->font();
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
    m_stateLabel = label("state", parent->font());
    m_stateLabel->setWordWrap(true);
    return box;
}

QString CImpedanceReadout::RefusalText(ImpedanceRefusal refusal) {
    static const char* const kRefusals[] = {
        "",
        QT_TR_NOOP("输入削波：请降低电平或声卡的输入增益"),
        QT_TR_NOOP("X1 上没有测试信号：请检查输出与 X1 的接线"),
        QT_TR_NOOP("X2 无信号：请检查参考电阻与 X2 的接线"),
        QT_TR_NOOP("阻抗超出 R_ref/1000 … 1000 R_ref，读数无意义：请选用更接近被测件的参考电阻"),
    };
    return tr(kRefusals[int(refusal)]);
}

void CImpedanceReadout::Show(const ImpedanceLiveReading& reading, bool series) {
    if (reading.refusal != ImpedanceRefusal::None) {
        for (QLabel* l : {m_zLabel, m_thetaLabel, m_valueLabel, m_detailLabel}) {
            l->setText(QStringLiteral("—"));
        }
        m_stateLabel->setText(RefusalText(reading.refusal));
        return;
    }
    const ImpedanceReadings r =
        ReadImpedance(reading.corrected.z_ohm, reading.freq_hz, reading.corrected.z_resolution_ohm);
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
