// Whether a thread waits on the user: only while it is inside an alert that waits.
#include "base/format_and_alert.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

TEST(WaitsOnUser, OnlyWhileTheThreadIsInsideAWaitingAlert) {
    std::mutex mutex;
    std::condition_variable changed;
    bool inSink = false, answered = false, waitedInside = true;
    SetAlertSink([&](const Alert& alert) {
        if (!alert.waits) {
            waitedInside = WaitsOnUser(std::this_thread::get_id());
            return;
        }
        std::unique_lock lock(mutex);
        inSink = true;
        changed.notify_all();
        changed.wait(lock, [&] { return answered; });
    });
    Alert report{"not waited on", "", AlertIcon::None};
    report.waits = false;
    ShowAlert(report);
    EXPECT_FALSE(waitedInside);

    std::thread worker([] { ShowAlert({"waits", "", AlertIcon::Warning}); });
    const std::thread::id id = worker.get_id();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return inSink; }));
    }
    EXPECT_TRUE(WaitsOnUser(id));
    EXPECT_FALSE(WaitsOnUser(std::this_thread::get_id()));
    {
        std::lock_guard lock(mutex);
        answered = true;
    }
    changed.notify_all();
    worker.join();
    EXPECT_FALSE(WaitsOnUser(id));
    SetAlertSink(nullptr);
}

} // namespace
