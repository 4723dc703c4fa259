#include "audio/sim/simulated_stream.h"

#include "audio/sim/simulated_card.h"
#include "audio/sim/simulated_dut.h"
#include "audio/sim/simulated_dut_chain.h"
#include "audio/stream/alsa_stream.h"
#include "base/thread_name.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

using namespace simcard;

namespace {

class CSimulatedStream final : public CMeasureStream {
public:
    CSimulatedStream(const std::string& name, StreamFormat format,
                     std::optional<CSimulatedDutChain> chain, std::optional<CSimulatedDut> dut)
        : CMeasureStream(name, format, AlsaStreamPeriodFrames(format.rate_hz)),
          m_chain(std::move(chain)), m_dut(std::move(dut)),
          m_dither((m_chain && m_chain->Dithers()) || (m_dut && m_dut->Model().converter_dither)),
          // a seed of its own, so that the converter's dither is not the stages' noise again
          m_random(kSimDutNoiseSeed ^ 0xD17Eull) {
        const size_t frames = size_t(PeriodFrames());
        m_played.resize(2 * frames);
        m_captured.resize(2 * frames);
        for (auto& channel : m_cable) {
            channel.resize(frames);
        }
    }

    ~CSimulatedStream() override {
        Stop();
        BenchState& s = State();
        std::lock_guard lock(s.mutex);
        s.streamOpen = false;
    }

    bool Start(StreamTapFn tap, void* context, IStreamSource* source, std::string* error) override {
        if (m_thread.joinable()) {
            *error = DeviceName() + ": the stream is already running";
            return false;
        }
        BenchState& s = State();
        {
            std::lock_guard lock(s.mutex);
            if (s.gone) {
                *error = "simulated bench: the card is gone";
                return false;
            }
            m_realTime = s.clock == BenchClock::RealTime;
            m_first = CardStamp(s);
        }
        m_thread = std::jthread([this, tap, context, source](std::stop_token stop) {
            Run(stop, tap, context, source);
        });
        return true;
    }

    void Stop() override {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
    }

private:
    void Run(std::stop_token stop, StreamTapFn tap, void* context, IStreamSource* source) {
        NameThisThread("simulated strm");
        using Clock = std::chrono::steady_clock;
        const int frames = PeriodFrames();
        const double rate = Format().rate_hz;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(frames / rate));
        std::mutex pace;
        std::condition_variable_any wake;
        auto next = Clock::now() + period;
        for (int64_t frame = 0; !stop.stop_requested(); frame += frames) {
            RunPeriod(source);
            tap(m_captured.data(), frames, 0, StampAfterFrames(m_first, double(frame), rate),
                context);
            if (m_realTime) {
                // Paced from the period count, so that it does not drift.
                std::unique_lock lock(pace);
                wake.wait_until(lock, stop, next, [] { return false; });
                next += period;
            }
        }
    }

    // One period: the source through the playback converter, the cable, the capture converter.
    // What is played in a period is captured in the same one: a plain cable's round trip is 0.
    void RunPeriod(IStreamSource* source) {
        const int frames = PeriodFrames();
        if (source != nullptr) {
            source->Fill(m_played.data(), frames);
        } else {
            std::fill(m_played.begin(), m_played.end(), 0.0f);
        }
        const bool integer = Format().format != SampleFormat::Float;
        const int bits = SampleBits(Format().format);
        // A real card's DAC gets integer codes: the source's floats rounded to them, undithered
        // (dither is the source's business, as the panel's generator does its own).
        for (int n = 0; n < frames; ++n) {
            for (int c = 0; c < 2; ++c) {
                const double x = m_played[size_t(2 * n + c)];
                m_cable[c][size_t(n)] = integer ? QuantiseToBits(x, bits, nullptr) : x;
            }
        }
        if (m_chain) {
            m_chain->ProcessAnalog(m_cable[0].data(), m_cable[1].data(), frames);
        } else if (m_dut) {
            m_dut->ProcessAnalog(m_cable[0].data(), frames);
            m_dut->ProcessAnalog(m_cable[1].data(), frames);
        }
        CFastRandom* dither = m_dither ? &m_random : nullptr;
        for (int n = 0; n < frames; ++n) {
            for (int c = 0; c < 2; ++c) {
                const double y = m_cable[c][size_t(n)];
                m_captured[size_t(2 * n + c)] =
                    float(integer ? QuantiseToBits(y, bits, dither) : y);
            }
        }
    }

    std::optional<CSimulatedDutChain> m_chain;
    std::optional<CSimulatedDut> m_dut;
    const bool m_dither;
    CFastRandom m_random; // the capture converter's dither; I/O thread
    std::vector<float> m_played;
    std::vector<double> m_cable[2];
    std::vector<float> m_captured;
    bool m_realTime = true; // set by Start before the thread starts
    ClockStamp m_first;
    std::jthread m_thread;
};

StreamOffer EverythingOffered() {
    StreamOffer offer;
    offer.rates_hz.assign(kStreamRates.begin(), kStreamRates.end());
    offer.formats = {SampleFormat::S16, SampleFormat::S24, SampleFormat::S32, SampleFormat::Float};
    return offer;
}

} // namespace

std::unique_ptr<CMeasureStream> OpenSimulatedStream(const std::string& name, StreamFormat format,
                                                    std::string* error) {
    if (!IsStreamRate(format.rate_hz)) {
        *error = RefusalLine(name, format, EverythingOffered());
        return nullptr;
    }
    // Built before taking the lock: designing its filters takes a few milliseconds.
    std::optional<CSimulatedDutChain> chain;
    if (IsChainName(name)) {
        chain = ParseSimulatedDut(std::string_view(name).substr(strlen(kSimDutChainPrefix)), *error,
                                  format.rate_hz);
        if (!chain) {
            return nullptr;
        }
    }
    BenchState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.gone) {
        *error = "simulated bench: the card is gone";
        return nullptr;
    }
    if (s.streamOpen || s.in != nullptr || s.out != nullptr) {
        *error = "simulated bench: the card is in use" +
                 std::string(s.streamOpen ? " by another measurement stream"
                                          : "; close the panel's devices first");
        return nullptr;
    }
    std::optional<CSimulatedDut> dut;
    if (name == kSimDutDeviceName) {
        dut.emplace(s.dut.Model());
    }
    s.streamOpen = true;
    return std::make_unique<CSimulatedStream>(name, format, std::move(chain), std::move(dut));
}
