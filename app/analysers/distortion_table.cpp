#include "app/analysers/distortion_table.h"

#include "analysis/calibration/calibration.h"
#include "base/number_text.h"

#include <QCoreApplication>

#include <optional>

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("CDistortionWindow", text);
}

// The decimals are those of `tavrin thd`'s rows, so the window and the log agree to the digit.
constexpr int kHertzDecimals = 3;
constexpr int kDbDecimals = 2;
constexpr int kPercentDecimals = 4;
constexpr int kVoltsDecimals = 6; // to the microvolt: a millivolt tone still has four figures

QString Cell(const std::optional<double>& value, int decimals) {
    return value ? QString::fromStdString(FixedText(*value, decimals)) : QString();
}

QString RefusalText(const DistortionRow& row, const DistortionReading& reading) {
    if (row.gap) {
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "输入有间断"));
    }
    switch (reading.refusal) {
    case DistortionRefusal::None:
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "正常"));
    case DistortionRefusal::NoSignal:
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "无信号"));
    case DistortionRefusal::Clipped:
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "削波"));
    case DistortionRefusal::Unsteady:
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "电平不稳"));
    case DistortionRefusal::ToneMissing:
        return Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "未收到测试信号"));
    }
    return {};
}

// One quantity of both channels.
template <typename Pick> DistortionTableRow Quantity(const QString& name, int decimals, Pick pick) {
    return {name, Cell(pick(0), decimals), Cell(pick(1), decimals)};
}

QStringList QuantityNames() {
    QStringList names{Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "状态")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "基波频率 (Hz)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "基波电平 (dBFS)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "基波电平 (Vrms)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "THD (%)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "THD (dB)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "THD+N (%)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "THD+N (dB)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "SINAD (dB)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "SNR (dB)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "互调 IMD (%)")),
                      Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "互调 IMD (dB)"))};
    for (int order = kLowestHarmonic; order <= kHighestHarmonic; ++order) {
        names << QStringLiteral("H%1 (dB)").arg(order) << QStringLiteral("H%1 (%)").arg(order);
    }
    // Each order of the two-tone figures, after the rows that were there before them.
    names << Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "互调 d2 (%)"))
          << Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "互调 d3 (%)"));
    return names;
}

QString CsvField(const QString& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n')) {
        return field;
    }
    QString quoted = field;
    quoted.replace('"', QStringLiteral("\"\""));
    return '"' + quoted + '"';
}

} // namespace

QVector<DistortionTableRow> EmptyDistortionTable() {
    QVector<DistortionTableRow> table;
    for (const QString& name : QuantityNames()) {
        table.push_back({name, {}, {}});
    }
    return table;
}

QVector<DistortionTableRow>
DistortionTable(const DistortionRow& row,
                const std::array<std::optional<double>, kChannels>& vrmsAt0Dbfs) {
    const QStringList names = QuantityNames();
    const auto& ch = row.channels;
    const auto& imd = row.imd;
    QVector<DistortionTableRow> table;
    table.push_back({names[0], RefusalText(row, ch[0]), RefusalText(row, ch[1])});
    int name = 1;
    auto add = [&](int decimals, auto pick) {
        table.push_back(Quantity(names[name++], decimals, pick));
    };
    add(kHertzDecimals, [&](int c) { return ch[c].f0_hz; });
    add(kDbDecimals, [&](int c) { return ch[c].level_dbfs; });
    add(kVoltsDecimals, [&](int c) -> std::optional<double> {
        const auto& vrms = vrmsAt0Dbfs[size_t(c)];
        if (!vrms || !ch[c].level_dbfs) {
            return std::nullopt;
        }
        return DbfsToVrms(*ch[c].level_dbfs, *vrms);
    });
    add(kPercentDecimals, [&](int c) { return ch[c].thd_pct; });
    add(kDbDecimals, [&](int c) { return ch[c].thd_db; });
    add(kPercentDecimals, [&](int c) { return ch[c].thdn_pct; });
    add(kDbDecimals, [&](int c) { return ch[c].thdn_db; });
    add(kDbDecimals, [&](int c) { return ch[c].sinad_db; });
    add(kDbDecimals, [&](int c) { return ch[c].snr_db; });
    add(kPercentDecimals,
        [&](int c) { return imd[c] ? imd[c]->imd_pct : std::optional<double>(); });
    add(kDbDecimals, [&](int c) { return imd[c] ? imd[c]->imd_db : std::optional<double>(); });
    for (int h = 0; h < kHarmonicCount; ++h) {
        add(kDbDecimals, [&](int c) { return ch[c].harmonics[h].level_db; });
        add(kPercentDecimals, [&](int c) { return ch[c].harmonics[h].level_pct; });
    }
    add(kPercentDecimals, [&](int c) { return imd[c] ? imd[c]->d2_pct : std::optional<double>(); });
    add(kPercentDecimals, [&](int c) { return imd[c] ? imd[c]->d3_pct : std::optional<double>(); });
    return table;
}

QString DistortionTableCsv(const QVector<DistortionTableRow>& table) {
    QString csv = Tr(QT_TRANSLATE_NOOP("CDistortionWindow", "量")) + QStringLiteral(",X1,X2\n");
    for (const DistortionTableRow& row : table) {
        csv += CsvField(row.quantity) + ',' + CsvField(row.x1) + ',' + CsvField(row.x2) + '\n';
    }
    return csv;
}
