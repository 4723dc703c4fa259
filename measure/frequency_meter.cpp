#include "measure/frequency_meter.h"

#include "base/pcm_format.h"
#include "measure/fft.h"
#include "measure/readout.h"

int PeakBinToHertz(int bin) {
    return static_cast<int>(bin * kHertzPerPeakBin);
}

void MeasureFrequencies(const int16_t* block, IReadout& x1Freq, IReadout& x2Freq) {
    float left[kBlockFrames];
    float right[kBlockFrames];
    for (int k = 0; k < kBlockFrames; ++k) {
        left[k] = block[2 * k];
        right[k] = block[2 * k + 1];
    }

    CFftCalc fft;
    x1Freq.SetValue(PeakBinToHertz(fft.PeakBin(left)));
    x2Freq.SetValue(PeakBinToHertz(fft.PeakBin(right)));
}
