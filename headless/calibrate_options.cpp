#include "headless/calibrate_options.h"

#include "audio/test_signal.h"

namespace {

// "x1"/"x2" or "l"/"r" (either case) to a channel.
std::optional<int> ParseChannel(const std::string& text, const char* first, const char* second) {
    std::string lower;
    for (char c : text) {
        lower += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower == first) {
        return 0;
    }
    if (lower == second) {
        return 1;
    }
    return std::nullopt;
}

} // namespace

bool ParseCalibrateOptions(const std::vector<std::string>& args, CalibrateOptions* options,
                           std::string* error) {
    *options = CalibrateOptions{};
    bool sideGiven = false;
    bool vrmsGiven = false;
    bool levelGiven = false;
    const auto kindOf = [](const std::string& name) {
        const bool known = name == "--input" || name == "--output" || name == "--vrms" ||
                           name == "--level" || name == "--file";
        return known ? OptionKind::Value : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        if (name == "--input" || name == "--output") {
            const bool input = name == "--input";
            const auto channel =
                input ? ParseChannel(value, "x1", "x2") : ParseChannel(value, "l", "r");
            if (!channel) {
                *why = name + (input ? " is x1 or x2" : " is l or r") + ", not '" + value + "'";
                return false;
            }
            if (sideGiven) {
                *why = "give one of --input and --output, once";
                return false;
            }
            sideGiven = true;
            options->side = input ? CalibrationSide::Input : CalibrationSide::Output;
            options->channel = *channel;
        } else if (name == "--vrms") {
            const auto vrms = ParseNumber(value);
            if (!vrms || *vrms <= 0) {
                *why = "--vrms wants the voltmeter's reading in volts RMS, above 0, not '" + value +
                       "'";
                return false;
            }
            options->vrms = *vrms;
            vrmsGiven = true;
        } else if (name == "--level") {
            const auto level = ParseNumber(value);
            if (!level || *level < kTestLevelMinDbfs || *level > kTestLevelMaxDbfs) {
                *why = "--level wants dBFS from -120 to 0, not '" + value + "'";
                return false;
            }
            options->level_dbfs = *level;
            levelGiven = true;
        } else {
            if (value.empty()) {
                *why = "--file wants a path";
                return false;
            }
            options->file = value;
        }
        return true;
    };
    if (!WalkMeasuringOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (options->help) {
        return true;
    }
    if (!sideGiven) {
        *error = "say what to calibrate: --input x1|x2 or --output l|r";
        return false;
    }
    if (!vrmsGiven) {
        *error = "--vrms is needed: the voltmeter's reading in volts RMS";
        return false;
    }
    if (levelGiven && options->side == CalibrationSide::Input) {
        *error = "--level sets the tone an output plays; an input is read as it comes";
        return false;
    }
    if (!options->seconds) {
        options->seconds = options->side == CalibrationSide::Input ? kCalibrateInputSeconds
                                                                   : kCalibrateOutputSeconds;
    }
    return true;
}

std::string CalibrateUsage() {
    return "usage: tavrin calibrate [--device NAME] --input x1|x2 --vrms V [--seconds N]\n"
           "                        [--file PATH] [--rate HZ] [--format s16|s24|s32|float]\n"
           "       tavrin calibrate [--device NAME] --output l|r --vrms V [--level DBFS]\n"
           "                        [--seconds N] [--file PATH] [--rate HZ] [--format ...]\n"
           "Ties a channel's dBFS to volts, for `tavrin measure`, `tavrin thd` and the panel.\n"
           "An input: feed it a steady signal, read it with a voltmeter, give the reading; the\n"
           "input's level is measured for --seconds (default 1). An output: it plays a 1 kHz\n"
           "sine at --level dBFS (default -6) on both outputs for --seconds (default 10); read\n"
           "the output named with a voltmeter and give the reading. The volts at 0 dBFS are\n"
           "stored for the device and channel with today's date, and printed on stdout.\n"
           "  --device NAME  sim (the simulated card), default, or an ALSA device name\n" +
           StreamOptionsUsage() +
           "                 The entry records the rate and format it was taken at; the volts\n"
           "                 apply at every format, and a command run at another says so\n"
           "  --input        x1 or x2: the input to calibrate\n"
           "  --output       l or r: the output to calibrate\n"
           "  --vrms V       the voltmeter's reading, volts RMS\n"
           "  --level DBFS   the output's tone, -120 to 0 dBFS RMS (default -6)\n"
           "  --seconds N    how long to read the input or play the tone\n"
           "  --file PATH    the calibration file (default $XDG_CONFIG_HOME/tavrin/\n"
           "                 calibration.json, else ~/.config/tavrin/calibration.json)\n"
           "An input quieter than -100 dBFS or clipped is refused and nothing is stored.\n" +
           ExitStatusUsage() + "An input's reading stopped by Ctrl-C stores nothing and exits 1.\n";
}
