#pragma once
// What the backends (ALSA here, the simulated card in audio/sim) and the table that picks one
// per open (audio/wave_open.cpp) share with the wave layer.

#include "audio/wave/wave_device.h"

#include <string>

// The device name for `direction`; false with the cause recorded when TAVRIN_AUDIO names none.
bool ResolveWaveDevice(WaveDirection direction, std::string* name);

// ALSA device `name` (e.g. "default"), S16_LE, 2 channels, 44100 Hz, period 4096 frames.
MMRESULT OpenAlsaDevice(const std::string& name, WaveDirection direction,
                        const WAVEFORMATEX& format, MessageTarget target, CWaveDevice** device);

void CountXrun();
// An xrun of a capture device: an xrun, and a hole in the captured stream.
void CountCaptureXrun();
void CountDroppedInputFrames(uint64_t frames);
// A capture device lost (unplugged, its sound server gone): what it missed is a hole too.
void CountInputOutage();
