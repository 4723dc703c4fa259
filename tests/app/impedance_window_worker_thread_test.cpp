// The impedance window's work on the capture worker of the simulated card, counting armed on
// that worker from its first buffer: live readings, a whole stepped sweep and live readings
// again allocate nothing there (no queued call's event, no sweep made on the worker).
#include "app/analysers/impedance_window.h"
#include "audio/sim/simulated_bench.h"
#include "audio/wave/wave_api.h"
#include "audio/wave/wave_backends.h"
#include "engine/sound_device.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/pump_until.h"

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Arms counting on the capture worker as each buffer reaches it, before the window's tap.
class CArmedEngine : public CSoundDevice {
public:
    void OnCaptureBuffer(const uint8_t*) override {
        tavrin::test::ArmAllocationCountOnThisThread();
    }
};

TEST(ImpedanceWindowWorker, AllocatesNothingLiveOrSweeping) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "a sanitizer keeps its own allocator; the release build counts";
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    SelectWaveBackend("sim");
    CSimulatedBench::Instance().Reset();
    const std::string device = "sim:dut=divider:10:R2+C1e-3";
    SetWaveDevices(device, device);
    {
        CArmedEngine engine;
        engine.StartCapture();
        ASSERT_TRUE(engine.m_soundIn.m_running);
        CImpedanceWindow window(engine, nullptr);
        window.findChild<QDoubleSpinBox*>(QStringLiteral("sweepFrom"))->setValue(250);
        window.findChild<QDoubleSpinBox*>(QStringLiteral("sweepTo"))->setValue(1000);
        window.findChild<QSpinBox*>(QStringLiteral("perOctave"))->setValue(1);
        window.show();
        using std::chrono::seconds;
        ASSERT_TRUE(PumpUntil([&] { return window.ReadingsShown() >= 1; }, seconds(20)));
        // From here on, every buffer the worker takes counts.
        tavrin::test::ResetAllocationCount();
        const int before = window.ReadingsShown();
        ASSERT_TRUE(PumpUntil([&] { return window.ReadingsShown() >= before + 3; }, seconds(10)));
        window.StartSweep();
        ASSERT_TRUE(window.Sweeping());
        ASSERT_TRUE(PumpUntil([&] { return !window.Sweeping(); }, seconds(30)));
        EXPECT_EQ(window.Curve().size(), 3u);
        const int after = window.ReadingsShown();
        ASSERT_TRUE(PumpUntil([&] { return window.ReadingsShown() >= after + 2; }, seconds(10)));
        window.done(0);
        engine.StopCapture();
        EXPECT_EQ(tavrin::test::AllocationsOnArmedThreads(), 0u);
    }
    CSimulatedBench::Instance().Reset();
    SelectWaveBackend(nullptr);
    SetWaveDevices("", "");
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
