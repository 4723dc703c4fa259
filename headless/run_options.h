#pragma once
// What every headless command's line shares: how long, which device, which row format, --help,
// and the walk over NAME VALUE pairs with its refusals. Plain data and parsers; any thread.

#include "audio/stream/stream_format.h"
#include "base/row_text.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct RunOptions {
    std::optional<double> seconds;     // nothing: until Ctrl-C or SIGTERM
    std::optional<std::string> device; // nothing: as the panel chooses (TAVRIN_AUDIO)
    RowFormat format = RowFormat::Csv;
    bool row_format_given = false;
    // The card's rate and sample format for a measuring command (--rate, --format s16|s24|
    // s32|float); the panel's own unless asked.
    StreamFormat stream;
    bool sample_format_given = false;
    bool help = false;

    double NyquistHz() const { return stream.rate_hz / 2.0; }
};

enum class OptionKind { Unknown, Flag, Value };

// Walks `args` (after the command's name): --help or -h sets options->help and ends the walk;
// --seconds, --device and --format go into *options; every other name is asked of kindOf, and
// a known one is handed to apply with its value (empty for a flag). False, with a one-line
// reason in *error, at the first refusal: an unknown name, a missing value, or apply's.
bool WalkOptions(const std::vector<std::string>& args, RunOptions* options,
                 const std::function<OptionKind(const std::string& name)>& kindOf,
                 const std::function<bool(const std::string& name, const std::string& value,
                                          std::string* error)>& apply,
                 std::string* error);
// The same for a command that measures at the card's own rate and format: --rate and the sample
// formats of --format as well. The shared options are taken first, wherever they stand, so
// that apply sees the rate whatever the order of the line.
bool WalkMeasuringOptions(
    const std::vector<std::string>& args, RunOptions* options,
    const std::function<OptionKind(const std::string& name)>& kindOf,
    const std::function<bool(const std::string& name, const std::string& value,
                             std::string* error)>& apply,
    std::string* error);

// The whole text as a finite number, else nothing.
std::optional<double> ParseNumber(const std::string& text);
// The whole text as a whole number from lo to hi, else nothing.
std::optional<int> ParseWholeNumber(const std::string& text, int lo, int hi);

// The usage lines for the shared options, and the closing lines on the exit statuses, as the
// commands' --help shows them.
std::string RunOptionsUsage();
// The lines for --rate and --format's sample formats.
std::string StreamOptionsUsage();
std::string ExitStatusUsage();
