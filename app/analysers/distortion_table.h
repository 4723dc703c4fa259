#pragma once
// The distortion window's live table as plain text: one row a quantity, a column per input
// channel. The window shows these cells and exports the same cells as CSV, so what is copied or
// saved is what is on the screen. GUI thread (the labels are translated).

#include "analysis/distortion/distortion_monitor.h"
#include "base/pcm_format.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

struct DistortionTableRow {
    QString quantity; // with its unit: "THD+N (dB)"
    QString x1;
    QString x2;
};

// The quantities in the order the table shows them; every cell empty.
QVector<DistortionTableRow> EmptyDistortionTable();
// The table for one block's row: a value that does not exist is an empty cell. vrmsAt0Dbfs:
// each input channel's calibration, if it has one; the fundamental's volts stay empty without.
QVector<DistortionTableRow>
DistortionTable(const DistortionRow& row,
                const std::array<std::optional<double>, kChannels>& vrmsAt0Dbfs = {});
// "quantity,X1,X2" and one line a row; a field holding a comma or quote is quoted.
QString DistortionTableCsv(const QVector<DistortionTableRow>& table);
