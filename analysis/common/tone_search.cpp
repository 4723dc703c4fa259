#include "analysis/common/tone_search.h"

#include "analysis/common/tone_fit.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>

namespace {

int CheckedFrames(int frames) {
    if (frames < 2) {
        throw std::invalid_argument("CToneSearch: a block needs 2 frames or more");
    }
    return frames;
}

} // namespace

CToneSearch::CToneSearch(int frames, double sampleRateHz)
    : m_sampleRateHz(sampleRateHz), m_binHz(sampleRateHz / frames), m_fft(CheckedFrames(frames)),
      m_window(MakeBlackmanHarris7(frames)) {}

void CToneSearch::Transform(const double* x, double mean) {
    double* in = m_fft.Input();
    const double* w = m_window.w.data();
    for (int k = 0; k < Frames(); ++k) {
        in[k] = (x[k] - mean) * w[k];
    }
    m_fft.Execute();
}

std::optional<double> CToneSearch::FindHz(const double* x, const BlockSums& sums, double loHz,
                                          double hiHz, const FitLimits& limits) const {
    const double lowest = std::max(loHz, kToneSearchLowestHz);
    const double highest = std::min(hiHz, kToneSearchTopShareOfNyquist * 0.5 * m_sampleRateHz);
    const int kFrom = int(std::ceil(lowest / m_binHz));
    const int kTo = std::min(int(std::floor(highest / m_binHz)), Bins() - 1);
    const std::optional<double> bin = StrongestLineBin(Spectrum(), Bins(), kFrom, kTo);
    if (!bin) {
        return std::nullopt;
    }
    const double start[] = {*bin * m_binHz};
    const std::optional<SineFit> fit =
        FitSine(std::span<const double>(x, size_t(Frames())), sums, start, limits, m_sampleRateHz);
    if (!fit) {
        return std::nullopt;
    }
    return fit->hertz;
}

std::optional<double> CToneSearch::FindStrongestHz(const double* x, const BlockSums& sums,
                                                   const FitLimits& limits) const {
    return FindHz(x, sums, 0.0, 0.5 * m_sampleRateHz, limits);
}
