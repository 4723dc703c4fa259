#pragma once
// The report's arithmetic over one capture that the analysers do not already do: a tone's
// complex amplitude on one channel, the idle channel's noise (AES17), and what a frequency
// response curve says (its deviation over a band, its -3 dB points). Plain functions over
// plain data; any thread.

#include <complex>
#include <optional>
#include <vector>

// One channel of interleaved stereo frames (fractions of full scale) as doubles.
std::vector<double> ChannelOf(const std::vector<float>& interleaved, int channel);

// The least-squares sinusoid at freq_hz over the samples: amplitude (fractions of full scale)
// and phase (radians, on the block's centre). Nothing when the block cannot hold it.
std::optional<std::complex<double>> ToneAt(const std::vector<double>& samples, double freq_hz,
                                           double rate_hz);

struct NoiseLevels {
    double dbfs = 0; // unweighted RMS in 20 Hz-20 kHz, re a full-scale sine (AES17)
    double dba = 0;  // the same, A-weighted
    std::vector<double> freq_hz, level_dbfs; // the spectrum, one point per 1/12 octave
};

// AES17 idle-channel noise of a block (a power of two of samples, 4096 or more): a Hann-windowed
// power spectrum summed over the band, DC and its leakage left out.
NoiseLevels MeasureNoise(const std::vector<double>& samples, double rate_hz);

struct ResponseFigures {
    double max_db = 0, min_db = 0;         // over the band, re the level at 1 kHz
    std::optional<double> low_hz, high_hz; // where it first falls 3 dB below 1 kHz's level
};

// The curve's level at f, interpolated in log frequency (its ends held beyond it).
double ResponseAt(const std::vector<double>& freq_hz, const std::vector<double>& mag_db, double f);

// A response's figures over lo_hz..hi_hz (freq_hz ascending, mag_db at each). The -3 dB points
// are looked for over the whole curve, interpolated in log frequency.
ResponseFigures ReadResponse(const std::vector<double>& freq_hz, const std::vector<double>& mag_db,
                             double lo_hz, double hi_hz);
