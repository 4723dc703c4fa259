#pragma once
// A measurement stream: an analyser's own hold on the card, both directions, at a rate and sample
// format of its choosing (stream_format.h), while the panel's 16-bit stream has let the card go.
// Captured periods reach a tap as float frames (+-1.0); played periods are asked of a source as
// float frames and converted to the device's format on the way out.
//
// Backends: ALSA (alsa_stream.h) and the simulated card (audio/sim/simulated_stream.h); the
// table that picks one by device name is audio/measure_stream_open.h.
//
// Threads: Open, Start, Stop and the destructor on the owner's thread; the tap and the source
// are called on the stream's own I/O thread, one call at a time, and must not block or allocate.

#include "audio/stream/stream_format.h"
#include "base/clock_stamp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Called for each captured period: `frames` interleaved stereo frames, L first. gapCount
// changes whenever the stream has a hole just before this period (an overrun, a reopen), as the
// panel's taps count it; stamp: when the first frame was at the converter, none when unknown.
using StreamTapFn = void (*)(const float* interleaved, int frames, uint64_t gapCount,
                             ClockStamp stamp, void* context);

// What the line output plays. Fill writes `frames` interleaved stereo frames at the stream's
// rate; silence when it has nothing. I/O thread.
class IStreamSource {
public:
    virtual ~IStreamSource() = default;
    // Before each Fill: when the first frame of the period about to be filled will leave for the
    // line, on the clock the captured periods are stamped on; none when the device cannot tell.
    virtual void Departing(ClockStamp) {}
    virtual void Fill(float* interleaved, int frames) = 0;
};

class CMeasureStream {
public:
    virtual ~CMeasureStream() = default; // stops first when running

    CMeasureStream(const CMeasureStream&) = delete;
    CMeasureStream& operator=(const CMeasureStream&) = delete;

    // Starts both directions: the source (none: silence) plays and the tap is called for each
    // captured period until Stop. False, with the reason in one line in *error, when the device
    // cannot start. The tap and source must outlive the run.
    virtual bool Start(StreamTapFn tap, void* context, IStreamSource* source,
                       std::string* error) = 0;
    // Waits for the tap and source calls in progress; none after it returns. Idempotent.
    virtual void Stop() = 0;

    const StreamFormat& Format() const { return m_format; }
    // The device's own name, as opened ("hw:1", "sim:dut=lowpass:40000:0.707").
    const std::string& DeviceName() const { return m_device; }
    // Frames in each call of the tap.
    int PeriodFrames() const { return m_periodFrames; }
    // Overruns and underruns recovered since Start. Any thread.
    virtual uint64_t Xruns() const { return 0; }

protected:
    CMeasureStream(std::string device, StreamFormat format, int periodFrames)
        : m_device(std::move(device)), m_format(format), m_periodFrames(periodFrames) {}

private:
    const std::string m_device;
    const StreamFormat m_format;
    const int m_periodFrames;
};

// What a device offers, for the one-line refusal: the rates of kStreamRates and the sample
// formats it accepts in both directions.
struct StreamOffer {
    std::vector<int> rates_hz;
    std::vector<SampleFormat> formats;
};

// "'NAME' does not offer 96000 Hz s24; it offers 44100, 48000 Hz and s16, s32" - the one line
// of a refusal (exit 3 in the commands).
std::string RefusalLine(const std::string& device, const StreamFormat& asked,
                        const StreamOffer& offer);
