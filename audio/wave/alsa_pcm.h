#pragma once
// Opening and configuring an ALSA PCM the way the program uses it, and the words for its errors.
// Any thread; no state of its own except the library's message handler.

#include "audio/wave/wave_api.h"

#include <alsa/asoundlib.h>

#include <string>

// The wave code for an alsa-lib error (a negative errno).
MMRESULT AlsaErrorCode(int err);

// Opens `name` non-blocking, S16_LE, 2 channels, 44100 Hz, with the program's period and
// buffer sizes. 0, or the error with `*step` saying what failed (the PCM is then closed;
// none: the open itself).
int OpenAlsaPcm(const std::string& name, bool capture, snd_pcm_t** pcm, const char** step);
// Records a failure of OpenAlsaPcm as the calling thread's latest, in words; returns its code.
MMRESULT AlsaOpenFailure(const std::string& name, int err, const char* step);

// Sends alsa-lib's own messages through a rate-limited handler instead of straight to stderr,
// where a device that has gone away would print one per failed call. Idempotent.
void InstallAlsaMessageHandler();
