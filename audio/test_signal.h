#pragma once
// The analysers' test-signal source: a tone at any frequency to 0.01 Hz and any level from
// -120 to 0 dBFS with optional TPDF dither, and the intermodulation signals (SMPTE
// 60 Hz + 7 kHz at 4:1, CCIF 19 + 20 kHz at 1:1, or any pair in any ratio), the same on both
// channels; or given stereo
// samples (a sweep) played once from their first frame, then silence.
// Unlike the panel's generator, each tone's phase is kept as an exact fraction of a cycle
// (a whole number of 1/4410000 cycle, reduced at every frame), so the millionth buffer is as
// clean as the first: no rounding error builds up with the frame count.
//
// Threads: Set and Current on any thread; Fill on the one thread that plays (the playback
// worker, or the GUI thread for the primed buffers, never both at once). A new signal starts
// at phase 0 (and its dither from its seed) at the next Fill.

#include "audio/exact_tone.h"
#include "audio/samples_departure.h"
#include "base/clock_stamp.h"
#include "base/fast_random.h"
#include "base/pcm_format.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

inline constexpr double kSmpteLowHz = 60.0;
inline constexpr double kSmpteHighHz = 7000.0;
inline constexpr double kCcifLowHz = 19000.0;
inline constexpr double kCcifHighHz = 20000.0;

enum class TestSignalKind { Tone, ImdSmpte, ImdCcif, Samples, ImdPair };
// The outputs a tone or a two-tone signal plays on; the other stays silent (crosstalk).
enum class TestSignalChannels { Both, Left, Right };

struct TestSignal {
    TestSignalKind kind = TestSignalKind::Tone;
    double freq_hz = 997.0;   // the tone's; ignored for the IMD signals
    double level_dbfs = -1.0; // a tone's RMS on AES17 (0 dBFS: amplitude 32768 x 1.0, clipped
                              // to 32767); for IMD, the two tones' summed peak
    bool dither = false;      // TPDF, +-1 LSB, added before rounding
    // Samples: interleaved stereo frames, played as they are (no level, no dither): codes for
    // the panel's source, fractions of full scale for a measurement stream's.
    std::shared_ptr<const std::vector<int16_t>> samples = nullptr;
    std::shared_ptr<const std::vector<float>> float_samples = nullptr;
    // ImdPair: freq_hz and this frequency, their amplitudes in this ratio (freq_hz's over this
    // one's), summing to the level's peak.
    double freq2_hz = kSmpteHighHz;
    double ratio = 4.0;
    TestSignalChannels channels = TestSignalChannels::Both; // ignored for samples
};

// Every new signal's dither starts here, so the same settings give the same samples.
inline constexpr uint64_t kTestSignalDitherSeed = 0x7E57'5167'9A1D'0001ull;

inline constexpr double kTestToneMinHz = 0.01;
inline constexpr double kTestToneMaxHz = kSampleRate / 2 - 0.01; // below Nyquist
inline constexpr double kTestLevelMinDbfs = -120.0;
inline constexpr double kTestLevelMaxDbfs = 0.0;
inline constexpr double kTestRatioMin = 1.0; // an ImdPair's amplitude ratio
inline constexpr double kTestRatioMax = 100.0;

// The signal as it will play: frequency rounded to 0.01 Hz and both figures brought into
// their ranges (a NaN goes to the default); the frequencies below Nyquist at rate_hz.
TestSignal NormalisedTestSignal(const TestSignal& signal, int rate_hz = int(kSampleRate));

// The sines a signal is made of, each with its share of the level's peak; 0 for samples.
struct TestTonePart {
    double freq_hz = 0;
    double share = 0;
};
int TestSignalParts(const TestSignal& signal, std::array<TestTonePart, 2>* parts);
// The outputs a tone or two-tone signal sounds on, L first; the other carries digital silence.
std::array<bool, 2> TestSignalOutputs(const TestSignal& signal);

// Peak of a level in codes before rounding and clipping: 32768 x 10^(level_dbfs / 20).
double TestSignalPeak(double level_dbfs);

class CTestSignalSource {
public:
    CTestSignalSource();

    void Set(const TestSignal& signal);
    // The signal last set, normalised.
    TestSignal Current() const;
    // Writes `frames` interleaved stereo frames (L first). played: when the first frame of
    // what the buffer held before left for the line (a buffer coming back from the device).
    void Fill(int16_t* interleaved, int frames, ClockStamp played = {});
    // When the first frame of the samples last set left for the line, by the latest buffer
    // of them (or of the silence after them) to come back with a known stamp; none before,
    // after another Set, or for a signal that is not samples. Any thread.
    ClockStamp SamplesDeparture() const;

private:
    void Begin(const TestSignal& signal);
    void FillSamples(int16_t* interleaved, int frames);
    // A buffer filled with samples has come back: what its stamp says of their first frame.
    void TellDeparture(const int16_t* buffer, ClockStamp played);

    mutable std::mutex m_mutex; // guards m_pending and m_retired, never held while filling
    TestSignal m_pending;
    // The samples Set replaced, kept alive here so that the filling thread, still holding
    // them until its next Fill, is never the one that frees them.
    std::shared_ptr<const std::vector<int16_t>> m_retired;
    std::atomic<bool> m_changed{true};
    uint64_t m_setCount = 0; // guarded by m_mutex: the Sets, to tell whose departure is known
    CSamplesDeparture m_departure;

    // Filling thread only.
    std::array<ExactTone, 2> m_tones{}; // amplitudes in codes
    int m_toneCount = 0;
    bool m_dither = false;
    std::array<bool, 2> m_plays{true, true}; // per output channel, L first
    CFastRandom m_random;
    std::shared_ptr<const std::vector<int16_t>> m_samples;
    size_t m_sampleAt = 0; // the next value's index in *m_samples
    // The buffers filled since the samples began, each with the frames before its first: one
    // that comes back played tells when the samples' first frame left.
    struct Filled {
        const int16_t* buffer = nullptr;
        int64_t offset = 0;
    };
    static constexpr size_t kTracked = 8; // more than the buffers a playback keeps in flight
    std::array<Filled, kTracked> m_filled{};
    size_t m_nextSlot = 0;
    int64_t m_samplesFilled = -1; // frames filled since the samples began; -1: not samples
};
