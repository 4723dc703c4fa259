#pragma once
// The A-weighting of IEC 61672-1, for the distortion analyser's weighted noise and any other
// reading that wants it. Plain arithmetic; any thread.

// The A-weighting's gain in dB at freq_hz (IEC 61672-1 analytic form, 0 dB at 1 kHz); -infinity
// at 0 Hz and below.
double AWeightingDb(double freq_hz);
