#include "headless/report_options.h"

#include "headless/run_options.h"

bool ParseReportOptions(const std::vector<std::string>& args, ReportOptions* options,
                        std::string* error) {
    *options = ReportOptions{};
    const auto kindOf = [](const std::string& name) {
        return name == "--out" || name == "--compare" || name == "--limits" ? OptionKind::Value
                                                                            : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        if (value.empty()) {
            *why = name + (name == "--out" ? " wants a folder" : " wants a file name");
            return false;
        }
        if (name == "--out") {
            options->out_dir = value;
        } else {
            (name == "--compare" ? options->compare : options->limits) = value;
        }
        return true;
    };
    if (!WalkMeasuringOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (options->help) {
        return true;
    }
    if (options->seconds) {
        *error = "--seconds does not apply to a report: its steps have their own lengths";
        return false;
    }
    if (options->format != RowFormat::Csv) {
        *error = "--format jsonl does not apply to a report: it writes HTML, JSON and CSV";
        return false;
    }
    if (options->out_dir.empty()) {
        *error = "--out is needed: the folder the report goes to";
        return false;
    }
    return true;
}

std::string ReportUsage() {
    return "usage: tavrin report --out DIR [--device NAME] [--compare OLD/report.json]\n"
           "                     [--limits FILE.json] [--rate HZ] [--format s16|s24|s32|float]\n"
           "Every standard measurement of a card (or a device under test between its output\n"
           "and input) in one run of under a minute, at 16 bit and 44100 Hz unless --rate or\n"
           "--format asks otherwise: the output level, frequency response, noise, dynamic\n"
           "range, THD and THD+N at -1 and -20 dBFS, IMD (SMPTE, CCIF), crosstalk, channel\n"
           "balance, THD+N against level, THD against frequency and latency. DIR gets\n"
           "report.html, report.json and summary.csv; each step's name and time go to stderr.\n"
           "  --out DIR      the folder for the three files (made when missing)\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n"
           "  --compare FILE an older report.json: its curves overlaid, its figures beside\n"
           "                 these with the differences\n"
           "  --limits FILE  a JSON object of figure ids, each {\"min\": N, \"max\": N} or one\n"
           "                 of them: each figure passes or fails (see summary.csv's ids)\n" +
           StreamOptionsUsage() +
           "A step that fails (clipping, no signal, a gap) is measured again once, then noted.\n"
           "Exit status: 0 done (every limit held), 1 stopped by Ctrl-C or SIGTERM, 2 bad\n"
           "arguments, a limits or report file refused, or a file that cannot be written, 3 the\n"
           "device cannot be opened or sends nothing for 10 s, 4 a step failed twice, 5 a figure\n"
           "outside its limits.\n";
}
