#include "audio/sim/simulated_bench.h"

#include "audio/sim/simulated_dut_chain.h"
#include "audio/wave/wave_backends.h"
#include "base/thread_name.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace {

class CSimDevice;

// All bench state lives behind one mutex; the lock order is bench, then a device's queue.
struct BenchState {
    std::mutex mutex;
    std::condition_variable wake;
    BenchClock clock = BenchClock::RealTime;
    ChannelSignal signals[kChannels];
    std::map<std::pair<WaveDirection, WaveCall>, std::pair<MMRESULT, int>> faults;
    CSimDevice* in = nullptr;
    CSimDevice* out = nullptr;
    bool inStarted = false;
    bool gone = false;
    int reopenAttempts = 0;
    std::string names[2]; // of the open devices
    int opens[2] = {0, 0};
    int closes[2] = {0, 0};
    int64_t inputFrame = 0; // absolute index of the next captured frame
    int64_t filled = 0;
    int64_t played = 0;
    std::vector<int16_t> line = std::vector<int16_t>(size_t(kFramesPerBuffer) * kChannels);
    CSimulatedDut dut;
    std::optional<CSimulatedDutChain> chain; // of the latest "sim:dut=..." opened
    std::string chainName;
    bool quit = false;
    std::thread ticker;
};

BenchState& State() {
    static BenchState state;
    return state;
}

constexpr auto kStepGrace = std::chrono::milliseconds(200);
// A lost device's retry pace, in buffer periods of bench time.
const int kReopenPeriods =
    std::max(1, int(std::chrono::duration<double>(kReopenInterval).count() / kBufferSeconds + 0.5));

int Index(WaveDirection d) {
    return d == WaveDirection::In ? 0 : 1;
}

MMRESULT TakeFault(BenchState& s, WaveDirection d, WaveCall call) {
    auto it = s.faults.find({d, call});
    if (it == s.faults.end() || it->second.second <= 0) {
        return MMSYSERR_NOERROR;
    }
    const MMRESULT code = it->second.first;
    if (--it->second.second == 0) {
        s.faults.erase(it);
    }
    return WaveFail(code, "simulated bench: injected failure");
}

class CSimDevice final : public CWaveDevice {
public:
    using CWaveDevice::CWaveDevice;

    bool HasHeader() { return Front() != nullptr; }

    MMRESULT InjectedFault(WaveCall call) override {
        std::lock_guard lock(State().mutex);
        return TakeFault(State(), Direction(), call);
    }

    MMRESULT Start() override {
        std::lock_guard lock(State().mutex);
        if (Direction() == WaveDirection::In) {
            State().inStarted = true;
        }
        State().wake.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override {
        std::lock_guard lock(State().mutex);
        if (Direction() == WaveDirection::In) {
            State().inStarted = false;
        }
        CompleteAll();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override {
        std::lock_guard lock(State().mutex);
        if (QueuedHeaders() != 0) {
            return WaveFail(WAVERR_STILLPLAYING, "buffers are still queued on the device");
        }
        BenchState& s = State();
        (Direction() == WaveDirection::In ? s.in : s.out) = nullptr;
        if (Direction() == WaveDirection::In) {
            s.inStarted = false;
        }
        ++s.closes[Index(Direction())];
        return MMSYSERR_NOERROR;
    }

protected:
    void OnHeaderQueued() override { State().wake.notify_all(); }

public:
    // One buffer period of a gone or coming-back card, bench lock held: true while the device
    // moves no data.
    bool OutageOnePeriod(BenchState& s) {
        if (!IsLost()) {
            if (!s.gone) {
                return false;
            }
            m_periodsToRetry = kReopenPeriods;
            MarkLost(MMSYSERR_NODRIVER, "simulated bench: the %s is gone; retrying",
                     Direction() == WaveDirection::In ? "line input" : "line output");
            return true;
        }
        if (--m_periodsToRetry > 0) {
            return true;
        }
        ++s.reopenAttempts;
        m_periodsToRetry = kReopenPeriods;
        if (!s.gone) {
            MarkBack();
        }
        return IsLost();
    }

    // One buffer period, bench lock held: output first, so what is played this period is what
    // the cable carries to the input in the same period.
    void PlayOnePeriod(BenchState& s) {
        WAVEHDR* h = Front();
        std::fill(s.line.begin(), s.line.end(), int16_t(0));
        if (h == nullptr) {
            return;
        }
        const size_t bytes = std::min<size_t>(h->dwBufferLength, s.line.size() * sizeof(int16_t));
        std::memcpy(s.line.data(), h->lpData, bytes);
        ++s.played;
        CompleteFront();
    }

    void CaptureOnePeriod(BenchState& s) {
        WAVEHDR* h = Front();
        const int64_t first = s.inputFrame;
        s.inputFrame += kFramesPerBuffer;
        if (h == nullptr) {
            CountDroppedInputFrames(kFramesPerBuffer);
            return;
        }
        const size_t frames =
            std::min<size_t>(h->dwBufferLength / kBytesPerFrame, kFramesPerBuffer);
        auto* samples = reinterpret_cast<int16_t*>(h->lpData);
        for (size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < kChannels; ++c) {
                const ChannelSignal& signal = s.signals[c];
                samples[f * kChannels + c] =
                    signal ? signal(first + int64_t(f)) : s.line[f * kChannels + c];
            }
        }
        h->dwBytesRecorded = uint32_t(frames * kBytesPerFrame);
        ++s.filled;
        CompleteFront();
    }

private:
    int m_periodsToRetry = 0; // bench lock
};

// An end open as "sim:dut" puts the device under test in the cable. It works on silence too:
// an amplifier with nothing at its input still hums.
bool OpenAs(const BenchState& s, const std::string& name) {
    return (s.in != nullptr && s.names[Index(WaveDirection::In)] == name) ||
           (s.out != nullptr && s.names[Index(WaveDirection::Out)] == name);
}

bool IsChainName(const std::string& name) {
    return name.rfind(kSimDutChainPrefix, 0) == 0;
}

void Tick(BenchState& s) {
    if (s.out != nullptr && !s.out->OutageOnePeriod(s)) {
        s.out->PlayOnePeriod(s);
    } else {
        std::fill(s.line.begin(), s.line.end(), int16_t(0));
    }
    if (s.chain && OpenAs(s, s.chainName)) {
        s.chain->Process(s.line.data(), kFramesPerBuffer);
    } else if (OpenAs(s, kSimDutDeviceName)) {
        s.dut.Process(s.line.data(), kFramesPerBuffer);
    }
    if (s.in != nullptr && s.inStarted && s.in->OutageOnePeriod(s)) {
        s.inputFrame += kFramesPerBuffer; // what the input missed while the card was gone
    } else if (s.in != nullptr && s.inStarted) {
        s.in->CaptureOnePeriod(s);
    }
}

// Real-time clock: one period every 4096/44100 s, paced from the period count so that it
// does not drift; idles (and restarts its phase) while no device is open.
void RunTicker() {
    NameThisThread("simulated card");
    using Clock = std::chrono::steady_clock;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBufferSeconds));
    BenchState& s = State();
    std::unique_lock lock(s.mutex);
    while (!s.quit) {
        const auto active = [&] {
            return s.quit ||
                   (s.clock == BenchClock::RealTime && (s.in != nullptr || s.out != nullptr));
        };
        s.wake.wait(lock, active);
        auto next = Clock::now() + period;
        while (!s.quit && active()) {
            if (s.wake.wait_until(lock, next, [&] { return s.quit || !active(); })) {
                break;
            }
            Tick(s);
            next += period;
        }
    }
}

struct TickerOwner {
    ~TickerOwner() {
        BenchState& s = State();
        {
            std::lock_guard lock(s.mutex);
            s.quit = true;
        }
        s.wake.notify_all();
        if (s.ticker.joinable()) {
            s.ticker.join();
        }
    }
};

void EnsureTicker(BenchState& s) {
    static TickerOwner owner;
    if (!s.ticker.joinable()) {
        s.ticker = std::thread(RunTicker);
    }
}

} // namespace

MMRESULT OpenSimulatedDevice(const std::string& name, WaveDirection direction, const WAVEFORMATEX&,
                             MessageTarget target, CWaveDevice** device) {
    // Built before taking the lock: designing its filters takes a few milliseconds.
    std::optional<CSimulatedDutChain> chain;
    if (IsChainName(name)) {
        std::string error;
        chain = ParseSimulatedDut(std::string_view(name).substr(strlen(kSimDutChainPrefix)), error);
        if (!chain) {
            return WaveFail(MMSYSERR_BADDEVICEID, "%s", error.c_str());
        }
    }
    BenchState& s = State();
    std::lock_guard lock(s.mutex);
    if (const MMRESULT fault = TakeFault(s, direction, WaveCall::Open)) {
        return fault;
    }
    if (s.gone) {
        return WaveFail(MMSYSERR_NODRIVER, "simulated bench: the card is gone");
    }
    CSimDevice*& slot = direction == WaveDirection::In ? s.in : s.out;
    if (slot != nullptr) {
        return WaveFail(MMSYSERR_ALLOCATED, "simulated bench: the %s is already open",
                        direction == WaveDirection::In ? "line input" : "line output");
    }
    // The other end already open by the same name keeps the chain it runs, state and all.
    if (chain && !OpenAs(s, name)) {
        s.chain = std::move(chain);
        s.chainName = name;
    }
    slot = new CSimDevice(direction, target);
    s.names[Index(direction)] = name;
    ++s.opens[Index(direction)];
    EnsureTicker(s);
    s.wake.notify_all();
    *device = slot;
    return MMSYSERR_NOERROR;
}

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
