// The program's alert sink: a box on the GUI thread that holds the reporting worker until it is
// dismissed, and lets it go at once when the bridge shuts down.
#include "gui_bridge.h"

#include "panel_fixture.h"

#include <QMessageBox>
#include <QPushButton>
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
