#include "audio/sim/simulated_card.h"

#include "base/thread_name.h"

namespace simcard {

BenchState& State() {
    static BenchState state;
    return state;
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

bool OpenAs(const BenchState& s, const std::string& name) {
    return (s.in != nullptr && s.names[Index(WaveDirection::In)] == name) ||
           (s.out != nullptr && s.names[Index(WaveDirection::Out)] == name);
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
    s.cardFrame += kFramesPerBuffer;
}

namespace {

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

} // namespace simcard

using namespace simcard;

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
    if (s.streamOpen) {
        return WaveFail(MMSYSERR_ALLOCATED, "simulated bench: the card is in use by a measurement "
                                            "stream at another format");
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
