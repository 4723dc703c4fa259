#include "headless/stream_run.h"

#include "audio/measure_stream_open.h"
#include "audio/wave/wave_api.h"
#include "headless/headless_run.h"

#include <cstdio>

std::unique_ptr<CStreamRun> CStreamRun::Open(const RunOptions& options) {
    const std::string device = options.device ? *options.device : WaveDeviceName(WaveDirection::In);
    std::string error;
    std::unique_ptr<CMeasureStream> stream = OpenMeasureStream(device, options.stream, &error);
    if (!stream) {
        std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
        return nullptr;
    }
    return std::unique_ptr<CStreamRun>(new CStreamRun(std::move(stream)));
}

CStreamRun::CStreamRun(std::unique_ptr<CMeasureStream> stream)
    : m_stream(std::move(stream)), m_source(m_stream->Format()) {}

CStreamRun::~CStreamRun() {
    m_stream->Stop();
}

bool CStreamRun::Start(StreamTapFn tap, void* context, const std::optional<TestSignal>& signal) {
    if (signal) {
        m_source.Set(*signal);
    }
    std::string error;
    if (!m_stream->Start(tap, context, &m_source, &error)) {
        std::fprintf(stderr, "%s: cannot start '%s' at %s: %s\n", kTool, Device().c_str(),
                     FormatText().c_str(), error.c_str());
        return false;
    }
    return true;
}

std::string CStreamRun::FormatText() const {
    return DescribeStreamFormat(m_stream->Format(), false);
}

void AnnounceStreamLength(const CStreamRun& run, const char* what, int64_t frames) {
    std::fprintf(stderr, "%s: at %s, %s of %lld frames (%.3f s)\n", kTool, run.FormatText().c_str(),
                 what, static_cast<long long>(frames), double(frames) / run.RateHz());
}
