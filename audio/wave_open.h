#pragma once
// Opening a wave device: the table that picks the backend for the name chosen (wave_api.h:
// SetWaveDevices, else TAVRIN_AUDIO): "sim" and "sim:..." open the simulated card (audio/sim),
// any other name that ALSA device (audio/wave). It sits above both backends, which know nothing
// of each other. Any thread.

#include "audio/wave/wave_api.h"

// Capture. The device posts {MM_WIM_DATA, device, header} to `target` for each filled header.
MMRESULT waveInOpen(HWAVEIN* device, const WAVEFORMATEX* format, MessageTarget target);
// Playback. The device posts {MM_WOM_DONE, device, header} for each header it has played.
MMRESULT waveOutOpen(HWAVEOUT* device, const WAVEFORMATEX* format, MessageTarget target);
