#include "audio/sim/simulated_bench.h"

#include "audio/sim/simulated_card.h"

using namespace simcard;

namespace {

constexpr auto kStepGrace = std::chrono::milliseconds(200);
} // namespace

CSimulatedBench& CSimulatedBench::Instance() {
    static CSimulatedBench bench;
    return bench;
}

void CSimulatedBench::Reset() {
    BenchState& s = State();
    std::lock_guard lock(s.mutex);
    // A device whose owner is gone without closing it (its close failed, or a header never
    // came back) would keep the next owner from opening one.
    for (CSimDevice** slot : {&s.in, &s.out}) {
        delete *slot;
        *slot = nullptr;
    }
    s.inStarted = false;
    s.clock = BenchClock::RealTime;
    for (auto& signal : s.signals) {
        signal = nullptr;
    }
    s.faults.clear();
    s.dut = CSimulatedDut();
    s.chain.reset();
    s.chainName.clear();
    s.gone = false;
    s.reopenAttempts = 0;
    s.opens[0] = s.opens[1] = s.closes[0] = s.closes[1] = 0;
    s.inputFrame = s.filled = s.played = 0;
    s.wake.notify_all();
}

void CSimulatedBench::SetClock(BenchClock clock) {
    std::lock_guard lock(State().mutex);
    State().clock = clock;
    State().wake.notify_all();
}

void CSimulatedBench::Step(int buffers) {
    BenchState& s = State();
    for (int i = 0; i < buffers; ++i) {
        std::unique_lock lock(s.mutex);
        // A stepped clock is for deterministic tests: give the owners' workers a moment to hand
        // their buffers back before the period runs, instead of racing them.
        s.wake.wait_for(lock, kStepGrace, [&] {
            return (s.in == nullptr || !s.inStarted || s.in->HasHeader()) &&
                   (s.out == nullptr || s.out->HasHeader());
        });
        Tick(s);
    }
}

void CSimulatedBench::SetInputSignal(int channel, ChannelSignal signal) {
    if (channel < 0 || channel >= kChannels) {
        return;
    }
    std::lock_guard lock(State().mutex);
    State().signals[channel] = std::move(signal);
}

void CSimulatedBench::SetDeviceUnderTest(const SimulatedDut& model) {
    std::lock_guard lock(State().mutex);
    State().dut = CSimulatedDut(model);
}

bool CSimulatedBench::SetDutChain(const std::string& stages, std::string* error) {
    // Built before taking the lock, as an open builds it.
    std::optional<CSimulatedDutChain> chain = ParseSimulatedDut(stages, *error);
    if (!chain) {
        return false;
    }
    BenchState& s = State();
    std::lock_guard lock(s.mutex);
    if (!s.chain || !OpenAs(s, s.chainName)) {
        *error = "no \"sim:dut=...\" device is open";
        return false;
    }
    s.chain = std::move(chain);
    return true;
}

void CSimulatedBench::InjectFault(WaveDirection direction, WaveCall call, MMRESULT code,
                                  int times) {
    std::lock_guard lock(State().mutex);
    State().faults[{direction, call}] = {code, times};
}

void CSimulatedBench::SetDeviceGone(bool gone) {
    std::lock_guard lock(State().mutex);
    State().gone = gone;
}

int CSimulatedBench::ReopenAttempts() const {
    std::lock_guard lock(State().mutex);
    return State().reopenAttempts;
}

int CSimulatedBench::OpenCount(WaveDirection d) const {
    std::lock_guard lock(State().mutex);
    return State().opens[Index(d)];
}

int CSimulatedBench::CloseCount(WaveDirection d) const {
    std::lock_guard lock(State().mutex);
    return State().closes[Index(d)];
}

bool CSimulatedBench::IsOpen(WaveDirection d) const {
    std::lock_guard lock(State().mutex);
    return (d == WaveDirection::In ? State().in : State().out) != nullptr;
}

std::string CSimulatedBench::OpenDeviceName(WaveDirection d) const {
    std::lock_guard lock(State().mutex);
    const bool open = (d == WaveDirection::In ? State().in : State().out) != nullptr;
    return open ? State().names[Index(d)] : std::string();
}

int64_t CSimulatedBench::FilledInputBuffers() const {
    std::lock_guard lock(State().mutex);
    return State().filled;
}

int64_t CSimulatedBench::PlayedOutputBuffers() const {
    std::lock_guard lock(State().mutex);
    return State().played;
}
