// The frequency-response window on the simulated card, whose cable is a straight wire: a sweep
// comes back flat, in phase and a whole number of frames late; the saved CSV is the curve the
// window draws, and saved curves load back as overlays; a run that cannot finish says why in
// words.
#include "analysis/sweep/sweep_files.h"
#include "app/analysers/frequency_response_window.h"
#include "audio/wave/wave_backends.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <cmath>

namespace {

class FrequencyResponseWindowTest : public PanelTest {
protected:
    CFrequencyResponseWindow* Open() {
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8("频率响应…")) {
                action->trigger();
            }
        }
        auto* window = Panel().findChild<CFrequencyResponseWindow*>();
        if (window != nullptr) {
            // The shortest sweep: 16 buffers and the latency budget.
            window->findChild<QComboBox*>(QStringLiteral("length"))->setCurrentIndex(0);
        }
        return window;
    }

    // Buffer periods until the run ends (the window polls on a timer), at most `limit`.
    void RunUntilDone(CFrequencyResponseWindow* window, int limit = 60) {
        for (int i = 0; i < limit && window->Running(); ++i) {
            RunBuffers(1);
            PumpUntil([&] { return !window->Running(); }, std::chrono::milliseconds(80));
        }
    }
};

TEST_F(FrequencyResponseWindowTest, AWireMeasuresFlatItsCsvIsTheCurveAndFilesComeBackAsOverlays) {
    CFrequencyResponseWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->findChild<QPushButton*>(QStringLiteral("start"))->click();
    ASSERT_TRUE(window->Running());
    ASSERT_TRUE(Panel().TestSignalOn());
    RunUntilDone(window);
    ASSERT_FALSE(window->Running());
    EXPECT_FALSE(Panel().TestSignalOn()) << "the line output is given back after the sweep";
    ASSERT_TRUE(window->Outcome()) << window->StatusText().toStdString();
    const SweepOutcome& outcome = *window->Outcome();
    ASSERT_EQ(outcome.failure, SweepFailure::None);

    const SweepResult& r = outcome.result;
    ASSERT_FALSE(r.freq_hz.empty());
    EXPECT_NEAR(r.freq_hz.front(), 20.0, 1.0);
    EXPECT_NEAR(r.freq_hz.back(), 20000.0, 500.0);
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        EXPECT_NEAR(r.mag_db[i], 0.0, 0.05) << r.freq_hz[i] << " Hz";
        EXPECT_NEAR(r.phase_deg[i], 0.0, 1.0) << r.freq_hz[i] << " Hz";
    }
    EXPECT_NEAR(outcome.latency_samples, std::round(outcome.latency_samples), 0.05);
    // The simulated card plays and captures each period over the same frames of its clock, so
    // a wire's round trip from the sweep leaving the program is none at all.
    EXPECT_TRUE(outcome.round_trip);
    EXPECT_NEAR(outcome.latency_samples, 0.0, 0.05);
    EXPECT_TRUE(window->StatusText().contains(
        QString::fromUtf8("延迟 %1 个采样").arg(outcome.latency_samples, 0, 'f', 1)))
        << window->StatusText().toStdString();

    const QString csv = m_dir.filePath(QStringLiteral("response.csv"));
    QString error;
    ASSERT_TRUE(window->ExportCsv(csv, &error)) << error.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string saved = file.readAll().toStdString();
    EXPECT_EQ(saved, SweepCsvText(r));
    std::string why;
    const std::optional<SweepResult> back = ParseSweepCsv(saved, why);
    ASSERT_TRUE(back) << why;
    const QList<QPointF> drawn = window->Charts().MagnitudePoints();
    ASSERT_EQ(size_t(drawn.size()), back->freq_hz.size());
    for (qsizetype i = 0; i < drawn.size(); ++i) {
        EXPECT_NEAR(drawn[i].x(), back->freq_hz[size_t(i)], 5e-4);
        EXPECT_NEAR(drawn[i].y(), back->mag_db[size_t(i)], 5e-5);
    }

    EXPECT_TRUE(window->ExportImpulse(m_dir.filePath(QStringLiteral("impulse.wav")), &error))
        << error.toStdString();
    const QString nowhere = m_dir.filePath(QStringLiteral("missing/response.frd"));
    EXPECT_FALSE(window->ExportFrd(nowhere, &error));
    EXPECT_FALSE(error.isEmpty());

    // Kept, and the CSV and FRD saved, the curve comes back as three overlays; a box unticked
    // hides one; a file that is no curve is refused with the line at fault and adds nothing.
    const QString frd = m_dir.filePath(QStringLiteral("response.frd"));
    ASSERT_TRUE(window->ExportFrd(frd, &error)) << error.toStdString();
    ASSERT_EQ(window->Charts().VisibleMagnitudeCurves(), 1);
    window->KeepOverlay();
    for (const QString& path : {csv, frd}) {
        ASSERT_TRUE(window->LoadOverlay(path, &error)) << error.toStdString();
    }
    EXPECT_EQ(window->Charts().VisibleMagnitudeCurves(), 4);
    auto* list = window->findChild<QListWidget*>(QStringLiteral("overlays"));
    ASSERT_EQ(list->count(), 3);
    list->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(window->Charts().VisibleMagnitudeCurves(), 3);
    const QString junk = m_dir.filePath(QStringLiteral("junk.frd"));
    QFile junkFile(junk);
    ASSERT_TRUE(junkFile.open(QIODevice::WriteOnly));
    junkFile.write("* notes\n20 1 0\n30 loud 0\n");
    junkFile.close();
    EXPECT_FALSE(window->LoadOverlay(junk, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("line 3"))) << error.toStdString();
    EXPECT_EQ(list->count(), 3);
}

// The gate in the window, as --window-ms 1,5: the response is the gated one, the status line says
// from where it holds (1 / 6 ms, 166.4 Hz in whole frames) and that the latency is the round trip,
// and the impulse plot draws the gate from 1 ms before the peak to 5 ms after it; the plot holds
// every harmonic to H9.
TEST_F(FrequencyResponseWindowTest, TheGateIsSetShownAndStated) {
    CFrequencyResponseWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->findChild<QCheckBox*>(QStringLiteral("gate"))->setChecked(true);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("gateLeft"))->setValue(1);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("gateRight"))->setValue(5);
    window->Start();
    RunUntilDone(window);
    ASSERT_TRUE(window->Outcome()) << window->StatusText().toStdString();
    const SweepOutcome& outcome = *window->Outcome();
    // In whole frames: 1 ms is 44, 5 ms 221 (220.5 rounded).
    EXPECT_DOUBLE_EQ(outcome.result.gate_lowest_hz, 44100.0 / (44 + 221));
    for (size_t i = 0; i < outcome.result.freq_hz.size(); ++i) {
        if (outcome.result.freq_hz[i] >= outcome.result.gate_lowest_hz) {
            EXPECT_NEAR(outcome.result.mag_db[i], 0.0, 0.05) << outcome.result.freq_hz[i];
        }
    }
    EXPECT_TRUE(window->StatusText().contains(QString::fromUtf8("从 166.4 Hz 起")))
        << window->StatusText().toStdString();
    EXPECT_TRUE(window->StatusText().contains(QString::fromUtf8("往返")))
        << window->StatusText().toStdString();
    const QList<QPointF> gate = window->Charts().GatePoints();
    ASSERT_FALSE(gate.isEmpty());
    EXPECT_NEAR(gate.front().x(), outcome.latency_ms - 1, 0.03);
    EXPECT_NEAR(gate.back().x(), outcome.latency_ms + 5, 0.03);
    EXPECT_NEAR(gate.front().y(), 0.0, 1e-9);
    // Ticked, the harmonics H2..H9 and THD join the magnitude.
    window->findChild<QCheckBox*>(QStringLiteral("harmonics"))->setChecked(true);
    EXPECT_EQ(window->Charts().VisibleMagnitudeCurves(), 1 + 8 + 1);
}

// Input frames the card dropped while the sweep comes back (a gap, like an xrun; this one leaves
// the xrun count that other tests read alone): the window measures again by itself, once; a
// second gap is the user's to see.
TEST_F(FrequencyResponseWindowTest, AGapIsRetriedOnceAndASecondIsShown) {
    CFrequencyResponseWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->Start();
    RunBuffers(3);
    CountDroppedInputFrames(kFramesPerBuffer);
    RunBuffers(1);
    const QString retrying = QString::fromUtf8("采集有中断，正在重新测量…");
    EXPECT_TRUE(PumpUntil([&] { return window->StatusText() == retrying; }))
        << window->StatusText().toStdString();
    EXPECT_TRUE(window->Running());
    EXPECT_TRUE(Panel().TestSignalOn());
    RunBuffers(3);
    CountDroppedInputFrames(kFramesPerBuffer);
    RunUntilDone(window);
    ASSERT_FALSE(window->Running());
    EXPECT_FALSE(window->Outcome());
    EXPECT_EQ(window->StatusText(),
              QString::fromUtf8("测量失败：采集有中断 (xrun 或丢帧)，请重新测量"));
}

// The card delivers nothing (the stepped clock is never stepped): the window gives up and says
// why rather than waiting for ever.
TEST_F(FrequencyResponseWindowTest, ACaptureThatBringsNothingIsShown) {
    CFrequencyResponseWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->Start();
    EXPECT_TRUE(PumpUntil([&] { return !window->Running(); }, std::chrono::seconds(6)));
    EXPECT_FALSE(Panel().TestSignalOn());
    EXPECT_EQ(window->StatusText(),
              QString::fromUtf8("测量失败：没有采集到声音：声卡输入没有运行"));
}

struct FailureCase {
    const char* name;
    bool silentInput; // nothing comes back; else Stop is pressed half way
    const char* words;
};

class FrequencyResponseFailure : public FrequencyResponseWindowTest,
                                 public testing::WithParamInterface<FailureCase> {};

TEST_P(FrequencyResponseFailure, IsShownInWords) {
    if (GetParam().silentInput) {
        for (int channel : {0, 1}) {
            Bench().SetInputSignal(channel, [](int64_t) { return int16_t(0); });
        }
    }
    CFrequencyResponseWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->Start();
    if (GetParam().silentInput) {
        RunUntilDone(window);
    } else {
        RunBuffers(5);
        window->findChild<QPushButton*>(QStringLiteral("stop"))->click();
    }
    ASSERT_FALSE(window->Running());
    EXPECT_FALSE(Panel().TestSignalOn());
    EXPECT_FALSE(window->Outcome());
    EXPECT_EQ(window->StatusText(),
              QString::fromUtf8("测量失败：") + QString::fromUtf8(GetParam().words));
    RunBuffers(2); // the tap is gone: these buffers must reach no freed measurement
}

INSTANTIATE_TEST_SUITE_P(Runs, FrequencyResponseFailure,
                         testing::Values(FailureCase{"Stopped", false, "测量在扫频返回之前被停止"},
                                         FailureCase{"NothingCameBack", true,
                                                     "扫频信号没有返回，请检查连线和输入"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
