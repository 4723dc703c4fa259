// The sound-card item on the simulated bench: a chosen device takes over at once and is
// remembered; one that cannot be opened shows the usual box and the previous one stays.
#include "app/device_dlg.h"
#include "app/status_line.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>

namespace {

class PanelDevicesTest : public PanelTest {
protected:
    // The remembered choice goes to a folder of the test's own, never the user's configuration.
    PanelDevicesTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }
    ~PanelDevicesTest() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }

    void ChooseFromMenu(const DeviceNames& chosen) {
        m_prompts.devices = chosen;
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8(kSoundCardItemText)) {
                action->trigger();
            }
        }
    }

    QTemporaryDir m_config;
};

TEST_F(PanelDevicesTest, ChoiceMovesCaptureAndPlaybackAndAFailedDeviceKeepsThePrevious) {
    Button(ctl::kSourceSwitch)->click();
    RunBuffers(1);

    ChooseFromMenu({"sim:card2", "sim:card3"});
    ASSERT_EQ(m_prompts.deviceRequests.size(), 1u);
    EXPECT_EQ(m_prompts.deviceRequests[0], (DeviceNames{"sim", "sim"}));
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::In), "sim:card2");
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::Out), "sim:card3");
    RunBuffers(2); // both directions live on the new devices
    EXPECT_EQ(RememberedDevices(), (DeviceNames{"sim:card2", "sim:card3"}));

    Bench().InjectFault(WaveDirection::In, WaveCall::Open, MMSYSERR_BADDEVICEID);
    Bench().InjectFault(WaveDirection::Out, WaveCall::Open, MMSYSERR_NOMEM);
    ChooseFromMenu({"sim:gone", "sim:gone"});
    ASSERT_EQ(m_alerts.Count(), 2u);
    EXPECT_EQ(m_alerts.Alerts()[0].text.rfind("WAVEIN:2:", 0), 0u) << m_alerts.Alerts()[0].text;
    EXPECT_EQ(m_alerts.Alerts()[1].text.rfind("WAVEOUT:7:", 0), 0u) << m_alerts.Alerts()[1].text;
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::In), "sim:card2");
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::Out), "sim:card3");
    RunBuffers(2);
    EXPECT_EQ(RememberedDevices(), (DeviceNames{"sim:card2", "sim:card3"}));
}

// The user picks another input while an "Unable to write to file" box holds the capture
// worker: the card in use goes on, its name stays (in use, remembered, on the status line) and
// a box says why.
TEST_F(PanelDevicesTest, InputChosenWhileTheWorkerWaitsOnABoxStaysOnTheCardInUse) {
    RememberDevices({"sim", "sim"});
    m_prompts.savePath = "/dev/full";
    Button(ctl::kRecord)->click();
    RunBuffers(1);
    ASSERT_EQ(m_alerts.Count(), 1u);
    m_alerts.Clear();
    m_alerts.HoldBoxes();
    Bench().Step(1);
    ASSERT_TRUE(m_alerts.WaitFor(1));

    ChooseFromMenu({"sim:card2", ""});
    ASSERT_EQ(m_alerts.Count(), 2u);
    const Alert refusal = m_alerts.Alerts()[1];
    EXPECT_EQ(refusal.text,
              "采集正在等待提示框的回答，暂时不能更换输入设备。请先关闭提示框，再重新选择。");
    EXPECT_EQ(refusal.icon, AlertIcon::Warning);
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::In), "sim");
    EXPECT_EQ(Bench().OpenCount(WaveDirection::In), 1);
    EXPECT_EQ(WaveDeviceName(WaveDirection::In), "sim");
    EXPECT_EQ(RememberedDevices().input, "sim");

    Button(ctl::kRecord)->click(); // the recording ends, and with it the boxes
    m_alerts.Release();
    ASSERT_TRUE(PumpUntil([&] { return Panel().m_soundIn.m_queuedCount == 3; }));
    RunBuffers(2);
    EXPECT_TRUE(Panel().StatusLine()->Text().endsWith(QStringLiteral("| capture: sim")))
        << Panel().StatusLine()->Text().toStdString();
}

TEST_F(PanelDevicesTest, AnAnalysersTestSignalMovesToTheChosenOutputWithTheGeneratorOff) {
    Panel().StartTestSignal(TestSignal{});
    RunBuffers(1);
    ChooseFromMenu({"sim", "sim:card3"});
    EXPECT_EQ(Bench().OpenDeviceName(WaveDirection::Out), "sim:card3");
    EXPECT_TRUE(Panel().TestSignalOn());
    Panel().StopTestSignal();
}

} // namespace
