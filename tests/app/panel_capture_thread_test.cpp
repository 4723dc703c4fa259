// The per-buffer processing through the simulated card: meters, generator readouts, PAUSE,
// screen save and closing while a worker waits.
#include "app/scope_screen.h"
#include "controls/digit_display.h"
#include "measure/frequency_meter.h"
#include "measure/multimeter.h"
#include "tests/app/panel_fixture.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include <cmath>

namespace {

ChannelSignal Sine(double hertz, double amplitude) {
    return [=](int64_t frame) {
        return int16_t(std::lround(amplitude * std::sin(2 * M_PI * hertz * double(frame) / 44100)));
    };
}

// ThreadSanitizer cannot follow a multi-threaded process through fork, so the checks with
// outside readers run in the other builds only.
#if defined(__SANITIZE_THREAD__)
constexpr bool kCanRunReaders = false;
#else
constexpr bool kCanRunReaders = true;
#endif

int Readout(CInstrumentDlg& panel, int id) {
    return panel.Display(id)->Value();
}

TEST_F(PanelTest, GeneratorThroughTheLoopbackReadsOnTheFrequencyMeter) {
    Button(ctl::kFreqMeterOn)->click();
    Button(ctl::kSourceSwitch)->click();
    m_prompts.frequency = 1000u;
    Button(ctl::kFreqL)->click();
    Button(ctl::kFreqR)->click();
    RunBuffers(6);
    // 1000 Hz falls into bin 46 of 21.53 Hz; the meter shows the bin's lower edge.
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX1), 990);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX2), 990);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutL), 1000);

    Button(ctl::kFreqMeterOn)->click();
    RunBuffers(1);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX1), -1);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX2), -1);
}

TEST_F(PanelTest, MultimeterReadsTheInjectedLevelsWithTheChosenFunction) {
    Bench().SetInputSignal(0, Sine(1000, 8000));
    Bench().SetInputSignal(1, Sine(1000, 2000));
    m_prompts.reference = 1000.0;
    Button(ctl::kSetReference)->click(); // works with the meter off
    Button(ctl::kMeterOn)->click();
    RunBuffers(1);
    // No function chosen yet: the readout keeps what it showed.
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutMeter), 0);

    // The block the meter sees: the first 2048 frames of the next buffer.
    std::vector<int16_t> block(2 * 2048);
    auto expectReading = [&](int radio, int mode) {
        Button(radio)->click();
        RunBuffers(1);
        const int64_t first = (Panel().BuffersProcessed() - 1) * 4096;
        for (int f = 0; f < 2048; ++f) {
            block[2 * f] = Sine(1000, 8000)(first + f);
            block[2 * f + 1] = Sine(1000, 2000)(first + f);
        }
        const auto reading = MeterReading(mode, 1000.0, MeasureLevels(block.data()));
        ASSERT_TRUE(reading.has_value());
        EXPECT_EQ(Readout(Panel(), ctl::kReadoutMeter), ReadingToReadout(*reading)) << mode;
        EXPECT_GT(Readout(Panel(), ctl::kReadoutMeter), 0) << mode;
    };
    expectReading(ctl::kMeterR, kMeterModeR);
    expectReading(ctl::kMeterV, kMeterModeVac);

    Button(ctl::kMeterOn)->click();
    RunBuffers(1);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutMeter), -1);
}

TEST_F(PanelTest, PauseFreezesThePictureWhileTheMetersFollow) {
    Button(ctl::kFreqMeterOn)->click();
    Bench().SetInputSignal(0, Sine(1000, 12000));
    RunBuffers(2);
    Button(ctl::kPause)->click();
    RunBuffers(1);
    const QImage frozen = Panel().Screen()->Frame();
    ASSERT_EQ(frozen.size(), QSize(560, 381));
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX1), 990);

    Bench().SetInputSignal(0, Sine(3000, 12000));
    const int64_t shown = Panel().Screen()->FramesShown();
    RunBuffers(2);
    // Redrawn for every buffer, but the same picture is not handed to the screen again.
    EXPECT_EQ(Panel().Screen()->FramesShown(), shown);
    EXPECT_EQ(Panel().Screen()->Frame(), frozen);
    EXPECT_EQ(Readout(Panel(), ctl::kReadoutX1),
              PeakBinToHertz(int(3000 / kHertzPerPeakBin + 0.5)));

    // Settings still apply to the frozen samples.
    Panel().State().m_colorBack = 0x00400000;
    RunBuffers(1);
    EXPECT_NE(Panel().Screen()->Frame(), frozen);
    EXPECT_EQ(Panel().Screen()->Frame().pixel(2, 2), QColor(0, 0, 0x40).rgb());

    Button(ctl::kPause)->click();
    RunBuffers(1);
    EXPECT_NE(Panel().Screen()->Frame(), frozen);
}

TEST_F(PanelTest, SaveScreenWhileRunningAsksForPauseOnce) {
    Button(ctl::kSaveScreen)->click();
    RunBuffers(2);
    ASSERT_EQ(m_alerts.Count(), 1u);
    const Alert alert = m_alerts.Alerts()[0];
    EXPECT_EQ(alert.text, "请先暂停，调整好屏幕再保存");
    EXPECT_EQ(alert.caption, "请按下PAUSE");
    EXPECT_EQ(alert.icon, AlertIcon::Information);
    EXPECT_FALSE(Button(ctl::kSaveScreen)->isChecked());
    EXPECT_EQ(m_prompts.saveCalls, 0);
}

TEST_F(PanelTest, SaveScreenWhilePausedWritesTheFramePixelForPixel) {
    Bench().SetInputSignal(0, Sine(700, 9000));
    Bench().SetInputSignal(1, Sine(1500, 5000));
    Button(ctl::kModeX1X2)->click();
    RunBuffers(1);
    Button(ctl::kPause)->click();

    m_prompts.savePath.reset(); // cancelled: nothing written, button released
    Button(ctl::kSaveScreen)->click();
    RunBuffers(2);
    EXPECT_EQ(m_prompts.saveCalls, 1);
    EXPECT_FALSE(Button(ctl::kSaveScreen)->isChecked());

    const QString path = m_dir.filePath("screen.bmp");
    m_prompts.savePath = path.toStdString();
    Button(ctl::kSaveScreen)->click();
    RunBuffers(1);
    EXPECT_EQ(m_prompts.saveCalls, 2);
    EXPECT_FALSE(Button(ctl::kSaveScreen)->isChecked());
    EXPECT_EQ(m_prompts.saveRequests.back().filter, "位图文件 (*.bmp)");
    EXPECT_EQ(m_prompts.saveRequests.back().defaultSuffix, "bmp");
    EXPECT_EQ(m_alerts.Count(), 0u);

    QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    const QImage shown = Panel().Screen()->Frame();
    ASSERT_EQ(saved.size(), QSize(560, 381));
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    if (!kCanRunReaders) {
        return;
    }
    // An independent reader agrees on the picture's size.
    QProcess identify;
    identify.start("/usr/bin/identify", {"-format", "%w %h", path});
    if (identify.waitForFinished(10000) && identify.exitCode() == 0) {
        EXPECT_EQ(identify.readAllStandardOutput().trimmed(), "560 381");
    }
}

TEST_F(PanelTest, ClosingReleasesAWorkerWaitingOnABox) {
    SetAlertSink(MakeMessageBoxSink(Panel().Bridge(), &Panel()));
    Panel().show();
    Button(ctl::kSaveScreen)->click();
    const int64_t before = Panel().BuffersProcessed();
    Bench().Step(1);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        box = Panel().findChild<QMessageBox*>();
        return box != nullptr && box->isVisible();
    }));
    EXPECT_EQ(box->windowTitle(), "请按下PAUSE");
    EXPECT_EQ(Panel().BuffersProcessed(), before); // the worker is still waiting
    Panel().close();
    EXPECT_EQ(Panel().BuffersProcessed(), before + 1);
    EXPECT_FALSE(Panel().m_soundIn.m_running);
    SetAlertSink({});
}

TEST_F(PanelTest, ClosingWhileRecordingFinishesTheFile) {
    const QString path = m_dir.filePath("open.wav");
    m_prompts.savePath = path.toStdString();
    Panel().show();
    Button(ctl::kRecord)->click();
    RunBuffers(3);
    Panel().close();
    EXPECT_EQ(Panel().m_recording, 0);
    EXPECT_GE(QFileInfo(path).size(), 46 + 3 * 16384);
    if (!kCanRunReaders) {
        return;
    }
    QProcess python;
    python.start("python3", {"-c",
                             "import wave,sys; w=wave.open(sys.argv[1]); "
                             "print(w.getnchannels(), w.getframerate(), w.getnframes())",
                             path});
    ASSERT_TRUE(python.waitForFinished(10000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    // Every buffer captured while recording, whole: 4096 frames each.
    const QStringList fields = QString(python.readAllStandardOutput()).split(' ');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0].toInt(), 2);
    EXPECT_EQ(fields[1].toInt(), 44100);
    EXPECT_GE(fields[2].trimmed().toInt(), 3 * 4096);
    EXPECT_EQ(fields[2].trimmed().toInt() % 4096, 0);
}

// Closing finishes the recording while the generator and both devices still run: each device
// stop, its reset made to fail so that it reports, finds the recording already finished.
TEST_F(PanelTest, ClosingFinishesTheRecordingBeforeAnyDeviceStops) {
    m_prompts.savePath = m_dir.filePath("order.wav").toStdString();
    Panel().show();
    Button(ctl::kSourceSwitch)->click();
    Button(ctl::kRecord)->click();
    RunBuffers(2);
    Bench().InjectFault(WaveDirection::In, WaveCall::Reset, MMSYSERR_ERROR);
    Bench().InjectFault(WaveDirection::Out, WaveCall::Reset, MMSYSERR_ERROR);
    std::vector<std::pair<std::string, bool>> stops; // report, recording finished by then
    SetAlertSink([&](const Alert& alert) {
        stops.emplace_back(alert.text.substr(0, 8),
                           Panel().m_recording == 0 && Panel().m_recorder == nullptr);
    });
    Panel().close();
    SetAlertSink({});
    EXPECT_EQ(stops,
              (std::vector<std::pair<std::string, bool>>{{"WAVEIN:1", true}, {"WAVEOUT:", true}}));
}

// The card goes away under a recording and comes back: the recording ended at the gap, and
// RECORD is up again, ready for the next one.
TEST_F(PanelTest, AGapEndsTheRecordingAndReleasesRecord) {
    const QString path = m_dir.filePath("gap.wav");
    m_prompts.savePath = path.toStdString();
    Button(ctl::kRecord)->click();
    RunBuffers(2);
    Bench().SetDeviceGone(true);
    Bench().Step(12);
    Bench().SetDeviceGone(false);
    Bench().Step(12); // the second retry finds it back
    ASSERT_TRUE(PumpUntil([&] { return !Button(ctl::kRecord)->isChecked(); }));
    EXPECT_EQ(Button(ctl::kRecord)->text(), "Record");
    EXPECT_EQ(Panel().m_recording, 0);
    ASSERT_TRUE(m_alerts.WaitFor(2));
    EXPECT_EQ(m_alerts.Texts().back(), kRecordingGapText);
    EXPECT_EQ(QFileInfo(path).size(), 46 + 2 * 16384);

    Button(ctl::kRecord)->click(); // a new recording, not the end of the old one
    EXPECT_EQ(m_prompts.saveCalls, 2);
    EXPECT_EQ(Panel().m_recording, 1);
    EXPECT_EQ(Button(ctl::kRecord)->text(), "Recording");
}

} // namespace
