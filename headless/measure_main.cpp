// tavrin-measure: the instruments without the panel, for scripts and logging. Started as
// `tavrin measure ...`, `tavrin thd ...`, `tavrin calibrate ...`, `tavrin sweep ...` or
// `tavrin impedance ...` or `tavrin report ...` (the panel's executable hands over before it loads
// anything of Qt's GUI, and passes the command other than "measure" on as the first argument) or
// directly.
#include "headless/calibrate_options.h"
#include "headless/calibrate_session.h"
#include "headless/impedance_options.h"
#include "headless/impedance_session.h"
#include "headless/measure_options.h"
#include "headless/measure_session.h"
#include "headless/report_options.h"
#include "headless/report_session.h"
#include "headless/sweep_options.h"
#include "headless/sweep_session.h"
#include "headless/thd_options.h"
#include "headless/thd_session.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kCommands =
    "Commands: tavrin measure  the panel's frequency, level and meter readings per buffer\n"
    "          tavrin thd      distortion and noise per block (tavrin thd --help)\n"
    "          tavrin calibrate  volts at 0 dBFS for an input or output (tavrin calibrate "
    "--help)\n"
    "          tavrin impedance  a part's impedance against a reference resistor (tavrin "
    "impedance --help)\n"
    "          tavrin report   every standard figure of a card in one run, as HTML, JSON and "
    "CSV (tavrin report --help)\n";

// Parses, refuses with one line, shows the help, or runs.
template <typename Options>
int Command(const std::vector<std::string>& args,
            bool (*parse)(const std::vector<std::string>&, Options*, std::string*),
            std::string (*usage)(), int (*run)(const Options&)) {
    Options options;
    std::string error;
    if (!parse(args, &options, &error)) {
        std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
        return kExitBadArguments;
    }
    if (options.help) {
        std::fputs((usage() + kCommands).c_str(), stdout);
        return kExitDone;
    }
    return run(options);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "thd") {
        return Command<ThdOptions>({args.begin() + 1, args.end()}, ParseThdOptions, ThdUsage,
                                   RunThd);
    }
    if (!args.empty() && args[0] == "calibrate") {
        return Command<CalibrateOptions>({args.begin() + 1, args.end()}, ParseCalibrateOptions,
                                         CalibrateUsage, RunCalibrate);
    }
    if (!args.empty() && args[0] == "sweep") {
        return Command<SweepOptions>({args.begin() + 1, args.end()}, ParseSweepOptions, SweepUsage,
                                     RunSweep);
    }
    if (!args.empty() && args[0] == "impedance") {
        return Command<ImpedanceOptions>({args.begin() + 1, args.end()}, ParseImpedanceOptions,
                                         ImpedanceUsage, RunImpedance);
    }
    if (!args.empty() && args[0] == "report") {
        return Command<ReportOptions>({args.begin() + 1, args.end()}, ParseReportOptions,
                                      ReportUsage, RunReport);
    }
    return Command<MeasureOptions>(args, ParseMeasureOptions, MeasureUsage, RunMeasure);
}
