// Volts on the simulated card: the calibration dialog takes a voltmeter's reading of the live
// input, the status line and the distortion table then read in volts for that device only, and
// the file it writes is what the next start reads.
#include "app/analysers/distortion_window.h"
#include "app/analysers/impedance_window.h"
#include "app/calibration_dlg.h"
#include "app/status_line.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include <cmath>

namespace {

ChannelSignal Sine(double hertz, double amplitude) {
    return [=](int64_t frame) {
        return int16_t(std::lround(amplitude * std::sin(2 * M_PI * hertz * double(frame) / 44100)));
    };
}

// "X1 ... dBFS" with nothing after it: the strip as it reads uncalibrated.
const QRegularExpression kPlainStrip(
    QStringLiteral("^X1 [^|]* dBFS \\| X2 [^|]* dBFS \\| xruns [0-9]+ \\| capture: sim$"));

class CalibrationTest : public PanelTest {
protected:
    void Trigger(const char* item) {
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8(item)) {
                action->trigger();
            }
        }
    }
    CCalibrationDlg* OpenDialog() {
        Trigger("校准…");
        return Panel().findChild<CCalibrationDlg*>();
    }
    template <typename T> static T* Child(QObject* parent, const char* name) {
        return parent->findChild<T*>(QString::fromLatin1(name));
    }
    QString CalibrationFile() const {
        return m_dir.filePath(QStringLiteral("tavrin/calibration.json"));
    }
    void WriteCalibrationFile(const QByteArray& text) {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("tavrin")));
        QFile file(CalibrationFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QString Strip() { return Panel().StatusLine()->Text(); }

    // X1 calibrated to 1.000 Vrms while it carries a -6.02 dBFS sine: 2 V at 0 dBFS.
    void CalibrateX1() {
        Bench().SetInputSignal(0, Sine(1000, 16384));
        CCalibrationDlg* dialog = OpenDialog();
        ASSERT_NE(dialog, nullptr);
        RunBuffers(8);
        EXPECT_EQ(Child<QLabel>(dialog, "inStored")->text(), QString::fromUtf8("未校准"));
        EXPECT_EQ(Child<QLabel>(dialog, "inLevel")->text(), QStringLiteral("-6.02 dBFS"));
        Child<QDoubleSpinBox>(dialog, "inVolts")->setValue(1.0);
        Child<QPushButton>(dialog, "inSet")->click();
        const QString stored = Child<QLabel>(dialog, "inStored")->text();
        ASSERT_TRUE(stored.startsWith(QStringLiteral("0 dBFS = "))) << stored.toStdString();
        // Eight buffers' mean: within 0.003 dB of the tone's true level.
        EXPECT_NEAR(stored.section(' ', 3, 3).toDouble(), 2.0, 7e-4) << stored.toStdString();
        EXPECT_TRUE(stored.endsWith(QString::fromUtf8("于 44.1 kHz/16 位 测得)")))
            << stored.toStdString();
    }
};

TEST_F(CalibrationTest, X1CalibratedAtMinus6ReadsHalfAVoltAtMinus12AndX2StaysInDbfs) {
    ASSERT_NO_FATAL_FAILURE(CalibrateX1());
    EXPECT_EQ(m_alerts.Count(), 0u);
    ASSERT_TRUE(QFile::exists(CalibrationFile()));

    Bench().SetInputSignal(0, Sine(1000, 8192)); // -12.04 dBFS
    RunBuffers(3);
    const QString text = Strip();
    const QRegularExpressionMatch x1 =
        QRegularExpression(QStringLiteral("^X1 [0-9.]+ Hz  RMS (-[0-9.]+)  peak [-0-9.]+ dBFS  "
                                          "([0-9.]+) Vrms  ([0-9.]+) Vpp  ([0-9.]+) mV/div \\| "))
            .match(text);
    ASSERT_TRUE(x1.hasMatch()) << text.toStdString();
    // One buffer holds 92.9 cycles: its RMS wanders a hundredth of a dB about -12.04.
    EXPECT_NEAR(x1.captured(1).toDouble(), -12.04, 0.015) << text.toStdString();
    EXPECT_EQ(x1.captured(2), QStringLiteral("0.500")) << text.toStdString();
    EXPECT_NEAR(x1.captured(3).toDouble(), 1.414, 0.0015);
    // Start-up scale: 38 pixels a row, one pixel a sample unit: 38 x sqrt 2 x 2 V / 32768.
    EXPECT_NEAR(x1.captured(4).toDouble(), 3.28, 0.006);
    EXPECT_FALSE(text.section(QStringLiteral(" | "), 1, 1).contains(QStringLiteral(" V")))
        << "X2 has no calibration: " << text.toStdString();
    // The strip takes a second row for the longer texts, and the window grows by it.
    EXPECT_EQ(Panel().StatusLine()->height(), 2 * kStatusLineHeightPx);
    EXPECT_EQ(Panel().height(), Panel().StatusLine()->geometry().bottom() + 1);

    // A gain button's divisor of 4 spreads a division over four times the volts.
    Panel().State().m_gainDivX1 = 4;
    RunBuffers(2);
    const QRegularExpressionMatch scale =
        QRegularExpression(QStringLiteral("  ([0-9.]+) mV/div \\| X2")).match(Strip());
    ASSERT_TRUE(scale.hasMatch()) << Strip().toStdString();
    EXPECT_NEAR(scale.captured(1).toDouble(), 13.12, 0.015);

    // The file is what the next start reads.
    RestartPanel();
    Bench().SetInputSignal(0, Sine(1000, 8192));
    RunBuffers(3);
    EXPECT_TRUE(Strip().contains(QStringLiteral("  0.500 Vrms  "))) << Strip().toStdString();
    EXPECT_EQ(m_alerts.Count(), 0u);
}

// An entry taken by a command at the card's own format says so beside its value.
TEST_F(CalibrationTest, AnEntryTakenAtAnotherFormatSaysWhichBesideItsValue) {
    WriteCalibrationFile(R"({"version": 1, "entries": [{"device": "sim", "side": "input",
        "channel": 0, "vrms_at_0dbfs": 1.5, "set_on": "2026-12-01", "rate_hz": 96000,
        "sample_format": "s24"}]})");
    RestartPanel();
    ASSERT_EQ(m_alerts.Count(), 0u);
    CCalibrationDlg* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(
        Child<QLabel>(dialog, "inStored")->text(),
        QString::fromUtf8("0 dBFS = 1.5000 V 有效值 (2026-12-01 设置，于 96 kHz/24 位 测得)"));
}

TEST_F(CalibrationTest, ADeviceWithoutAnEntryShowsNoVolts) {
    ASSERT_NO_FATAL_FAILURE(CalibrateX1());
    RunBuffers(1);
    ASSERT_TRUE(Strip().contains(QStringLiteral("Vrms"))) << Strip().toStdString();
    // The figures of "sim" do not apply to another capture device.
    m_prompts.devices = DeviceNames{"sim:dut", "sim"};
    Panel().OnSoundCard();
    RunBuffers(3);
    QString strip = Strip();
    ASSERT_TRUE(strip.endsWith(QStringLiteral("capture: sim:dut"))) << strip.toStdString();
    strip.replace(QStringLiteral("sim:dut"), QStringLiteral("sim"));
    EXPECT_TRUE(kPlainStrip.match(strip).hasMatch()) << strip.toStdString();
    EXPECT_EQ(Panel().StatusLine()->height(), kStatusLineHeightPx) << "one row again";
    // The open dialog follows the change of card.
    auto* dialog = Panel().findChild<CCalibrationDlg*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Child<QLabel>(dialog, "inStored")->text(), QString::fromUtf8("未校准"));
    EXPECT_EQ(Panel().height(), Panel().StatusLine()->geometry().bottom() + 1);
}

TEST_F(CalibrationTest, ADamagedFileIsSaidOnceAndLeavesTheProgramUncalibrated) {
    WriteCalibrationFile("{\"entries\": [ {\"device\": \"sim\", ");
    RestartPanel();
    EXPECT_EQ(m_alerts.Count(), 1u);
    Bench().SetInputSignal(0, Sine(1000, 8192));
    RunBuffers(4);
    EXPECT_TRUE(kPlainStrip.match(Strip()).hasMatch()) << Strip().toStdString();
    EXPECT_EQ(Panel().StatusLine()->height(), kStatusLineHeightPx);
    EXPECT_EQ(m_alerts.Count(), 1u) << "said once, not at every reading";
}

// A buffer holds 4.6 cycles of 50 Hz: its RMS alone is off by up to a few tenths of a dB with
// the phase it starts at, the mean of several is not.
TEST_F(CalibrationTest, ALowToneCalibratesFromTheMeanOfSeveralReadings) {
    Bench().SetInputSignal(0, Sine(50, 16384));
    CCalibrationDlg* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    for (int i = 0; i < 8; ++i) {
        RunBuffers(1);
    }
    Child<QDoubleSpinBox>(dialog, "inVolts")->setValue(1.0);
    ASSERT_TRUE(dialog->SetInput());
    const auto entry = Panel().Calibration().Find("sim", CalibrationSide::Input, 0);
    ASSERT_TRUE(entry);
    EXPECT_NEAR(entry->vrms_at_0dbfs, 2.0, 0.004);
}

TEST_F(CalibrationTest, AReadingThatCannotCalibrateIsRefusedAndNothingIsWritten) {
    Bench().SetInputSignal(0, Sine(1000, 16384));
    RunBuffers(2);
    CCalibrationDlg* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    Child<QDoubleSpinBox>(dialog, "inVolts")->setValue(0.0);
    EXPECT_FALSE(dialog->SetInput());
    EXPECT_EQ(m_alerts.Count(), 1u);
    EXPECT_FALSE(QFile::exists(CalibrationFile()));
    EXPECT_TRUE(Panel().Calibration().Entries().empty());
}

TEST_F(CalibrationTest, OutputTonePlaysAtItsLevelStoresVoltsAtFullScaleAndStopsOnClose) {
    CCalibrationDlg* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Child<QDoubleSpinBox>(dialog, "outLevel")->value(), -6.0);
    Child<QComboBox>(dialog, "outChannel")->setCurrentIndex(1); // R
    Child<QPushButton>(dialog, "play")->click();
    ASSERT_TRUE(Panel().TestSignalOn());
    // The tone comes back through the card's cable at the level it was played at.
    RunBuffers(4);
    EXPECT_NEAR(Panel().StatusLine()->LastRmsDbfs(1), -6.0, 0.02);

    Child<QDoubleSpinBox>(dialog, "outVolts")->setValue(0.5);
    Child<QPushButton>(dialog, "outSet")->click();
    const auto entry =
        Panel().Calibration().Find(WaveDeviceName(WaveDirection::Out), CalibrationSide::Output, 1);
    ASSERT_TRUE(entry);
    EXPECT_NEAR(entry->vrms_at_0dbfs, 0.5 / std::pow(10.0, -6.0 / 20), 1e-9);
    EXPECT_FALSE(
        Panel().Calibration().Find(WaveDeviceName(WaveDirection::Out), CalibrationSide::Output, 0));
    EXPECT_EQ(Child<QLabel>(dialog, "outStored")->text().left(17),
              QString::fromUtf8("0 dBFS = 0.9976 V"));
    // An output calibration is no input one: the strip stays in dBFS.
    EXPECT_FALSE(Strip().contains(QStringLiteral("Vrms"))) << Strip().toStdString();

    dialog->close();
    EXPECT_FALSE(Panel().TestSignalOn());
}

TEST_F(CalibrationTest, DistortionTableShowsTheFundamentalInVoltsForTheCalibratedChannel) {
    ASSERT_NO_FATAL_FAILURE(CalibrateX1());
    Bench().SetInputSignal(0, nullptr);
    Trigger("失真与噪声…");
    auto* window = Panel().findChild<CDistortionWindow*>();
    ASSERT_NE(window, nullptr);
    Child<QComboBox>(window, "blockSize")->setCurrentIndex(0); // 8192
    Child<QCheckBox>(window, "play")->setChecked(true);        // 997 Hz at -1 dBFS
    RunBuffers(12);
    ASSERT_TRUE(PumpUntil([&] { return window->BlocksShown() >= 4; }));
    auto* table = Child<QTableWidget>(window, "table");
    int row = -1;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, 0)->text() == QString::fromUtf8("基波电平 (Vrms)")) {
            row = r;
        }
    }
    ASSERT_GE(row, 0);
    EXPECT_NEAR(table->item(row, 1)->text().toDouble(), 2.0 * std::pow(10.0, -1.0 / 20), 2e-3);
    EXPECT_EQ(table->item(row, 2)->text(), QString()) << "X2 is uncalibrated";
    window->close();
}

TEST_F(CalibrationTest, TheLineOutputHasOneUserAndTheOneItWasTakenFromShowsIt) {
    CCalibrationDlg* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    auto* calibrationPlay = Child<QPushButton>(dialog, "play");
    calibrationPlay->click(); // 1 kHz at -6 dBFS
    Trigger("失真与噪声…");
    auto* window = Panel().findChild<CDistortionWindow*>();
    ASSERT_NE(window, nullptr);
    auto* distortionPlay = Child<QCheckBox>(window, "play");

    // Each start takes the output from the other, whose box unticks.
    distortionPlay->setChecked(true); // 997 Hz at -1 dBFS
    EXPECT_FALSE(calibrationPlay->isChecked());
    RunBuffers(4);
    EXPECT_NEAR(Panel().StatusLine()->LastRmsDbfs(0), -1.0, 0.05);
    calibrationPlay->click();
    EXPECT_FALSE(distortionPlay->isChecked());
    RunBuffers(4);
    EXPECT_NEAR(Panel().StatusLine()->LastRmsDbfs(0), -6.0, 0.05);

    // The window it was taken from goes without ending the tone that took it.
    window->close();
    EXPECT_TRUE(Panel().TestSignalOn());
    EXPECT_TRUE(calibrationPlay->isChecked());

    // The impedance window needs the output all the time it is open: it takes it on opening,
    // and closes when the calibration takes it back.
    Trigger("阻抗…");
    QCoreApplication::processEvents();
    EXPECT_FALSE(calibrationPlay->isChecked());
    ASSERT_NE(Panel().findChild<CImpedanceWindow*>(), nullptr);
    ASSERT_TRUE(Panel().findChild<CImpedanceWindow*>()->isVisible());
    calibrationPlay->click();
    EXPECT_FALSE(Panel().findChild<CImpedanceWindow*>()->isVisible());
    EXPECT_TRUE(Panel().TestSignalOn());
    dialog->close();
    EXPECT_FALSE(Panel().TestSignalOn());
}

} // namespace
