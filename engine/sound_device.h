#pragma once
// CSoundDevice: the audio engine as the panel sees it. It owns the capture and playback thread
// objects, the WAV recorder while a recording is open and the signal generator's settings.
// Every captured buffer goes to OnCaptureBuffer and then, while recording, to the recorder;
// every played buffer is refilled by the generator.
//
// Threads: construction, destruction and the Start/Stop operations run on the GUI thread.
// CaptureCallback, OnCaptureBuffer and RecordBuffer run on the capture worker;
// PlaybackCallback and FillOutputBuffer on the playback worker, and on the GUI thread for the
// three buffers each playback start primes. The generator fields are written by the GUI thread
// (m_freqL/m_freqR also by the capture worker) and read at the next buffer.

#include "buffer_queue.h"
#include "sample_buffer.h"
#include "sound_in.h"
#include "sound_play.h"
#include "wav_file.h"

#include <atomic>
#include <cstdint>
#include <mutex>

inline constexpr const char* kWriteFailedText = "Unable to write to file";

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
    // Stops capture and playback and finishes a recording that is still open, so its file
    // gets its final sizes.
    virtual ~CSoundDevice();

    CSoundDevice(const CSoundDevice&) = delete;
    CSoundDevice& operator=(const CSoundDevice&) = delete;

    // Called once per captured buffer with its first byte: 4096 interleaved frames. Nothing
    // here; the panel overrides it. Capture worker.
    virtual void OnCaptureBuffer(const uint8_t* samples);

    // GUI thread. The starts ignore the threads' results: a failure is already reported.
    void StartCapture();
    void StopCapture();
    void StartPlayback();
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

    // Appends the buffer to the recording when one is running; a failed write shows
    // kWriteFailedText, once per buffer. Capture worker.
    void RecordBuffer(const SampleBuffer* buffer);
    // One buffer of generator output at the shared frame position; nothing at all while
    // m_generatorOn is clear. Playback worker or GUI thread.
    bool FillOutputBuffer(SampleBuffer* buffer);

    static void CaptureCallback(SampleBuffer* buffer, void* context);
    static void PlaybackCallback(SampleBuffer* buffer, void* context);

    std::atomic<int32_t> m_waveL{0};       // 0 sine, 1 triangle, 2 square
    std::atomic<int32_t> m_waveR{0};
    std::atomic<bool> m_generatorOn{false};
    std::atomic<int32_t> m_recording{0};   // 1 while a recording runs
    std::atomic<int32_t> m_freqL{0};       // whole hertz
    std::atomic<int32_t> m_freqR{0};
    std::atomic<int32_t> m_attenL{1};      // amplitude divisor 1, 2, 4, 8, 16 (0 .. -24 dB)
    std::atomic<int32_t> m_attenR{1};
    // Owned, never used: buffers travel by callback (see CBufferQueue).
    CBufferQueue m_captureQueue;
    CBufferQueue m_playbackQueue;
    // Guarded by m_recorderMutex, which is held across a write but never across an alert box,
    // so a worker waiting on the user cannot stall StopRecording on the GUI thread.
    CWavFile* m_recorder = nullptr;

private:
    // Declared before the thread objects: it must outlive the capture worker.
    std::mutex m_recorderMutex;

public:
    // Declared in this order so that members are destroyed capture first, then playback.
    CSoundPlay m_soundPlay;
    CSoundIn m_soundIn;
};
