#pragma once
// CSoundDevice: the audio engine as the panel sees it. It owns the capture and playback thread
// objects, the WAV recorder while a recording is open, the signal generator's settings and the
// analysers' test-signal source. Every captured buffer goes to OnCaptureBuffer, then to the
// capture tap if one is set, then, while recording, to the recorder; every played buffer is
// refilled by the test signal while it is on, else by the generator.
//
// Threads: construction, destruction and the Start/Stop operations run on the GUI thread.
// CaptureCallback, OnCaptureBuffer, TapBuffer and RecordBuffer run on the capture worker;
// PlaybackCallback and FillOutputBuffer on the playback worker, and on the GUI thread for the
// three buffers each playback start primes. The generator fields are written by the GUI thread
// (m_freqL/m_freqR also by the capture worker) and read at the next buffer.

#include "audio/buffer_queue.h"
#include "audio/sample_buffer.h"
#include "audio/sound_in.h"
#include "audio/sound_play.h"
#include "audio/stream/stream_format.h"
#include "audio/test_signal.h"
#include "engine/test_signal_user.h"
#include "files/wav_file.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

inline constexpr const char* kWriteFailedText = "Unable to write to file";
inline constexpr const char* kRecordingGapText =
    "Recording stopped: input frames were lost. The file holds everything before the gap.";

// How a request to lend the card to an analyser's measurement stream went.
enum class CardLoan {
    Lent,        // capture and playback stopped, their devices closed
    Recording,   // a recording runs: it would end at a gap, so the card stays the panel's
    CaptureBusy, // the capture worker waits on the user in a box and holds its device
    Held,        // a device could not be closed in time; the panel goes on as before
};

// How a capture reopen went.
enum class CaptureReopen {
    Reopened, // capturing from the device the wave layer names now
    Failed,   // that device could not start (reported); capture is stopped
    KeptOld,  // the worker holds buffers that name the device in use, waiting on the user in a
              // box: that device could not be let go and goes on capturing
};

class CSoundDevice {
public:
    CSoundDevice();
    // Finishes a recording that is still open, so its file gets its final sizes, then stops
    // capture and playback.
    virtual ~CSoundDevice();

    CSoundDevice(const CSoundDevice&) = delete;
    CSoundDevice& operator=(const CSoundDevice&) = delete;

    // Called once per captured buffer with its first byte: 4096 interleaved frames. Nothing
    // here; the panel overrides it. Capture worker.
    virtual void OnCaptureBuffer(const uint8_t* samples);
    // A gap in the input has just ended the recording (m_recording is 0 again); called before
    // kRecordingGapText is shown. Nothing here; the panel releases its RECORD button. Capture
    // worker.
    virtual void OnRecordingEndedAtGap();
    // The card was lent at `lentAt` (an analyser's measurement stream holds it) or, none, is the
    // panel's again. Nothing here; the panel says so on its status strip. GUI thread.
    virtual void OnCardLoan(const std::optional<StreamFormat>& lentAt);

    // GUI thread. The starts ignore the threads' results: a failure is already reported.
    void StartCapture();
    // The end of the input stream: the buffers it hands back part-filled go to the tap alone.
    void StopCapture();
    void StartPlayback();
    // Leaves playback running while the test signal is on: the panel's source switch must not
    // cut an analyser's signal. StopTestSignal stops it then, unless the generator is on.
    void StopPlayback();
    // GUI thread. Capture stopped, its device closed, and capture started again on the device
    // the wave layer names now. Nothing is touched while the capture worker waits on the user.
    CaptureReopen ReopenCapture();
    // GUI thread. Playback stopped and started again on the device the wave layer names now;
    // false when it could not start (already reported).
    bool ReopenPlayback();
    // Opens a new recording with the capture format. A file that cannot be created still
    // leaves a recorder, which fails every write until StopRecording.
    void StartRecording(const char* path);
    // Finishes and closes the recording. Waits for a write in progress on the capture worker,
    // so no buffer ever reaches a finished file.
    void StopRecording();

    // GUI thread. An analyser takes the card at a format of its own: capture and playback stop
    // and their devices close, so a measurement stream can open the card; lending it again
    // changes only the format told. Until ReturnCard nothing of the panel's opens a device:
    // the starts and reopens only remember what to bring back.
    CardLoan LendCard(const StreamFormat& format);
    // GUI thread. Capture starts again, and playback while the generator or the test signal is
    // on. Nothing when the card is not lent.
    void ReturnCard();
    // The format the card is lent at; none while it is the panel's. GUI thread.
    const std::optional<StreamFormat>& CardLentAt() const { return m_lentAt; }

    // GUI thread (main thread when headless). The line output becomes the test signal's:
    // playback starts if it was not running; the generator's settings and readouts stay
    // untouched, and it comes back at StopTestSignal if it is still on (else playback stops).
    // Calling it again changes the playing signal, from its phase 0. False when playback could
    // not start (already reported); the test signal counts as on all the same, so that a
    // later start plays it and StopTestSignal still ends it.
    //
    // user: who plays it (none when headless, with one user only). A start by another user
    // takes the signal (the one before is told first); a stop by a user who no longer has the
    // signal leaves it playing. A user must stop before it goes.
    bool StartTestSignal(const TestSignal& signal, TestSignalUser* user = nullptr);
    void StopTestSignal(const TestSignalUser* user = nullptr);
    bool TestSignalOn() const;
    // When the first frame of the samples the test signal last started left for the line, as
    // the output device's position told it; none until the buffer carrying it has played (and
    // for good on a device that cannot tell). Any thread.
    ClockStamp TestSignalDeparture() const;

    // Each captured buffer (4096 interleaved frames; the frames recorded, when a stop cuts one
    // short; none handed back unfilled) goes to the tap on the capture worker, after
    // OnCaptureBuffer. gapCount: the xruns and dropped input frames counted so far
    // (WaveGapCount) when the device finished filling this buffer: cumulative, so a change
    // means the stream has a hole just before this buffer or inside it.
    using CaptureTapFn = void (*)(const int16_t* interleaved, int frames, uint64_t gapCount,
                                  void* context);
    // Any thread, but never from inside the tap. Setting nullptr waits for a call in
    // progress, so the context may be destroyed once it returns. Costs one atomic load per
    // buffer while no tap is set.
    void SetCaptureTap(CaptureTapFn fn, void* context);
    // The tap set, and its context (for a test that wraps it). Any thread.
    std::pair<CaptureTapFn, void*> CaptureTap();
    // Inside the tap only: when the tapped buffer's first frame was captured, on the clock
    // TestSignalDeparture is told on; none when the input device cannot tell.
    ClockStamp TappedStamp() const { return m_tappedStamp; }

    // Appends the buffer to the recording when one is running; a failed write shows
    // kWriteFailedText, once per buffer. A recording holds one unbroken stretch of input: a
    // buffer that does not follow on from the one captured before it (part-filled, or stamped
    // with another input gap count) ends a recording that holds audio, which shows
    // kRecordingGapText, and is not the first buffer of one that holds none yet. Capture worker.
    void RecordBuffer(const SampleBuffer* buffer);
    // One buffer of test signal while it is on, the generator's frame position left alone;
    // else one buffer of generator output at the shared frame position; nothing at all while
    // both are off. Playback worker or GUI thread.
    bool FillOutputBuffer(SampleBuffer* buffer);
    // Hands the buffer to the capture tap, if one is set. Capture worker.
    void TapBuffer(const SampleBuffer* buffer);

    static void CaptureCallback(SampleBuffer* buffer, void* context);
    static void PlaybackCallback(SampleBuffer* buffer, void* context);

    std::atomic<int32_t> m_waveL{0}; // 0 sine, 1 triangle, 2 square
    std::atomic<int32_t> m_waveR{0};
    std::atomic<bool> m_generatorOn{false};
    std::atomic<int32_t> m_recording{0}; // 1 while a recording runs
    std::atomic<int32_t> m_freqL{0};     // whole hertz
    std::atomic<int32_t> m_freqR{0};
    std::atomic<int32_t> m_attenL{1}; // amplitude divisor 1, 2, 4, 8, 16 (0 .. -24 dB)
    std::atomic<int32_t> m_attenR{1};
    // Owned, never used: buffers travel by callback (see CBufferQueue).
    CBufferQueue m_captureQueue;
    CBufferQueue m_playbackQueue;
    // Guarded by m_recorderMutex, which is held across a write but never across an alert box,
    // so a worker waiting on the user cannot stall StopRecording on the GUI thread.
    CWavFile* m_recorder = nullptr;
    // Set through StartTestSignal; declared before the thread objects, as the playback worker
    // fills from it.
    CTestSignalSource m_testSignal;

private:
    // Capture stopped and its device closed once the worker has released every buffer the stop
    // handed back (they name the device); false, stopped but still open, when it could not be
    // let go. GUI thread.
    bool CloseCapture();
    // Playback stopped, waiting (bounded) for its worker to drain and close the device; false
    // when the device is still open. GUI thread.
    bool ClosePlayback();

    std::optional<StreamFormat> m_lentAt; // GUI thread only
    // Declared before the thread objects: they must outlive the capture and playback workers.
    std::mutex m_recorderMutex;
    // RecordBuffer's caller only: the input gap count of the buffer before, none before the
    // first.
    std::optional<uint64_t> m_lastInputGapCount;
    std::atomic<bool> m_testSignalOn{false};    // written by the GUI thread
    TestSignalUser* m_testSignalUser = nullptr; // GUI thread only
    std::atomic<bool> m_captureStopping{false}; // written by the GUI thread, in StopCapture
    // Held across a tap call, so that clearing the tap waits it out.
    std::mutex m_tapMutex;
    CaptureTapFn m_tapFn = nullptr; // guarded by m_tapMutex
    void* m_tapContext = nullptr;   // guarded by m_tapMutex
    std::atomic<bool> m_tapSet{false};
    ClockStamp m_tappedStamp; // guarded by m_tapMutex: the buffer being tapped

public:
    // Declared in this order so that members are destroyed capture first, then playback.
    CSoundPlay m_soundPlay;
    CSoundIn m_soundIn;
};
