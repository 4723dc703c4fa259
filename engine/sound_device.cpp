#include "engine/sound_device.h"

#include "audio/generator.h"
#include "base/format_and_alert.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace {
// Longest wait of ReopenCapture for the capture worker to release its buffers.
constexpr auto kReleaseWait = std::chrono::seconds(1);
} // namespace

// The generator's block is copied to the device as it stands in memory.
static_assert(std::endian::native == std::endian::little, "sample blocks are little-endian");

CSoundDevice::CSoundDevice() {
    // The workers are already running, but neither uses its callback before its start
    // operation, which refuses to run without one.
    m_soundPlay.m_callback = &CSoundDevice::PlaybackCallback;
    m_soundPlay.m_callbackContext = this;
    m_soundIn.m_callback = &CSoundDevice::CaptureCallback;
    m_soundIn.m_callbackContext = this;
}

CSoundDevice::~CSoundDevice() {
    // The recording first, at the last buffer it holds: stopping capture hands the queued
    // buffers back part-filled or not filled at all, and what they hold beyond the frames
    // recorded is audio from three buffers earlier.
    m_recording = 0;
    StopRecording();
    m_soundIn.Stop();
    m_soundPlay.stop();
}

void CSoundDevice::OnCaptureBuffer(const uint8_t*) {}

void CSoundDevice::OnRecordingEndedAtGap() {}

void CSoundDevice::OnCardLoan(const std::optional<StreamFormat>&) {}

void CSoundDevice::StartCapture() {
    if (!m_lentAt) {
        m_soundIn.Start(nullptr);
    }
}

void CSoundDevice::StopCapture() {
    // The stream ends here: the buffers the stop hands back part-filled do not break it.
    m_captureStopping = true;
    m_soundIn.Stop();
    m_captureStopping = false;
}

void CSoundDevice::StartPlayback() {
    // While lent, m_generatorOn alone says that playback comes back with the card.
    if (!m_lentAt) {
        m_soundPlay.start(nullptr);
    }
}

void CSoundDevice::StopPlayback() {
    if (!m_testSignalOn.load()) {
        m_soundPlay.stop();
    }
}

bool CSoundDevice::StartTestSignal(const TestSignal& signal, TestSignalUser* user) {
    if (m_testSignalOn.load() && m_testSignalUser != user && m_testSignalUser != nullptr) {
        std::exchange(m_testSignalUser, nullptr)->TestSignalTaken();
    }
    m_testSignalUser = user;
    m_testSignal.Set(signal);
    m_testSignalOn = true;
    // While lent the signal waits for the card to come back, as after a failed start.
    return !m_lentAt && (m_soundPlay.m_running || m_soundPlay.start(nullptr));
}

void CSoundDevice::StopTestSignal(const TestSignalUser* user) {
    if (!m_testSignalOn.load() || user != m_testSignalUser) {
        return;
    }
    m_testSignalUser = nullptr;
    // Stopped before the flag goes, so no refill in between finds neither source and queues
    // the buffer's old bytes again.
    if (!m_generatorOn.load()) {
        m_soundPlay.stop();
    }
    m_testSignalOn = false;
}

bool CSoundDevice::TestSignalOn() const {
    return m_testSignalOn.load();
}

ClockStamp CSoundDevice::TestSignalDeparture() const {
    return m_testSignal.SamplesDeparture();
}

void CSoundDevice::SetCaptureTap(CaptureTapFn fn, void* context) {
    std::lock_guard lock(m_tapMutex);
    m_tapFn = fn;
    m_tapContext = context;
    m_tapSet.store(fn != nullptr, std::memory_order_release);
}

std::pair<CSoundDevice::CaptureTapFn, void*> CSoundDevice::CaptureTap() {
    std::lock_guard lock(m_tapMutex);
    return {m_tapFn, m_tapContext};
}

void CSoundDevice::TapBuffer(const SampleBuffer* buffer) {
    if (!m_tapSet.load(std::memory_order_acquire) || buffer == nullptr ||
        buffer->m_data == nullptr) {
        return;
    }
    // Stopping hands the queued buffers back unfilled; their old bytes are no part of the stream.
    const int frames = std::clamp(buffer->m_recordedBytes, 0, buffer->m_length) / kBytesPerFrame;
    if (frames == 0) {
        return;
    }
    std::lock_guard lock(m_tapMutex);
    m_tappedStamp = buffer->m_stamp;
    if (m_tapFn != nullptr) {
        m_tapFn(reinterpret_cast<const int16_t*>(buffer->m_data), frames, buffer->m_gapCount,
                m_tapContext);
    }
}

CaptureReopen CSoundDevice::ReopenCapture() {
    if (m_lentAt) {
        return CaptureReopen::Reopened; // the device named now opens when the card comes back
    }
    // A worker in a box holds a buffer that names the device, and would hold the rest once
    // stopped: the device could not close, and stopping would only wait for the user.
    if (WaitsOnUser(m_soundIn.WorkerId())) {
        return CaptureReopen::KeptOld;
    }
    if (!CloseCapture()) {
        // Still held (a box raised meanwhile, or a worker that never came back): the device in
        // use starts again rather than leave the input dead under a name it does not have.
        m_soundIn.Start(nullptr);
        return CaptureReopen::KeptOld;
    }
    return m_soundIn.Start(nullptr) ? CaptureReopen::Reopened : CaptureReopen::Failed;
}

bool CSoundDevice::CloseCapture() {
    m_soundIn.Stop();
    // Stop keeps the device open for the next Start; another owner needs it closed, but only
    // once the worker has released every buffer the reset handed back, as they name the device.
    const auto deadline = std::chrono::steady_clock::now() + kReleaseWait;
    while (m_soundIn.m_queuedCount.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (m_soundIn.m_hWaveIn != nullptr && (m_soundIn.m_queuedCount.load() > 0 ||
                                           waveInClose(m_soundIn.m_hWaveIn) != MMSYSERR_NOERROR)) {
        return false;
    }
    m_soundIn.m_hWaveIn = nullptr;
    return true;
}

bool CSoundDevice::ReopenPlayback() {
    if (m_lentAt) {
        return true; // opens when the card comes back
    }
    // start waits for the stopped device to drain and close before it opens the next one.
    m_soundPlay.stop();
    return m_soundPlay.start(nullptr);
}

bool CSoundDevice::ClosePlayback() {
    m_soundPlay.stop();
    // The worker closes the device once the reset has handed every buffer back.
    const auto deadline = std::chrono::steady_clock::now() + CSoundPlay::kDrainWait;
    while (m_soundPlay.m_hWaveOut.load() != nullptr &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_soundPlay.m_hWaveOut.load() == nullptr;
}

CardLoan CSoundDevice::LendCard(const StreamFormat& format) {
    if (!m_lentAt) {
        if (m_recording.load() != 0) {
            return CardLoan::Recording;
        }
        if (WaitsOnUser(m_soundIn.WorkerId())) {
            return CardLoan::CaptureBusy;
        }
        // The panel's stream ends here: buffers handed back part-filled make no picture.
        m_captureStopping = true;
        const bool captureClosed = CloseCapture();
        m_captureStopping = false;
        if (!captureClosed || !ClosePlayback()) {
            // Whatever closed comes back, so the panel goes on as it was.
            m_soundIn.Start(nullptr);
            if (m_generatorOn.load() || m_testSignalOn.load()) {
                m_soundPlay.start(nullptr);
            }
            return CardLoan::Held;
        }
    }
    m_lentAt = format;
    OnCardLoan(m_lentAt);
    return CardLoan::Lent;
}

void CSoundDevice::ReturnCard() {
    if (!m_lentAt) {
        return;
    }
    m_lentAt.reset();
    m_soundIn.Start(nullptr);
    if (m_generatorOn.load() || m_testSignalOn.load()) {
        m_soundPlay.start(nullptr);
    }
    OnCardLoan(m_lentAt);
}

void CSoundDevice::StartRecording(const char* path) {
    // One recording at a time: an earlier one is finished, not abandoned, and its lock is
    // released before the new file is opened (it may be the same file).
    StopRecording();
    auto* recorder = new CWavFile(path != nullptr ? path : "", &m_soundIn.m_format);
    std::lock_guard lock(m_recorderMutex);
    m_recorder = recorder;
}

void CSoundDevice::StopRecording() {
    CWavFile* recorder = nullptr;
    {
        // Taking the lock waits out a write in progress; once the pointer is cleared no
        // later write can reach this recorder.
        std::lock_guard lock(m_recorderMutex);
        recorder = m_recorder;
        m_recorder = nullptr;
    }
    delete recorder;
}

void CSoundDevice::RecordBuffer(const SampleBuffer* buffer) {
    if (buffer == nullptr) {
        return;
    }
    // Looked at for every buffer, recorded or not, so that a recording's first buffer must
    // follow on from the one before it as well: a hole can sit inside it.
    const bool followsOn =
        buffer->m_recordedBytes == buffer->m_length &&
        m_lastInputGapCount.value_or(buffer->m_inputGapCount) == buffer->m_inputGapCount;
    m_lastInputGapCount = buffer->m_inputGapCount;
    if (m_recording.load(std::memory_order_relaxed) != 1) {
        return;
    }
    bool written = false;
    CWavFile* ended = nullptr;
    {
        std::lock_guard lock(m_recorderMutex);
        if (m_recorder == nullptr) {
            return;
        }
        if (followsOn) {
            written = m_recorder->Write(*buffer);
        } else if (m_recorder->m_dataBytes == 0) {
            return; // nothing recorded yet: the recording starts with the next buffer
        } else {
            // Appending after the gap would join two stretches of input as if they were one.
            ended = m_recorder;
            m_recorder = nullptr;
            m_recording = 0;
        }
    }
    // Outside the lock: the box waits for the user, and StopRecording must not wait for that.
    if (ended != nullptr) {
        delete ended;
        OnRecordingEndedAtGap();
        ShowAlert({kRecordingGapText, std::string(), AlertIcon::None});
    } else if (!written) {
        ShowAlert({kWriteFailedText, std::string(), AlertIcon::None});
    }
}

bool CSoundDevice::FillOutputBuffer(SampleBuffer* buffer) {
    const bool testSignal = m_testSignalOn.load(std::memory_order_relaxed);
    if (!testSignal && !m_generatorOn.load(std::memory_order_relaxed)) {
        return false;
    }
    // A buffer whose allocation failed carries no bytes; it is passed on untouched.
    if (buffer == nullptr || buffer->m_data == nullptr) {
        return false;
    }
    if (testSignal) {
        // The generator's position stays where it is, so it resumes its own waveform.
        m_testSignal.Fill(reinterpret_cast<int16_t*>(buffer->m_data),
                          std::max(buffer->m_length, 0) / kBytesPerFrame, buffer->m_stamp);
        return true;
    }
    // Each channel's settings are read once per buffer, so a change takes effect at the next.
    const GeneratorChannel left{m_waveL.load(std::memory_order_relaxed),
                                m_freqL.load(std::memory_order_relaxed),
                                m_attenL.load(std::memory_order_relaxed)};
    const GeneratorChannel right{m_waveR.load(std::memory_order_relaxed),
                                 m_freqR.load(std::memory_order_relaxed),
                                 m_attenR.load(std::memory_order_relaxed)};
    // Claimed before computing so that two fills can never produce the same positions.
    const int64_t first = g_generatorSampleCount.fetch_add(kFramesPerBuffer);
    int16_t block[kFramesPerBuffer * kChannels];
    SynthesizeBuffer(left, right, first, block);
    const size_t bytes = std::min<size_t>(sizeof block, size_t(std::max(buffer->m_length, 0)));
    std::memcpy(buffer->m_data, block, bytes);
    return true;
}

void CSoundDevice::CaptureCallback(SampleBuffer* buffer, void* context) {
    auto* device = static_cast<CSoundDevice*>(context);
    // Beyond its recorded frames such a buffer holds input from three buffers earlier: no
    // picture, row or recording is made of it.
    if (buffer->m_recordedBytes < buffer->m_length && device->m_captureStopping.load()) {
        device->TapBuffer(buffer);
        return;
    }
    device->OnCaptureBuffer(buffer->m_data);
    device->TapBuffer(buffer);
    device->RecordBuffer(buffer);
}

void CSoundDevice::PlaybackCallback(SampleBuffer* buffer, void* context) {
    static_cast<CSoundDevice*>(context)->FillOutputBuffer(buffer);
}
