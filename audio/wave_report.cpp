#include "audio/wave_report.h"

#include "audio/sample_buffer.h"
#include "base/format_and_alert.h"

#include <cstdio>

void ReleaseHeader(WAVEHDR* header) {
    ReleaseSampleBytes(header->lpData);
    delete header;
}

void ReportWaveError(WaveDirection direction, MMRESULT code, const char* where, bool waits) {
    char text[kErrorTextChars];
    const bool in = direction == WaveDirection::In;
    (in ? waveInGetErrorText : waveOutGetErrorText)(code, text, kErrorTextChars);
    char message[2 * kErrorTextChars];
    std::snprintf(message, sizeof message, "%s:%x:%s %s", in ? "WAVEIN" : "WAVEOUT", code, text,
                  where);
    Alert alert{message, std::string(), AlertIcon::Warning};
    alert.waits = waits;
    ShowAlert(alert);
}
