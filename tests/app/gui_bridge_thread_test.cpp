// The program's alert sink: a box on the GUI thread that holds the reporting worker until it is
// dismissed, and lets it go at once when the bridge shuts down; a worker's box leaves the panel
// working.
#include "app/gui_bridge.h"

#include "tests/app/panel_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <atomic>
#include <thread>

namespace {

QMessageBox* VisibleBox(QWidget& owner) {
    for (QMessageBox* box : owner.findChildren<QMessageBox*>()) {
        if (box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

class AlertSinkTest : public testing::Test {
protected:
    AlertSinkTest() { SetAlertSink(MakeMessageBoxSink(m_bridge, &m_owner)); }
    ~AlertSinkTest() override { SetAlertSink({}); }

    QWidget m_owner;
    CGuiBridge m_bridge;
};

TEST_F(AlertSinkTest, AWorkerWaitsUntilTheBoxIsDismissed) {
    m_owner.show();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        FormatAndAlert("WAVEIN:%x:%s %s", 2, "no device", "in Start()");
        returned = true;
    });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (box = VisibleBox(m_owner)) != nullptr; }));
    EXPECT_EQ(box->windowTitle(), "tavrin");
    EXPECT_EQ(box->text(), "WAVEIN:2:no device in Start()");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_FALSE(returned); // still held by the open box
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
}

TEST_F(AlertSinkTest, ShutdownReleasesTheWorkerAndClosesTheBox) {
    m_owner.show();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ShowAlert({"Unable to write to file", "", AlertIcon::None});
        returned = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return VisibleBox(m_owner) != nullptr; }));
    m_bridge.Shutdown();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(PumpUntil([&] { return VisibleBox(m_owner) == nullptr; }));
    // Later alerts are not shown and do not wait.
    std::thread late([] { ShowAlert({"late", "", AlertIcon::None}); });
    late.join();
    EXPECT_EQ(VisibleBox(m_owner), nullptr);
}

TEST_F(AlertSinkTest, AWorkerBoxLeavesTheOwnerFreeAndAWorkerHasOneBoxAtATime) {
    m_owner.show();
    std::atomic<int> stage{0};
    std::thread worker([&] {
        Alert outage{"WAVEIN:5:device gone in OnWIM_DATA()", "", AlertIcon::Warning};
        outage.waits = false;
        ShowAlert(outage); // returns at once
        ShowAlert(outage); // its box is up: not a second one
        stage = 1;
        ShowAlert({"Unable to write to file", "", AlertIcon::None}); // waits behind the first
        stage = 2;
    });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return stage == 1 && (box = VisibleBox(m_owner)) != nullptr; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(m_owner.findChildren<QMessageBox*>().size(), 1);
    EXPECT_EQ(box->text(), "WAVEIN:5:device gone in OnWIM_DATA()");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(stage, 1);

    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(PumpUntil([&] {
        box = VisibleBox(m_owner);
        return box != nullptr && box->text() == "Unable to write to file";
    }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(stage, 1);
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(PumpUntil([&] { return stage == 2; }));
    worker.join();
}

// The panel with its real boxes, recording to a file that cannot be written (root may write
// anywhere: a folder that does not exist stops everyone).
class FailingRecordingTest : public PanelTest {
protected:
    FailingRecordingTest() { SetAlertSink(MakeMessageBoxSink(Panel().Bridge(), &Panel())); }
    ~FailingRecordingTest() override { SetAlertSink({}); }

    // Starts the recording and returns the box its first buffer raises.
    QMessageBox* FirstWriteBox() {
        Panel().show();
        m_prompts.savePath = m_dir.filePath("missing/take.wav").toStdString();
        Button(ctl::kRecord)->click();
        Bench().Step(1);
        QMessageBox* box = nullptr;
        PumpUntil([&] { return (box = VisibleBox(Panel())) != nullptr; });
        return box;
    }
};

TEST_F(FailingRecordingTest, RecordClickWhileTheBoxIsUpStopsTheRecording) {
    QMessageBox* box = FirstWriteBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Unable to write to file");

    // A click as the window system delivers it, which a box modal over the panel would swallow.
    QAbstractButton* record = Button(ctl::kRecord);
    QTest::mouseClick(Panel().windowHandle(), Qt::LeftButton, {},
                      record->mapTo(&Panel(), record->rect().center()));
    EXPECT_EQ(Panel().m_recording, 0);
    EXPECT_EQ(record->text(), "Record");

    box->button(QMessageBox::Ok)->click();
    RunBuffers(3);
    EXPECT_EQ(VisibleBox(Panel()), nullptr); // the recording stopped: no further box
}

TEST_F(FailingRecordingTest, ClosingWhileTheBoxIsUpReleasesTheWorker) {
    ASSERT_NE(FirstWriteBox(), nullptr);
    QTest::keyClick(&Panel(), Qt::Key_Escape);
    EXPECT_FALSE(Panel().isVisible());
    EXPECT_FALSE(Panel().m_soundIn.m_running);
    EXPECT_EQ(VisibleBox(Panel()), nullptr);
}

TEST(GuiBridge, WorkRunsOnTheGuiThreadAndItsResultIsSeen) {
    CGuiBridge bridge;
    std::thread::id ranOn;
    int answer = 0;
    bool finished = false;
    std::thread worker([&] {
        finished = bridge.RunAndWait([&](CGuiBridge::Done done) {
            ranOn = std::this_thread::get_id();
            answer = 42;
            done();
        });
    });
    // The worker cannot finish without the GUI thread running the work.
    ASSERT_TRUE(PumpUntil([&] { return answer == 42; }));
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // On the GUI thread itself it waits in a local loop for a done that comes later.
    bool later = false;
    EXPECT_TRUE(bridge.RunAndWait([&](CGuiBridge::Done done) {
        QMetaObject::invokeMethod(
            &bridge,
            [&later, done] {
                later = true;
                done();
            },
            Qt::QueuedConnection);
    }));
    EXPECT_TRUE(later);

    bridge.Shutdown();
    bool ran = false;
    EXPECT_FALSE(bridge.RunAndWait([&](CGuiBridge::Done done) {
        ran = true;
        done();
    }));
    EXPECT_FALSE(ran);
}

} // namespace
