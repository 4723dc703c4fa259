#pragma once
// A mono WAV file of 32-bit float samples (an impulse response, a sweep): format tag 3 with the
// fact chunk that non-PCM formats carry, so float-aware readers take it without guessing.
// A plain function; any thread.

#include <string>
#include <vector>

// Creates or replaces `path`. False with the reason in `error` (the path and the system's
// words) when it cannot be written whole; a partial regular file is removed rather than left
// looking like a shorter recording.
bool WriteFloatWave(const std::string& path, const std::vector<float>& samples, int rate_hz,
                    std::string& error);
