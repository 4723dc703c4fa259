#include "audio/sim/simulated_bench.h"
#include "audio/wave/device_list.h"
#include "audio/wave/wave_api.h"
#include "audio/wave_open.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceList, HintsGiveOneLineDevicesPerDirectionDefaultFirst) {
    const std::vector<AlsaHint> hints = {
        {"null", "Discard all samples (playback) or generate zero samples (capture)", ""},
        {"hw:CARD=Mic,DEV=0", "USB Mic, USB Audio\nDirect hardware device without conversions",
         "Input"},
        {"default", "Default ALSA Output (currently PulseAudio Sound Server)", ""},
        {"hw:CARD=Spk,DEV=0", "Speaker\n\nFront", "Output"},
        {"null", "listed twice", ""},
        {"", "no name", ""},
    };
    const std::vector<AudioDeviceInfo> capture = {
        {"default", "Default ALSA Output (currently PulseAudio Sound Server)"},
        {"null", "Discard all samples (playback) or generate zero samples (capture)"},
        {"hw:CARD=Mic,DEV=0", "USB Mic, USB Audio, Direct hardware device without conversions"},
    };
    const std::vector<AudioDeviceInfo> playback = {
        {"default", "Default ALSA Output (currently PulseAudio Sound Server)"},
        {"null", "Discard all samples (playback) or generate zero samples (capture)"},
        {"hw:CARD=Spk,DEV=0", "Speaker, Front"},
    };
    EXPECT_EQ(DevicesFromHints(hints, WaveDirection::In), capture);
    EXPECT_EQ(DevicesFromHints(hints, WaveDirection::Out), playback);
    const std::vector<AudioDeviceInfo> plain = {{"default", kPlainDefaultDescription},
                                                {"hw:CARD=Spk,DEV=0", "Speaker, Front"}};
    EXPECT_EQ(DevicesFromHints({hints[3]}, WaveDirection::Out), plain);
}

class DeviceChoice : public testing::Test {
protected:
    ~DeviceChoice() override {
        SetWaveDevices("", "");
        SelectWaveBackend(nullptr);
    }
    CMessageQueue m_queue; // no header is ever queued, so nothing is posted here
};

// A name set per direction comes before the environment's choice; an empty one leaves it there.
TEST_F(DeviceChoice, NamesSetPerDirectionComeBeforeTheEnvironment) {
    struct Case {
        const char* environment;
        const char* input;
        const char* output;
        const char* inputName;
        const char* outputName;
    };
    const Case cases[] = {
        {"alsa", "", "", "default", "default"},
        {"alsa:hw:1,0", "", "", "hw:1,0", "hw:1,0"},
        {"sim", "", "", "sim", "sim"},
        {"sim", "hw:CARD=Mic", "", "hw:CARD=Mic", "sim"},
        {"alsa", "sim:2", "default", "sim:2", "default"},
    };
    for (const Case& c : cases) {
        SelectWaveBackend(c.environment);
        SetWaveDevices(c.input, c.output);
        EXPECT_EQ(WaveDeviceName(WaveDirection::In), c.inputName) << c.environment << c.input;
        EXPECT_EQ(WaveDeviceName(WaveDirection::Out), c.outputName) << c.environment << c.output;
    }
}

TEST_F(DeviceChoice, TheSimulatedBenchKnowsTheNameItWasOpenedBy) {
    CSimulatedBench::Instance().Reset();
    SetWaveDevices("sim:2", "");
    HWAVEIN device = nullptr;
    const WAVEFORMATEX format = CPcmFormat().m_format;
    ASSERT_EQ(waveInOpen(&device, &format, &m_queue), MMSYSERR_NOERROR);
    EXPECT_EQ(CSimulatedBench::Instance().OpenDeviceName(WaveDirection::In), "sim:2");
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(CSimulatedBench::Instance().OpenDeviceName(WaveDirection::In), "");
}

TEST_F(DeviceChoice, AnEnvironmentNamingNoBackendFailsTheOpenWithItsText) {
    SelectWaveBackend("pulse");
    HWAVEIN device = nullptr;
    const WAVEFORMATEX format = CPcmFormat().m_format;
    EXPECT_EQ(waveInOpen(&device, &format, &m_queue), MMSYSERR_BADDEVICEID);
    char text[kErrorTextChars];
    waveInGetErrorText(MMSYSERR_BADDEVICEID, text, kErrorTextChars);
    EXPECT_STREQ(text, "TAVRIN_AUDIO=pulse is not one of alsa, alsa:NAME, sim");
}

// A device under test that does not parse must not open as a plain cable.
TEST_F(DeviceChoice, ABadDeviceUnderTestFailsTheOpenNamingTheFault) {
    CSimulatedBench::Instance().Reset();
    SetWaveDevices("sim:dut=lowpass:1000:0.7+lopass:1000:0.7", "");
    HWAVEIN device = nullptr;
    const WAVEFORMATEX format = CPcmFormat().m_format;
    EXPECT_EQ(waveInOpen(&device, &format, &m_queue), MMSYSERR_BADDEVICEID);
    EXPECT_FALSE(CSimulatedBench::Instance().IsOpen(WaveDirection::In));
    char text[kErrorTextChars];
    waveInGetErrorText(MMSYSERR_BADDEVICEID, text, kErrorTextChars);
    EXPECT_STREQ(text, "sim:dut: unknown stage 'lopass'");
}

} // namespace
