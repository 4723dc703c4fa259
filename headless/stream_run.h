#pragma once
// A measuring command at a rate or sample format other than the panel's: the card held as a
// measurement stream (audio/measure_stream_open.h) with the test signal at its format, and the
// lines such a run says on stderr. The panel's own format (44100 Hz, s16) never comes here: it
// runs on the engine as it always has. Main thread, except where a comment says otherwise.

#include "audio/stream/measure_stream.h"
#include "audio/stream_signal.h"
#include "headless/run_options.h"

#include <memory>
#include <optional>
#include <string>

// Whether the run needs a stream of its own.
inline bool AtStreamFormat(const RunOptions& options) {
    return !options.stream.IsPanelFormat();
}

class CStreamRun {
public:
    // The device of --device (else the one the panel would choose, TAVRIN_AUDIO) at the run's
    // format, after BeginRun. Nothing after the one line that says why not (a refusal names
    // what the device offers): the run then exits kExitDeviceFailed.
    static std::unique_ptr<CStreamRun> Open(const RunOptions& options);
    ~CStreamRun(); // stops the stream first

    // Starts both directions: the tap (on the stream's I/O thread) gets every period, the
    // outputs play `signal`, or silence. False after the one line that says why.
    bool Start(StreamTapFn tap, void* context, const std::optional<TestSignal>& signal);
    // What the outputs play from the next period on.
    void Play(const TestSignal& signal) { m_source.Set(signal); }
    void Stop() { m_stream->Stop(); }

    const CMeasureStream& Stream() const { return *m_stream; }
    const std::string& Device() const { return m_stream->DeviceName(); }
    int RateHz() const { return m_stream->Format().rate_hz; }
    // "96 kHz/24-bit".
    std::string FormatText() const;

private:
    explicit CStreamRun(std::unique_ptr<CMeasureStream> stream);

    std::unique_ptr<CMeasureStream> m_stream;
    CStreamSignalSource m_source;
};

// "at 96 kHz/24-bit, blocks of 65536 frames (0.683 s)": what a length in frames lasts at the
// run's rate.
void AnnounceStreamLength(const CStreamRun& run, const char* what, int64_t frames);
