// The status line under the panel, fed by the capture worker on the simulated card.
#include "app/status_line.h"
#include "tests/app/panel_fixture.h"

#include <QRegularExpression>

namespace {

TEST_F(PanelTest, StatusLineShowsTheGeneratorsToneToHundredthsAndADashForTheSilentChannel) {
    Button(ctl::kSourceSwitch)->click();
    m_prompts.frequency = 1000u;
    Button(ctl::kFreqL)->click(); // R stays at 0 Hz: silence
    RunBuffers(6);

    const QString text = Panel().StatusLine()->Text();
    const QRegularExpressionMatch x1 =
        QRegularExpression(QStringLiteral("^X1 ([0-9.]+) Hz  RMS ([-0-9.]+)  peak ([-0-9.]+) dBFS"))
            .match(text);
    ASSERT_TRUE(x1.hasMatch()) << text.toStdString();
    EXPECT_NEAR(x1.captured(1).toDouble(), 1000.0, 0.05) << text.toStdString();
    // The generator's full-scale sine: 0 dBFS on the AES17 scale, both RMS and peak.
    EXPECT_NEAR(x1.captured(2).toDouble(), 0.0, 0.05) << text.toStdString();
    EXPECT_NEAR(x1.captured(3).toDouble(), 0.0, 0.05) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("-0.00"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("| X2 —  RMS —  peak — dBFS |")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("| xruns 0 | capture: sim"))) << text.toStdString();
}

} // namespace
