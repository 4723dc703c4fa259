#pragma once
// The steps of `tavrin report`, in the order they run, each by its standard method: the output
// level first, then the response (log sweep), noise, dynamic range, THD at two levels, IMD,
// crosstalk, channel balance and THD+N against level. A step that fails (clipping, no signal, a
// gap) is measured once more, then noted as failed; the rest still runs. Each step names itself
// on stderr with its time. The thread that drives the card (the main thread headless, a worker in
// the panel).

#include "headless/report_card.h"
#include "headless/report_data.h"

#include <functional>
#include <string>
#include <vector>

// Lengths in frames at 44100 Hz; ReportSettingsAt keeps their seconds at another rate.
struct ReportSettings {
    // Input let pass after a signal changes: the output's queue and the input's, with a buffer
    // to spare (the simulated card's round trip is 16384 frames).
    int settle_frames = 24576;
    int buffer_frames = 4096;  // the card's period, or more
    int sweep_frames = 131072; // 2.97 s at 44.1 kHz
    int tone_frames = 32768;   // THD, IMD
    int noise_frames = 65536;  // noise and dynamic range: the noise's own scatter under 0.1 dB
    int short_frames = 16384;  // crosstalk, balance
    int level_frames = 8192;   // the level search and THD+N against level
};

// The same lengths in seconds at rate_hz: the sweep's the nearest power of two, the analysers'
// blocks within what they take.
ReportSettings ReportSettingsAt(double rate_hz);

// Every figure a report can hold, values empty, in the order the report lists them: the limits
// file and a comparison are checked against these ids before anything is measured.
std::vector<ReportFigure> ReportFigureTable();

// Told as each step starts (index from 1, of count) and as it ends, on the thread that runs
// the steps; either may be empty.
struct ReportProgress {
    std::function<void(int index, int count, const std::string& name)> started;
    std::function<void(int index, int count, const ReportStep& step)> finished;
};

// Runs every step on the card into report (figures from ReportFigureTable, curves, steps).
// False when the run had to end early (a stop signal, a device gone silent): the report then
// holds what was measured.
bool RunReportSteps(ICardCapture& card, const ReportSettings& settings, Report& report,
                    const ReportProgress& progress = {});
