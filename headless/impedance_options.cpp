#include "headless/impedance_options.h"

#include "analysis/impedance/loudspeaker.h"
#include "audio/test_signal.h"

#include <charconv>
#include <cmath>

namespace {

// The reference resistor's sensible span: a card's input impedance (10 kOhm and more) loads
// anything much above 100 kOhm, and below 0.1 Ohm the leads are the larger part.
constexpr double kLeastRefOhm = 0.1;
constexpr double kMostRefOhm = 1e6;
constexpr int kMostPerOctave = 96;
// A voice coil's DC resistance, a mass put on a cone, and a cone's area or diameter: wide
// enough for a tweeter's and an 18-inch woofer's, narrow enough to catch a unit's slip
// (kilograms for grams, mm for cm).
constexpr double kLeastReOhm = 0.01;
constexpr double kMostReOhm = 1000.0;
constexpr double kMostAddedMassG = 1000.0;
constexpr double kMostSdCm2 = 10000.0;
constexpr double kMostDiameterCm = 100.0;

std::optional<double> InRange(const std::string& text, double lo, double hi) {
    const auto value = ParseNumber(text);
    if (!value || *value < lo || *value > hi) {
        return std::nullopt;
    }
    return value;
}

// The test source's resolution: the frequency measured at is the one played.
double ToHundredths(double hz) {
    return std::round(hz * 100.0) / 100.0;
}

// Above zero, up to most.
std::optional<double> Positive(const std::string& text, double most) {
    const auto value = ParseNumber(text);
    if (!value || !(*value > 0) || *value > most) {
        return std::nullopt;
    }
    return value;
}

std::optional<ImpedanceSweepRange> ParseRange(const std::string& text, double maxHz) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return std::nullopt;
    }
    const auto lo = InRange(text.substr(0, dash), kImpedanceMinHz, maxHz);
    const auto hi = InRange(text.substr(dash + 1), kImpedanceMinHz, maxHz);
    if (!lo || !hi || !(*lo < *hi)) {
        return std::nullopt;
    }
    return ImpedanceSweepRange{*lo, *hi};
}

} // namespace

bool ParseImpedanceOptions(const std::vector<std::string>& args, ImpedanceOptions* options,
                           std::string* error) {
    *options = ImpedanceOptions{};
    bool freqGiven = false;
    bool levelGiven = false;
    bool perOctaveGiven = false;
    const auto kindOf = [](const std::string& name) {
        if (name == "--external") {
            return OptionKind::Flag;
        }
        const bool known = name == "--ref" || name == "--freq" || name == "--sweep" ||
                           name == "--points-per-octave" || name == "--model" ||
                           name == "--input-impedance" || name == "--zma" || name == "--level" ||
                           name == "--calibrate" || name == "--re" || name == "--added-mass" ||
                           name == "--sd" || name == "--diameter" || name == "--free-air";
        return known ? OptionKind::Value : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        const auto refuse = [&](const std::string& wants) {
            *why = name + " wants " + wants + ", not '" + value + "'";
            return false;
        };
        const double maxHz = ImpedanceMaxHz(options->stream.rate_hz);
        const std::string maxText = std::to_string(int(maxHz));
        if (name == "--external") {
            options->external = true;
        } else if (name == "--ref") {
            const auto ohms = InRange(value, kLeastRefOhm, kMostRefOhm);
            if (!ohms) {
                return refuse("the reference resistor in ohms from 0.1 to 1e6");
            }
            options->r_ref_ohm = *ohms;
        } else if (name == "--freq") {
            const auto hz = InRange(value, kImpedanceMinHz, maxHz);
            if (!hz) {
                return refuse("a frequency in hertz from 10 to " + maxText);
            }
            options->freq_hz = ToHundredths(*hz);
            freqGiven = true;
        } else if (name == "--sweep") {
            options->sweep = ParseRange(value, maxHz);
            if (!options->sweep) {
                return refuse("LO-HI in hertz, 10 <= LO < HI <= " + maxText);
            }
        } else if (name == "--points-per-octave") {
            int n = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || end != value.data() + value.size() || n < 1 ||
                n > kMostPerOctave) {
                return refuse("a whole number from 1 to 96");
            }
            options->per_octave = n;
            perOctaveGiven = true;
        } else if (name == "--model") {
            if (value != "series" && value != "parallel") {
                return refuse("series or parallel");
            }
            options->model = value == "series" ? ImpedanceModel::Series : ImpedanceModel::Parallel;
        } else if (name == "--input-impedance") {
            const auto ohms = ParseNumber(value);
            if (!ohms || !(*ohms > 0)) {
                return refuse("the card's input impedance in ohms, above 0");
            }
            options->input_impedance_ohm = *ohms;
        } else if (name == "--calibrate") {
            if (value == "match") {
                options->calibrate = ImpedanceCalKind::Match;
            } else if (value == "open") {
                options->calibrate = ImpedanceCalKind::Open;
            } else if (value == "short") {
                options->calibrate = ImpedanceCalKind::Short;
            } else if (value == "clear") {
                options->clear_calibration = true;
            } else {
                return refuse("match, open, short or clear");
            }
        } else if (name == "--re") {
            options->re_ohm = InRange(value, kLeastReOhm, kMostReOhm);
            if (!options->re_ohm) {
                return refuse("the voice coil's DC resistance in ohms from 0.01 to 1000");
            }
        } else if (name == "--added-mass") {
            const auto grams = Positive(value, kMostAddedMassG);
            if (!grams) {
                return refuse("the mass added to the cone in grams, above 0 and up to 1000");
            }
            options->added_mass_kg = *grams / 1000.0;
        } else if (name == "--sd" || name == "--diameter") {
            if (options->sd_m2) {
                *why = "give the cone's --sd or its --diameter, not both";
                return false;
            }
            const bool area = name == "--sd";
            const auto size = Positive(value, area ? kMostSdCm2 : kMostDiameterCm);
            if (!size) {
                return refuse(area ? "the cone's effective area in cm2, above 0 and up to 10000"
                                   : "the cone's effective diameter in cm, above 0 and up to 100");
            }
            options->sd_m2 = area ? *size * 1e-4 : ConeArea(*size * 1e-2);
        } else if (name == "--free-air") {
            if (value.empty()) {
                return refuse("a file name");
            }
            options->free_air_path = value;
        } else if (name == "--zma") {
            if (value.empty()) {
                return refuse("a file name");
            }
            options->zma_path = value;
        } else {
            const auto dbfs = InRange(value, kTestLevelMinDbfs, kTestLevelMaxDbfs);
            if (!dbfs) {
                return refuse("the test tone's RMS in dBFS from -120 to 0");
            }
            options->level_dbfs = *dbfs;
            levelGiven = true;
        }
        return true;
    };
    if (!WalkMeasuringOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (options->help) {
        return true;
    }
    if (options->clear_calibration) {
        if (options->r_ref_ohm != 0 || freqGiven || options->sweep || options->external ||
            levelGiven || options->zma_path || options->input_impedance_ohm || options->seconds ||
            options->re_ohm || options->added_mass_kg || options->sd_m2 || options->free_air_path) {
            *error = "--calibrate clear measures nothing: give it no other option but --device";
            return false;
        }
        return true;
    }
    if (options->r_ref_ohm == 0) {
        *error = "--ref is needed: the reference resistor's value in ohms";
        return false;
    }
    if (freqGiven && options->sweep) {
        *error = "--freq and --sweep are two different runs: give one of them";
        return false;
    }
    if (options->external && (freqGiven || options->sweep || levelGiven)) {
        *error = "--external measures the tone already on X1: no --freq, --sweep or --level";
        return false;
    }
    if (options->calibrate &&
        (options->external || options->zma_path || options->format != RowFormat::Csv ||
         options->model != ImpedanceModel::Series)) {
        *error = "--calibrate plays its own tone and prints no readings: no --external, --zma, "
                 "--format or --model";
        return false;
    }
    if (!options->sweep && (options->zma_path || perOctaveGiven)) {
        *error = "--zma and --points-per-octave belong to a --sweep";
        return false;
    }
    if (options->sweep &&
        (options->format != RowFormat::Csv || options->model != ImpedanceModel::Series)) {
        *error = "a --sweep prints the curve's CSV in the series model: --format and --model "
                 "belong to live rows";
        return false;
    }
    const bool massGiven = options->added_mass_kg || options->sd_m2 || options->free_air_path;
    if ((options->re_ohm || massGiven) && (!options->sweep || options->calibrate)) {
        *error = "--re, --added-mass, --sd, --diameter and --free-air belong to a --sweep of a "
                 "loudspeaker";
        return false;
    }
    if (massGiven && !(options->added_mass_kg && options->sd_m2 && options->free_air_path)) {
        *error = "the added-mass method wants --added-mass, --sd or --diameter, and --free-air "
                 "(the driver's curve without the mass)";
        return false;
    }
    if (options->sweep && options->seconds) {
        *error = "--seconds does not apply to a --sweep: it runs to its last frequency";
        return false;
    }
    return true;
}

std::string ImpedanceUsage() {
    return "usage: tavrin impedance --ref OHMS [--freq HZ | --sweep LO-HI | --external]\n"
           "                        [--calibrate match|open|short] [--re OHMS]\n"
           "                        [--added-mass G --sd CM2|--diameter CM --free-air FILE]\n"
           "                        [--points-per-octave N] [--zma FILE] [--level DBFS]\n"
           "                        [--model series|parallel] [--input-impedance OHMS]\n"
           "                        [--seconds N] [--device NAME] [--format csv|jsonl]\n"
           "                        [--rate HZ] [--format s16|s24|s32|float]\n"
           "       tavrin impedance --calibrate clear [--device NAME]\n"
           "The impedance Z of a part wired from the line output through Z and the reference\n"
           "resistor to ground, X1 at the top and X2 across the resistor. At one frequency: one\n"
           "row per block on stdout (time_s, freq_hz, z_ohm, phase_deg, r_ohm, x_ohm, l_h, c_f,\n"
           "esr_ohm, q, d); a refused block (no tone, X2 silent, clipped, out of range) is a row\n"
           "of empty fields, and its reason a line on stderr. Over a sweep: the curve's CSV when\n"
           "it ends, and a loudspeaker's resonance and Thiele-Small figures on stderr.\n" +
           RunOptionsUsage() + StreamOptionsUsage() +
           "  --ref OHMS     the reference resistor, 0.1 to 1e6 (choose it near the part)\n"
           "  --freq HZ      the test frequency, 10 to 20000 (default 1000), to 0.01 Hz; above\n"
           "                 48000 Hz up to 0.45 of the rate, and so for --sweep\n"
           "  --sweep LO-HI  a stepped sweep from LO to HI hertz instead\n"
           "  --points-per-octave N  the sweep's density, 1 to 96 (default 12)\n"
           "  --zma FILE     also write the sweep's curve as ZMA (freq_hz ohms phase_deg)\n"
           "  --external     play nothing: measure at the frequency of the tone found on X1\n"
           "  --level DBFS   the test tone's RMS, -120 to 0 (default -3)\n"
           "  --model        series (the default) or parallel: which circuit r_ohm, x_ohm, l_h\n"
           "                 and c_f describe\n"
           "  --input-impedance OHMS  the card's input impedance across R_ref (default: as\n"
           "                 stored for the card by the panel's impedance window, or none)\n"
           "  --calibrate match|open|short  measure that correction, at --freq or over every\n"
           "                 frequency of --sweep, and store it for the card (as the impedance\n"
           "                 window does): match with the part's terminals shorted, open and\n"
           "                 short with the leads open or shorted (either alone does: the\n"
           "                 short for a small part, the open for a large one); clear forgets\n"
           "                 all three\n"
           "  --re OHMS      a loudspeaker's voice-coil DC resistance (from an ohmmeter), 0.01\n"
           "                 to 1000, for its figures in place of the fitted Re\n"
           "  --added-mass G the added-mass method, in two runs: first sweep the driver as it\n"
           "                 is with --zma FILE; then put G grams (above 0, up to 1000) on the\n"
           "                 cone and sweep again with --added-mass G, the cone's --sd CM2 (up\n"
           "                 to 10000) or --diameter CM (up to 100) and --free-air FILE; this\n"
           "                 run then adds Mms, Cms, Vas, Bl and Rms to its figures\n" +
           ExitStatusUsage() + "4: every block was refused; the last line on stderr says why.\n";
}
