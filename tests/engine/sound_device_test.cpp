// The engine's own logic, driven directly on the test thread: generator fills, recording and
// its failures, callbacks, construction and destruction. No device is opened.
#include "engine/sound_device.h"
#include "tests/engine/engine_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace enginetest;

namespace {

class SoundDeviceTest : public ::testing::Test {
protected:
    ~SoundDeviceTest() override { std::filesystem::remove_all(m_dir); }

    // Hands one whole buffer of `fill` bytes to RecordBuffer, as the capture worker would.
    void Record(CSoundDevice& device, uint8_t fill) {
        std::vector<uint8_t> data(kBufferBytes, fill);
        SampleBuffer buffer(data.data(), int32_t(data.size()));
        buffer.m_recordedBytes = buffer.m_length;
        device.RecordBuffer(&buffer);
    }

    CAlertRecorder m_alerts;
    std::string m_dir = ScratchDir();
    std::string m_path = m_dir + "/take.wav";
};

TEST_F(SoundDeviceTest, ConstructedState) {
    CSoundDevice device;
    EXPECT_EQ(device.m_attenL, 1);
    EXPECT_EQ(device.m_attenR, 1);
    EXPECT_EQ(device.m_freqL, 0);
    EXPECT_EQ(device.m_freqR, 0);
    EXPECT_EQ(device.m_waveL, 0);
    EXPECT_EQ(device.m_waveR, 0);
    EXPECT_FALSE(device.m_generatorOn);
    EXPECT_EQ(device.m_recording, 0);
    EXPECT_EQ(device.m_recorder, nullptr);
    EXPECT_EQ(device.m_soundIn.m_callbackContext, &device);
    EXPECT_EQ(device.m_soundPlay.m_callbackContext, &device);
}

TEST_F(SoundDeviceTest, GeneratorOffLeavesBufferAndPositionAlone) {
    CSoundDevice device;
    device.m_freqL = 1000;
    std::vector<uint8_t> data(kBufferBytes, 0xA5);
    SampleBuffer buffer(data.data(), kBufferBytes);
    const int64_t before = g_generatorSampleCount;
    CSoundDevice::PlaybackCallback(&buffer, &device);
    EXPECT_EQ(g_generatorSampleCount, before);
    EXPECT_EQ(data, std::vector<uint8_t>(kBufferBytes, 0xA5));
    EXPECT_EQ(buffer.m_length, kBufferBytes);
}

TEST_F(SoundDeviceTest, PlaybackCallbackFillsConsecutiveBuffersFromTheSharedPosition) {
    CSoundDevice device;
    device.m_waveL = kWaveTriangle;
    device.m_freqL = 1000;
    device.m_waveR = kWaveSine;
    device.m_freqR = 441;
    device.m_attenR = 4;
    device.m_generatorOn = true;
    const int64_t first = g_generatorSampleCount;
    std::vector<uint8_t> played;
    for (int b = 0; b < 3; ++b) {
        std::vector<uint8_t> data(kBufferBytes, 0);
        SampleBuffer buffer(data.data(), kBufferBytes);
        CSoundDevice::PlaybackCallback(&buffer, &device);
        EXPECT_EQ(buffer.m_length, kBufferBytes);
        played.insert(played.end(), data.begin(), data.end());
    }
    EXPECT_EQ(g_generatorSampleCount, first + 3 * kFramesPerBuffer);
    EXPECT_EQ(played, GeneratorBytes({kWaveTriangle, 1000, 1}, {kWaveSine, 441, 4}, first, 3));

    // A buffer without bytes (a failed allocation) is passed over without claiming frames.
    SampleBuffer empty(nullptr, kBufferBytes);
    EXPECT_FALSE(device.FillOutputBuffer(&empty));
    EXPECT_EQ(g_generatorSampleCount, first + 3 * kFramesPerBuffer);
}

struct CRecordingProbe : CSoundDevice {
    void OnCaptureBuffer(const uint8_t* samples) override {
        firstByte = samples[0];
        fileBytesSeen = std::filesystem::file_size(path);
    }
    std::string path;
    int firstByte = -1;
    uintmax_t fileBytesSeen = 0;
};

TEST_F(SoundDeviceTest, CaptureCallbackShowsTheBufferThenRecordsIt) {
    CRecordingProbe device;
    device.path = m_path;
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    std::vector<uint8_t> data(kBufferBytes, 0x42);
    SampleBuffer buffer(data.data(), kBufferBytes);
    buffer.m_recordedBytes = kBufferBytes;
    CSoundDevice::CaptureCallback(&buffer, &device);
    EXPECT_EQ(device.firstByte, 0x42);
    EXPECT_EQ(device.fileBytesSeen, 46u);
    EXPECT_EQ(std::filesystem::file_size(m_path), 46u + kBufferBytes);
    device.m_recording = 0;
    device.StopRecording();
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

struct TapCase {
    int32_t recordedBytes;
    int expectedFrames; // 0: the tap is not called
};

class SoundDeviceTap : public ::testing::TestWithParam<TapCase> {};

// The tap gets what the device recorded, with the gap count the device stamped on it; a
// buffer a stop handed back unfilled is no part of the stream.
TEST_P(SoundDeviceTap, HandsOverTheRecordedFramesWithTheirGapCount) {
    struct Seen {
        int calls = 0;
        int frames = -1;
        uint64_t gaps = 0;
        int16_t first = 0;
    } seen;
    CSoundDevice device;
    device.SetCaptureTap(
        [](const int16_t* samples, int frames, uint64_t gaps, void* context) {
            auto* s = static_cast<Seen*>(context);
            ++s->calls;
            s->frames = frames;
            s->gaps = gaps;
            s->first = samples[0];
        },
        &seen);
    std::vector<int16_t> data(size_t(kFramesPerBuffer) * kChannels, 1234);
    SampleBuffer buffer(reinterpret_cast<uint8_t*>(data.data()), kBufferBytes);
    buffer.m_recordedBytes = GetParam().recordedBytes;
    buffer.m_gapCount = 77;
    CSoundDevice::CaptureCallback(&buffer, &device);
    if (GetParam().expectedFrames == 0) {
        EXPECT_EQ(seen.calls, 0);
        return;
    }
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.frames, GetParam().expectedFrames);
    EXPECT_EQ(seen.gaps, 77u);
    EXPECT_EQ(seen.first, 1234);

    device.SetCaptureTap(nullptr, nullptr);
    CSoundDevice::CaptureCallback(&buffer, &device);
    EXPECT_EQ(seen.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(Recorded, SoundDeviceTap,
                         ::testing::Values(TapCase{kBufferBytes, kFramesPerBuffer},
                                           TapCase{1000 * kBytesPerFrame + 2, 1000},
                                           TapCase{2, 0}, TapCase{0, 0},
                                           TapCase{kBufferBytes * 2, kFramesPerBuffer}));

TEST_F(SoundDeviceTest, RecordsOnlyWhileFlagAndRecorderAreBothThere) {
    CSoundDevice device;
    Record(device, 1);  // neither
    device.StartRecording(m_path.c_str());
    Record(device, 2);  // recorder, flag still 0
    device.m_recording = 1;
    Record(device, 3);
    Record(device, 4);
    device.StopRecording();
    EXPECT_EQ(device.m_recorder, nullptr);
    Record(device, 5);  // flag still 1, no recorder
    const auto bytes = ReadAll(m_path);
    ASSERT_EQ(bytes.size(), 46u + 2 * kBufferBytes);
    EXPECT_EQ(bytes[46], 3);
    EXPECT_EQ(bytes[46 + kBufferBytes], 4);
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

// One captured buffer as the device hands it over: `fill` in every byte, the bytes it
// recorded and the input gap count it was stamped with.
struct CapturedPiece {
    uint8_t fill;
    int32_t recordedBytes;
    uint64_t inputGaps;
};

struct GapCase {
    const char* name;
    // The first piece is captured before the recording starts; the rest while it runs.
    std::vector<CapturedPiece> pieces;
    std::vector<uint8_t> recordedFills; // the file's buffers, by their fill
    bool endedAtGap;                     // with kRecordingGapText, the recording off
};

void PrintTo(const GapCase& gap, std::ostream* os) {
    *os << gap.name;
}

class SoundDeviceGap : public SoundDeviceTest, public ::testing::WithParamInterface<GapCase> {};

// A recording is one unbroken stretch of input: a buffer that does not follow on from the one
// before it ends a recording that holds audio, and never starts one.
TEST_P(SoundDeviceGap, RecordingNeverJoinsTwoStretches) {
    struct CEndProbe : CSoundDevice {
        void OnRecordingEndedAtGap() override { ++ended; }
        int ended = 0;
    } device;
    const auto capture = [&](const CapturedPiece& piece) {
        std::vector<uint8_t> data(kBufferBytes, piece.fill);
        SampleBuffer buffer(data.data(), kBufferBytes);
        buffer.m_recordedBytes = piece.recordedBytes;
        buffer.m_inputGapCount = piece.inputGaps;
        CSoundDevice::CaptureCallback(&buffer, &device);
    };
    const std::vector<CapturedPiece>& pieces = GetParam().pieces;
    capture(pieces.front());
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    for (size_t i = 1; i < pieces.size(); ++i) {
        capture(pieces[i]);
    }
    const auto bytes = ReadAll(m_path);
    std::vector<uint8_t> fills;
    for (size_t at = 46; at < bytes.size(); at += kBufferBytes) {
        fills.push_back(bytes[at]);
    }
    EXPECT_EQ(bytes.size(), 46 + fills.size() * kBufferBytes);
    EXPECT_EQ(fills, GetParam().recordedFills);
    const bool ended = GetParam().endedAtGap;
    EXPECT_EQ(device.ended, ended ? 1 : 0);
    EXPECT_EQ(device.m_recording, ended ? 0 : 1);
    EXPECT_EQ(device.m_recorder == nullptr, ended);
    EXPECT_EQ(m_alerts.Texts(), ended ? std::vector<std::string>{kRecordingGapText}
                                      : std::vector<std::string>{});
    device.StopRecording();
}

constexpr int32_t kWhole = kBufferBytes;
constexpr int32_t kHalf = kBufferBytes / 2; // a stop handed it back half-filled

INSTANTIATE_TEST_SUITE_P(
    Gaps, SoundDeviceGap,
    ::testing::Values(
        GapCase{"PartFilledBuffer",
                {{0, kWhole, 5}, {1, kWhole, 5}, {2, kWhole, 5}, {3, kHalf, 5}, {4, kWhole, 5}},
                {1, 2},
                true},
        GapCase{"GapBeforeTheFirstBuffer",
                {{0, kWhole, 5}, {1, kWhole, 6}, {2, kWhole, 6}, {3, kWhole, 6}},
                {2, 3},
                false}),
    [](const ::testing::TestParamInfo<GapCase>& info) { return std::string(info.param.name); });

TEST_F(SoundDeviceTest, FailedWritesShowOnePlainBoxPerBuffer) {
    for (const std::string& path : {m_dir + "/missing/take.wav", std::string("/dev/full")}) {
        CSoundDevice device;
        device.m_recording = 1;
        device.StartRecording(path.c_str());
        ASSERT_NE(device.m_recorder, nullptr) << path;
        for (int b = 0; b < 3; ++b) {
            Record(device, uint8_t(b));
        }
        device.m_recording = 0;
        device.StopRecording();
        EXPECT_EQ(device.m_recorder, nullptr);
        device.m_recording = 1;
        Record(device, 9);
        const auto alerts = m_alerts.Alerts();
        ASSERT_EQ(alerts.size(), 3u) << path;
        for (const auto& alert : alerts) {
            EXPECT_EQ(alert.text, "Unable to write to file");
            EXPECT_EQ(alert.icon, AlertIcon::None);
            EXPECT_TRUE(alert.caption.empty());
        }
        m_alerts.Clear();
    }
}

TEST_F(SoundDeviceTest, NewRecordingFinishesTheOpenOne) {
    CSoundDevice device;
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    Record(device, 7);
    const std::string second = m_dir + "/second.wav";
    device.StartRecording(second.c_str());
    Record(device, 8);
    // The same file again: the first recorder's lock must already be gone.
    device.StartRecording(m_path.c_str());
    Record(device, 9);
    device.StopRecording();
    EXPECT_EQ(ReadAll(second).size(), 46u + kBufferBytes);
    const auto bytes = ReadAll(m_path);
    ASSERT_EQ(bytes.size(), 46u + kBufferBytes);
    EXPECT_EQ(bytes[46], 9);
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

TEST_F(SoundDeviceTest, DestructionFinishesAnOpenRecording) {
    {
        CSoundDevice device;
        device.m_recording = 1;
        device.StartRecording(m_path.c_str());
        Record(device, 1);
    }
    EXPECT_EQ(ReadAll(m_path).size(), 46u + kBufferBytes);
    const CPcmFormat pcm;
    CWavFile again(m_path, &pcm.m_format);
    EXPECT_EQ(again.m_mode, CWavFile::kModeWrite) << "the finished recording still holds its lock";
}

} // namespace
