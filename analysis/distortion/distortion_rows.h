#pragma once
// The distortion monitor's rows as text: what `tavrin thd` prints and the analyser window
// exports. Columns: time_s, then per channel (x1_, then x2_) f0_hz, level_dbfs, thd_pct, thd_db,
// thdn_pct, thdn_db, sinad_db, snr_db, h2_db .. h10_db; with the two-tone figures, x1_imd_pct,
// x1_imd_db, x2_imd_pct, x2_imd_db after all of those, so the columns without them are the same
// at the same places. A refused figure, a gap's and a harmonic at or above Nyquist are missing
// values. Plain functions; any thread.

#include "analysis/distortion/distortion_monitor.h"
#include "base/row_text.h"

#include <string>
#include <vector>

const std::vector<std::string>& DistortionColumns(bool withImd);
std::string FormatDistortionHeader(RowFormat format, bool withImd, const std::string& device);
// One line, newline included.
std::string FormatDistortionRow(RowFormat format, bool withImd, const DistortionRow& row);

// The two-tone figures order by order, which a line with the IMD figures ends with (after the
// columns above and any its writer adds): x1_imd_d2_pct, x1_imd_d3_pct, x2_imd_d2_pct,
// x2_imd_d3_pct, as RowNumber writes them.
const std::vector<std::string>& ImdOrderColumns();
std::vector<std::string> ImdOrderValues(RowFormat format, const DistortionRow& row);

// Why every figure of the row is empty, in one line ("input lost in the block", or each
// channel's refusal, "X1: ...; X2: ..." when they differ); "" when any figure is there.
std::string DistortionRowRefusal(const DistortionRow& row);
