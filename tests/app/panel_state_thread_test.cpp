// The panel's start-up state and what each handler writes.
#include "app/scope_screen.h"
#include "app/status_line.h"
#include "controls/digit_display.h"
#include "controls/link_label.h"
#include "tests/app/panel_fixture.h"

#include <QButtonGroup>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTest>

namespace {

TEST_F(PanelTest, StartUpStateControlByControl) {
    EXPECT_EQ(Panel().windowTitle(), "Tavrin 0.94");
    // The panel's client area is 779 x 536; the status line is a strip below it.
    const QSize window(779, 536 + kStatusLineHeightPx);
    EXPECT_EQ(Panel().minimumSize(), window);
    EXPECT_EQ(Panel().maximumSize(), window);
    EXPECT_EQ(Panel().StatusLine()->geometry(), QRect(0, 536, 779, kStatusLineHeightPx));
    EXPECT_EQ(Panel().Screen()->geometry(), QRect(11, 20, 566, 387));

    const auto checked = InitiallyCheckedRadios();
    for (const ControlSpec& c : PanelControls()) {
        if (c.kind == ControlKind::Radio || c.kind == ControlKind::Toggle) {
            QAbstractButton* b = Button(c.id);
            ASSERT_NE(b, nullptr) << c.id;
            EXPECT_TRUE(b->isCheckable()) << c.id;
            const bool expected = std::find(checked.begin(), checked.end(), c.id) != checked.end();
            EXPECT_EQ(b->isChecked(), expected) << c.id << " " << c.caption;
        }
    }
    EXPECT_EQ(Panel().Widgets().RadioGroup(kGroupMeterMode)->checkedId(), -1);

    const std::pair<int, int> positions[] = {{ctl::kAmpX1, 20},       {ctl::kAmpX2, 20},
                                             {ctl::kTimeX1, 4},       {ctl::kTimeX2, 4},
                                             {ctl::kOffsetX1, 150},   {ctl::kOffsetX2, 150},
                                             {ctl::kGridColumns, 10}, {ctl::kGridRows, 10},
                                             {ctl::kSliderFreqL, 0},  {ctl::kSliderFreqR, 0}};
    for (const auto& [id, position] : positions) {
        EXPECT_EQ(Slider(id)->value(), position) << id;
    }
    // Vertical sliders show their minimum at the top.
    EXPECT_TRUE(Slider(ctl::kAmpX1)->invertedAppearance());
    EXPECT_EQ(Slider(ctl::kSliderFreqL)->orientation(), Qt::Horizontal);

    EXPECT_EQ(Panel().Display(ctl::kReadoutL)->Value(), -1);
    EXPECT_EQ(Panel().Display(ctl::kReadoutR)->Value(), -1);
    EXPECT_EQ(Panel().State().m_scopeMode, 1);
    EXPECT_EQ(Panel().State().m_gainDivX1, 1);
    EXPECT_EQ(Panel().State().m_gainDivX2, 1);
    EXPECT_EQ(Panel().m_attenL, 1);
    EXPECT_EQ(Panel().m_attenR, 1);
    EXPECT_EQ(Panel().m_waveL, 0);
    EXPECT_EQ(Panel().m_waveR, 0);
    EXPECT_EQ(Panel().m_recording, 0);
    EXPECT_FALSE(Panel().m_generatorOn);
    EXPECT_EQ(Panel().State().m_paused, 0);
    EXPECT_EQ(Panel().State().m_colorX1, 0x0000FF00u);
    EXPECT_EQ(Panel().State().m_colorX2, 0x000000FFu);
    EXPECT_EQ(Panel().State().m_colorGrid, 0x00808080u);
    EXPECT_EQ(Panel().State().m_colorBack, 0x00000000u);
    EXPECT_EQ(Button(ctl::kRecord)->text(), "RECORD");
    EXPECT_EQ(Panel().LinkLabel()->Address(), kSponsorAddress);
    // The icon and the logo come from the program's resources.
    EXPECT_FALSE(Panel().windowIcon().isNull());
    auto* logo = qobject_cast<QLabel*>(Panel().Widgets().Widget(ctl::kLogo));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->pixmap().size(), QSize(53, 53));
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In));
    EXPECT_FALSE(Bench().IsOpen(WaveDirection::Out));

    // The slider-derived fields hold their construction values until the first frame.
    EXPECT_EQ(Panel().State().m_timeScaleX1, 5.0f);
    RunBuffers(1);
    EXPECT_EQ(Panel().State().m_timeScaleX1, 2.0f);
    EXPECT_EQ(Panel().State().m_timeScaleX2, 2.0f);
    EXPECT_EQ(Panel().State().m_ampScaleX1, 1.0f);
    EXPECT_EQ(Panel().State().m_ampScaleX2, 1.0f);
    EXPECT_EQ(Panel().State().m_offsetX1, 0);
    EXPECT_EQ(Panel().State().m_gridColumns, 10);
    EXPECT_EQ(Panel().State().m_gridRows, 10);
}

struct RadioRow {
    std::vector<int> ids;
    std::vector<int32_t> values;
    std::atomic<int32_t>& (*field)(CInstrumentDlg&);
};

std::atomic<int32_t>& ScopeMode(CInstrumentDlg& p) { return p.State().m_scopeMode; }
std::atomic<int32_t>& GainDivX1(CInstrumentDlg& p) { return p.State().m_gainDivX1; }
std::atomic<int32_t>& GainDivX2(CInstrumentDlg& p) { return p.State().m_gainDivX2; }
std::atomic<int32_t>& MeterMode(CInstrumentDlg& p) { return p.State().m_meterMode; }
std::atomic<int32_t>& AttenL(CInstrumentDlg& p) { return p.m_attenL; }
std::atomic<int32_t>& AttenR(CInstrumentDlg& p) { return p.m_attenR; }
std::atomic<int32_t>& WaveL(CInstrumentDlg& p) { return p.m_waveL; }
std::atomic<int32_t>& WaveR(CInstrumentDlg& p) { return p.m_waveR; }

TEST_F(PanelTest, EveryRadioWritesItsFieldAndUnchecksItsGroup) {
    const RadioRow rows[] = {
        {{1006, 1007, 1008, 1009, 1024}, {1, 2, 3, 4, 5}, ScopeMode},
        {{1055, 1056, 1057, 1058, 1059, 1060}, {1, 2, 4, 8, 16, 32}, GainDivX1},
        {{1061, 1062, 1063, 1064, 1065, 1066}, {1, 2, 4, 8, 16, 32}, GainDivX2},
        {{1067, 1068, 1069, 1070, 1071}, {1, 2, 4, 8, 16}, AttenL},
        {{1048, 1049, 1050, 1051, 1052}, {1, 2, 4, 8, 16}, AttenR},
        {{1072, 1073, 1074}, {0, 1, 2}, WaveL},
        {{1075, 1076, 1077}, {0, 1, 2}, WaveR},
        {{1037, 1038, 1039, 1040}, {1, 2, 3, 4}, MeterMode},
    };
    for (const RadioRow& row : rows) {
        // Backwards, so every click changes the value, then the last one again.
        for (size_t i = row.ids.size(); i-- > 0;) {
            Button(row.ids[i])->click();
            EXPECT_EQ(row.field(Panel()), row.values[i]) << row.ids[i];
            for (int other : row.ids) {
                EXPECT_EQ(Button(other)->isChecked(), other == row.ids[i]) << other;
            }
        }
        Button(row.ids[0])->click();
        EXPECT_TRUE(Button(row.ids[0])->isChecked());
        EXPECT_EQ(row.field(Panel()), row.values[0]);
    }
}

TEST_F(PanelTest, ColourChooserStoresOnlyAnAcceptedColour) {
    m_prompts.color.reset();
    Button(ctl::kColorGrid)->click();
    EXPECT_EQ(Panel().State().m_colorGrid, 0x00808080u);
    m_prompts.color = 0x00123456u;
    Button(ctl::kColorGrid)->click();
    EXPECT_EQ(Panel().State().m_colorGrid, 0x00123456u);
    Button(ctl::kColorBack)->click();
    EXPECT_EQ(Panel().State().m_colorBack, 0x00123456u);
    EXPECT_EQ(Panel().State().m_colorX1, 0x0000FF00u);
    EXPECT_EQ(m_prompts.colorCalls, 3);
}

TEST_F(PanelTest, FrequencyButtonsWaitForTheSignalSource) {
    m_prompts.frequency = 1234u;
    Button(ctl::kFreqL)->click();
    Button(ctl::kFreqR)->click();
    EXPECT_EQ(m_prompts.frequencyCalls, 0);
    EXPECT_EQ(Panel().m_freqL, 0);

    Button(ctl::kSourceSwitch)->click();
    EXPECT_TRUE(Panel().m_generatorOn);
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::Out));
    Button(ctl::kFreqL)->click();
    EXPECT_EQ(Panel().m_freqL, 1234);
    EXPECT_EQ(Slider(ctl::kSliderFreqL)->value(), 1234);
    m_prompts.frequency = 0u;
    Button(ctl::kFreqR)->click();
    EXPECT_EQ(Slider(ctl::kSliderFreqR)->value(), 0);
    m_prompts.frequency.reset(); // cancelled
    Button(ctl::kFreqL)->click();
    EXPECT_EQ(Slider(ctl::kSliderFreqL)->value(), 1234);

    RunBuffers(1);
    EXPECT_EQ(Panel().Display(ctl::kReadoutL)->Value(), 1234);
    EXPECT_EQ(Panel().Display(ctl::kReadoutR)->Value(), 0);

    Button(ctl::kSourceSwitch)->click();
    EXPECT_FALSE(Panel().m_generatorOn);
    EXPECT_EQ(Panel().Display(ctl::kReadoutL)->Value(), -1);
    EXPECT_EQ(Panel().Display(ctl::kReadoutR)->Value(), -1);
    // The frequencies still follow the sliders; the readouts stay blank.
    Slider(ctl::kSliderFreqL)->setValue(777);
    RunBuffers(1);
    EXPECT_EQ(Panel().m_freqL, 777);
    EXPECT_EQ(Panel().Display(ctl::kReadoutL)->Value(), -1);
    // On again: both readings come back, the unchanged one too.
    Button(ctl::kSourceSwitch)->click();
    RunBuffers(1);
    EXPECT_EQ(Panel().Display(ctl::kReadoutL)->Value(), 777);
    EXPECT_EQ(Panel().Display(ctl::kReadoutR)->Value(), 0);
}

TEST_F(PanelTest, RecordCaptionsOverTwoRecordingsAndACancel) {
    std::vector<QString> captions{Button(ctl::kRecord)->text()};
    m_prompts.savePath.reset();
    Button(ctl::kRecord)->click();
    EXPECT_FALSE(Button(ctl::kRecord)->isChecked()); // sprang back
    EXPECT_EQ(Panel().m_recording, 0);
    EXPECT_EQ(Button(ctl::kRecord)->text(), "RECORD");

    for (const char* name : {"one.wav", "two.wav"}) {
        m_prompts.savePath = m_dir.filePath(name).toStdString();
        Button(ctl::kRecord)->click();
        EXPECT_TRUE(Button(ctl::kRecord)->isChecked());
        EXPECT_EQ(Panel().m_recording, 1);
        captions.push_back(Button(ctl::kRecord)->text());
        RunBuffers(1);
        Button(ctl::kRecord)->click();
        EXPECT_FALSE(Button(ctl::kRecord)->isChecked());
        EXPECT_EQ(Panel().m_recording, 0);
        captions.push_back(Button(ctl::kRecord)->text());
        EXPECT_EQ(QFileInfo(m_dir.filePath(name)).size(), 46 + 16384) << name;
    }
    EXPECT_EQ(captions,
              (std::vector<QString>{"RECORD", "Recording", "Record", "Recording", "Record"}));
    ASSERT_EQ(m_prompts.saveRequests.size(), 3u);
    EXPECT_EQ(m_prompts.saveRequests[0].filter, "WAV文件 (*.wav)");
    EXPECT_EQ(m_prompts.saveRequests[0].defaultSuffix, "wav");
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(PanelTest, ALongRecordingPathIsUsedWhole) {
    QString dir = m_dir.path();
    while (dir.size() < 150) {
        dir += "/sub-directory-with-a-long-name";
    }
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString path = dir + "/take.wav";
    m_prompts.savePath = path.toStdString();
    Button(ctl::kRecord)->click();
    RunBuffers(1);
    Button(ctl::kRecord)->click();
    EXPECT_EQ(QFileInfo(path).size(), 46 + 16384);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(PanelTest, PauseAndReference) {
    Button(ctl::kPause)->click();
    EXPECT_EQ(Panel().State().m_paused, 1);
    EXPECT_TRUE(Button(ctl::kPause)->isChecked());
    Button(ctl::kPause)->click();
    EXPECT_EQ(Panel().State().m_paused, 0);

    const double before = Panel().State().m_refValue;
    m_prompts.reference.reset();
    Button(ctl::kSetReference)->click();
    EXPECT_EQ(Panel().State().m_refValue, before);
    m_prompts.reference = 4.7;
    Button(ctl::kSetReference)->click();
    EXPECT_EQ(Panel().State().m_refValue, 4.7);
}

TEST_F(PanelTest, OpeningAnAnalyserClosesTheOthers) {
    // They share the capture tap and the test signal, so two at once would take it in turns.
    const auto actions = Panel().SystemMenu()->actions();
    const auto openAnalysers = [&] {
        QStringList open;
        for (const QWidget* w : Panel().findChildren<QWidget*>()) {
            const QString name = w->metaObject()->className();
            if (w->isWindow() && w->isVisible() && name.endsWith("Window")) {
                open << name;
            }
        }
        return open;
    };
    const struct {
        int item;
        const char* window;
    } steps[] = {{2, "CDistortionWindow"},
                 {5, "CImpedanceWindow"},
                 {3, "CFrequencyResponseWindow"},
                 {6, "CReportWindow"},
                 {2, "CDistortionWindow"},
                 {6, "CReportWindow"},
                 {5, "CImpedanceWindow"}};
    for (const auto& step : steps) {
        actions[step.item]->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(openAnalysers().join(',').toStdString(), step.window);
    }
}

TEST_F(PanelTest, AboutItemAndSystemCommands) {
    ASSERT_NE(Panel().SystemMenu(), nullptr);
    const auto actions = Panel().SystemMenu()->actions();
    // About, the sound card, the two analysers, calibration, the impedance analyser, the report.
    ASSERT_EQ(actions.size(), 7);
    EXPECT_EQ(actions[0]->text(), "关于 Tavrin(&A)...");
    EXPECT_EQ(actions[2]->text(), "失真与噪声…");
    EXPECT_EQ(actions[3]->text(), "频率响应…");
    EXPECT_EQ(actions[4]->text(), "校准…");
    EXPECT_EQ(actions[5]->text(), "阻抗…");
    EXPECT_EQ(actions[6]->text(), "声卡测试报告…");
    EXPECT_EQ(actions[0]->data().toInt(), IDM_ABOUTBOX);
    actions[0]->trigger();
    EXPECT_EQ(m_prompts.aboutCalls, 1);
    for (int id = 0x0010; id <= 0x001F; ++id) {
        Panel().OnSysCommand(id);
    }
    EXPECT_EQ(m_prompts.aboutCalls, 17);
    for (int id : {0x0000, 0x0020, 0xF060, 0xF020}) {
        Panel().OnSysCommand(id);
    }
    EXPECT_EQ(m_prompts.aboutCalls, 17);
}

TEST_F(PanelTest, EscapeClosesAndStopsTheEngine) {
    Button(ctl::kSourceSwitch)->click();
    Panel().show();
    QTest::keyClick(&Panel(), Qt::Key_Escape);
    EXPECT_FALSE(Panel().isVisible());
    EXPECT_FALSE(Panel().m_soundIn.m_running);
    EXPECT_FALSE(Panel().m_soundPlay.m_running);
    const int64_t processed = Panel().BuffersProcessed();
    Bench().Step(2);
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(Panel().BuffersProcessed(), processed);
}

} // namespace
