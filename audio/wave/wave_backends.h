#pragma once
// The two ways of opening a device; wave_api.cpp picks one per open.

#include "wave_device.h"

#include <string>

// ALSA device `name` (e.g. "default"), S16_LE, 2 channels, 44100 Hz, period 4096 frames.
MMRESULT OpenAlsaDevice(const std::string& name, WaveDirection direction,
                        const WAVEFORMATEX& format, MessageTarget target, CWaveDevice** device);

// The simulated bench's device for `direction`, known by `name` while it is open.
MMRESULT OpenSimulatedDevice(const std::string& name, WaveDirection direction,
                             const WAVEFORMATEX& format, MessageTarget target,
                             CWaveDevice** device);

void CountXrun();
// An xrun of a capture device: an xrun, and a hole in the captured stream.
void CountCaptureXrun();
void CountDroppedInputFrames(uint64_t frames);
// A capture device lost (unplugged, its sound server gone): what it missed is a hole too.
void CountInputOutage();
