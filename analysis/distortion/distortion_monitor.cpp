#include "analysis/distortion/distortion_monitor.h"

#include "analysis/common/sample_fraction.h"

#include <algorithm>

namespace {

int ClampedBlock(int frames) {
    return std::clamp(frames, kMinDistortionBlockFrames, kMaxDistortionBlockFrames);
}

} // namespace

DistortionRow DistortionRowWithRoom() {
    DistortionRow row;
    for (std::vector<double>& residual : row.residual_dbfs) {
        // Sized, not only reserved: a copy of the row keeps the room.
        residual.resize(size_t(kMaxDistortionBlockFrames / 2 + 1));
    }
    return row;
}

CDistortionMonitor::CDistortionMonitor(std::function<void(const DistortionRow&)> sink,
                                       bool withSpectra)
    : m_sink(std::move(sink)), m_withSpectra(withSpectra),
      // The largest block from the start: a new size never allocates on the capture worker.
      m_block(size_t(2) * kMaxDistortionBlockFrames) {
    if (withSpectra) {
        for (std::vector<double>& residual : m_row.residual_dbfs) {
            residual.reserve(size_t(kMaxDistortionBlockFrames / 2 + 1));
        }
    }
    m_analysers = MakeAnalysers(m_settings.block_frames, m_settings.sample_rate_hz);
    m_pendingAnalysers = m_analysers;
}

CDistortionMonitor::~CDistortionMonitor() = default;

std::shared_ptr<CDistortionMonitor::Analysers> CDistortionMonitor::MakeAnalysers(int frames,
                                                                                 double rateHz) {
    auto analysers = std::make_shared<Analysers>();
    analysers->frames = frames;
    analysers->rate_hz = rateHz;
    for (auto& analyser : analysers->channel) {
        analyser = std::make_unique<CDistortionAnalyser>(frames, rateHz);
    }
    return analysers;
}

void CDistortionMonitor::SetSettings(const DistortionMonitorSettings& settings) {
    DistortionMonitorSettings taken = settings;
    taken.block_frames = ClampedBlock(settings.block_frames);
    std::shared_ptr<Analysers> analysers;
    {
        std::lock_guard lock(m_pendingMutex);
        analysers = m_pendingAnalysers;
    }
    // Planned outside the lock: the capture worker may look for new settings meanwhile.
    if (analysers->frames != taken.block_frames || analysers->rate_hz != taken.sample_rate_hz) {
        analysers = MakeAnalysers(taken.block_frames, taken.sample_rate_hz);
    }
    std::shared_ptr<Analysers> retired;
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending = taken;
        m_pendingAnalysers.swap(analysers);
        m_changed = true;
        retired.swap(m_retired);
    }
    // The analysers the worker gave up, and any made above that lost a race, end here rather
    // than on the capture worker.
}

void CDistortionMonitor::TakeSettings() {
    std::lock_guard lock(m_pendingMutex);
    if (!m_changed) {
        return;
    }
    m_changed = false;
    m_settings = m_pending;
    if (m_analysers != m_pendingAnalysers) {
        m_retired = std::move(m_analysers);
        m_analysers = m_pendingAnalysers;
    }
    m_filled = 0;
    m_blockGap = false;
}

void CDistortionMonitor::Tap(const int16_t* interleaved, int frames, uint64_t gapCount,
                             void* self) {
    static_cast<CDistortionMonitor*>(self)->Append(interleaved, frames, gapCount);
}

void CDistortionMonitor::TapFloat(const float* interleaved, int frames, uint64_t gapCount,
                                  void* self) {
    static_cast<CDistortionMonitor*>(self)->Append(interleaved, frames, gapCount);
}

void CDistortionMonitor::Append(const int16_t* interleaved, int frames, uint64_t gapCount) {
    AppendSamples(interleaved, frames, gapCount);
}

void CDistortionMonitor::Append(const float* interleaved, int frames, uint64_t gapCount) {
    AppendSamples(interleaved, frames, gapCount);
}

template <class Sample>
void CDistortionMonitor::AppendSamples(const Sample* interleaved, int frames, uint64_t gapCount) {
    TakeSettings();
    if (m_sawAny && gapCount != m_gapCount) {
        m_blockGap = true;
    }
    m_sawAny = true;
    m_gapCount = gapCount;

    const int blockFrames = m_analysers->frames;
    while (frames > 0) {
        if (m_filled == 0) {
            m_blockStartFrame = m_framesSeen;
        }
        const int take = std::min(frames, blockFrames - m_filled);
        double* to = m_block.data() + size_t(2) * m_filled;
        for (int i = 0; i < 2 * take; ++i) {
            to[i] = SampleFraction(interleaved[i]);
        }
        interleaved += 2 * take;
        frames -= take;
        m_filled += take;
        m_framesSeen += take;
        if (m_filled == blockFrames) {
            FinishBlock();
            m_filled = 0;
            m_blockGap = false;
        }
    }
}

void CDistortionMonitor::FinishBlock() {
    DistortionRow& row = m_row;
    row.time_s = double(m_blockStartFrame) / m_analysers->rate_hz;
    row.gap = m_blockGap;
    row.bin_hz = m_analysers->channel[0]->BinHz();
    for (int ch = 0; ch < 2; ++ch) {
        CDistortionAnalyser& analyser = *m_analysers->channel[ch];
        std::vector<double>& residual = row.residual_dbfs[ch];
        if (row.gap) {
            // Refused whole: the block is not one stretch of signal, so no figure describes it.
            row.channels[ch] = DistortionReading{};
            row.imd[ch] = m_settings.imd ? std::optional(ImdReading{}) : std::nullopt;
            residual.clear();
            continue;
        }
        row.channels[ch] = analyser.Analyse(m_block.data() + ch, 2, m_settings.analysis);
        if (m_withSpectra) {
            const std::vector<double>& spectrum = analyser.ResidualSpectrumDbfs();
            residual.assign(spectrum.begin(), spectrum.end());
        }
        row.imd[ch] =
            m_settings.imd
                ? std::optional(analyser.AnalyseImd(m_block.data() + ch, 2, *m_settings.imd))
                : std::nullopt;
    }
    m_sink(row);
}
