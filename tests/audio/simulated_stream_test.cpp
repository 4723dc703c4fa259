// The simulated card is one card: a measurement stream opened by its name and the panel's 16-bit
// devices never hold it at once, whichever came first.
#include "audio/measure_stream_open.h"
#include "audio/sim/simulated_bench.h"
#include "audio/wave/wave_api.h"
#include "audio/wave_open.h"

#include <gtest/gtest.h>

namespace {

TEST(SimulatedStream, TheCardIsBusyWhileTheOtherHoldsIt) {
    CSimulatedBench::Instance().Reset();
    SelectWaveBackend("sim");
    CMessageQueue queue; // no header is ever queued, so nothing is posted here
    const WAVEFORMATEX format = CPcmFormat().m_format;
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, &format, &queue), MMSYSERR_NOERROR);
    std::string error;
    EXPECT_EQ(OpenMeasureStream("sim", {96000, SampleFormat::S24}, &error), nullptr);
    EXPECT_NE(error.find("the card is in use"), std::string::npos) << error;
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);

    auto stream = OpenMeasureStream("sim", {96000, SampleFormat::S24}, &error);
    ASSERT_NE(stream, nullptr) << error;
    EXPECT_EQ(stream->DeviceName(), "sim");
    EXPECT_EQ(OpenMeasureStream("sim:dut", {48000, SampleFormat::S16}, &error), nullptr);
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, &format, &queue), MMSYSERR_ALLOCATED);
    stream.reset();
    ASSERT_EQ(waveOutOpen(&out, &format, &queue), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    SelectWaveBackend(nullptr);
}

} // namespace
