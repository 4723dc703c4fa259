#pragma once
// What the capture and playback threads do alike when a header leaves circulation or the
// device fails: release the header with its bytes, and report "WAVEIN:%x:%s %s" or
// "WAVEOUT:%x:%s %s" with the device's text for the calling thread's latest failure.

#include "audio/wave/wave_api.h"
#include "audio/wave/wave_types.h"

// Releases a header the thread allocated and the sample bytes it points to.
void ReleaseHeader(WAVEHDR* header);

// waits=false: the report does not hold the reporting worker (an outage the device recovers
// from by itself must not wait for the user).
void ReportWaveError(WaveDirection direction, MMRESULT code, const char* where, bool waits = true);
