#include "headless/thd_options.h"

#include "analysis/distortion/distortion_monitor.h"
#include "base/pcm_format.h"

#include <cmath>
#include <cstdio>

namespace {

// "22050", "48000", "44100" for the messages.
std::string HzText(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", hz);
    return text;
}

// "HZ" or "HZ,DBFS"; HZ below nyquistHz.
std::optional<ThdTone> ParseTone(const std::string& text, double nyquistHz) {
    const size_t comma = text.find(',');
    const auto freq = ParseNumber(text.substr(0, comma));
    ThdTone tone;
    if (comma != std::string::npos) {
        std::string levelText = text.substr(comma + 1);
        if (!levelText.empty() && (levelText.back() == 'V' || levelText.back() == 'v')) {
            levelText.pop_back();
            const auto vrms = ParseNumber(levelText);
            if (!vrms || *vrms <= 0) {
                return std::nullopt;
            }
            tone.level_vrms = *vrms;
        } else {
            const auto level = ParseNumber(levelText);
            if (!level || *level < kTestLevelMinDbfs || *level > kTestLevelMaxDbfs) {
                return std::nullopt;
            }
            tone.level_dbfs = *level;
        }
    }
    if (!freq) {
        return std::nullopt;
    }
    // The source's resolution: what is asked is what plays, and what the rows' f0 can be
    // compared with.
    tone.freq_hz = std::round(*freq * 100.0) / 100.0;
    if (tone.freq_hz < kTestToneMinHz || tone.freq_hz > nyquistHz - 0.01) {
        return std::nullopt;
    }
    return tone;
}

// "LO-HI" in hertz, HI a number up to Nyquist or the word "nyquist".
bool ParseBand(const std::string& text, double nyquistHz, DistortionSettings* settings) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return false;
    }
    const auto lo = ParseNumber(text.substr(0, dash));
    const std::string hiText = text.substr(dash + 1);
    const auto hi = hiText == "nyquist" ? std::optional(nyquistHz) : ParseNumber(hiText);
    if (!lo || !hi || *lo < 0 || *hi > nyquistHz || *lo >= *hi) {
        return false;
    }
    settings->band_lo_hz = *lo;
    settings->band_hi_hz = *hi;
    return true;
}

// The test source's resolution, as for --tone.
double Centihertz(double hz) {
    return std::round(hz * 100.0) / 100.0;
}

// "smpte", "ccif", "din" or "F1:F2:RATIO". False with the reason in *why.
bool ParseImd(const std::string& text, double nyquistHz, std::optional<ImdTones>* imd,
              std::string* why) {
    if (text == "smpte" || text == "ccif" || text == "din") {
        *imd = ImdPreset(text == "smpte"  ? ImdKind::Smpte
                         : text == "ccif" ? ImdKind::Ccif
                                          : ImdKind::Din);
        return true;
    }
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const auto f1 = ParseNumber(text.substr(0, first));
    const auto f2 = second == std::string::npos
                        ? std::nullopt
                        : ParseNumber(text.substr(first + 1, second - first - 1));
    const auto ratio =
        second == std::string::npos ? std::nullopt : ParseNumber(text.substr(second + 1));
    const bool inRange = f1 && f2 && ratio && Centihertz(*f1) >= kTestToneMinHz &&
                         Centihertz(*f2) <= nyquistHz - 0.01 && Centihertz(*f1) < Centihertz(*f2) &&
                         *ratio >= kTestRatioMin && *ratio <= kTestRatioMax;
    if (!inRange) {
        *why = "--imd is smpte, ccif, din or F1:F2:RATIO (hertz from 0.01 to below " +
               HzText(nyquistHz) +
               ", F1 below F2, RATIO of F1's amplitude to F2's from 1 to 100), not '" + text + "'";
        return false;
    }
    const ImdTones tones{ImdKind::Custom, Centihertz(*f1), Centihertz(*f2), *ratio};
    // Every product the method sums must lie between DC and Nyquist.
    const bool productsHeard =
        tones.DifferenceFrequency()
            ? 2 * tones.f1_hz > tones.f2_hz && 2 * tones.f2_hz - tones.f1_hz < nyquistHz
            : tones.f2_hz > 3 * tones.f1_hz && tones.f2_hz + 3 * tones.f1_hz < nyquistHz;
    if (!productsHeard) {
        *why = tones.DifferenceFrequency()
                   ? "--imd at 1:1 measures 2F1-F2 and 2F2-F1: F2 must be below 2 F1 and 2 F2 - F1 "
                     "below " +
                         HzText(nyquistHz) + " Hz, not '" + text + "'"
                   : "--imd measures F2 +- 3 F1: F2 must be above 3 F1 and F2 + 3 F1 below " +
                         HzText(nyquistHz) + " Hz, not '" + text + "'";
        return false;
    }
    *imd = tones;
    return true;
}

} // namespace

bool ParseThdOptions(const std::vector<std::string>& args, ThdOptions* options,
                     std::string* error) {
    *options = ThdOptions{};
    bool imdLevelGiven = false;
    const auto kindOf = [](const std::string& name) {
        if (name == "--dither") {
            return OptionKind::Flag;
        }
        const bool known = name == "--tone" || name == "--imd" || name == "--imd-level" ||
                           name == "--block" || name == "--band" || name == "--weighting";
        return known ? OptionKind::Value : OptionKind::Unknown;
    };
    const auto apply = [&](const std::string& name, const std::string& value, std::string* why) {
        if (name == "--dither") {
            options->dither = true;
        } else if (name == "--tone") {
            options->tone = ParseTone(value, options->NyquistHz());
            if (!options->tone) {
                *why = "--tone wants HZ[,DBFS] or HZ,VOLTSV with HZ from 0.01 to below " +
                       HzText(options->NyquistHz()) +
                       ", DBFS from -120 to 0 and VOLTS above 0, not '" + value + "'";
                return false;
            }
        } else if (name == "--imd") {
            if (!ParseImd(value, options->NyquistHz(), &options->imd, why)) {
                return false;
            }
        } else if (name == "--imd-level") {
            const auto level = ParseNumber(value);
            if (!level || *level < kTestLevelMinDbfs || *level > kTestLevelMaxDbfs) {
                *why =
                    "--imd-level wants the summed peak in dBFS from -120 to 0, not '" + value + "'";
                return false;
            }
            options->imd_level_dbfs = *level;
            imdLevelGiven = true;
        } else if (name == "--block") {
            const auto frames =
                ParseWholeNumber(value, kMinDistortionBlockFrames, kMaxDistortionBlockFrames);
            if (!frames) {
                *why = "--block wants a whole number of frames from 8192 to 262144, not '" + value +
                       "'";
                return false;
            }
            options->block_frames = *frames;
        } else if (name == "--band") {
            if (!ParseBand(value, options->NyquistHz(), &options->analysis)) {
                *why = "--band wants LO-HI in hertz, HI up to " + HzText(options->NyquistHz()) +
                       " or 'nyquist', LO below HI, not '" + value + "'";
                return false;
            }
        } else {
            if (value != "none" && value != "a") {
                *why = "--weighting is none or a, not '" + value + "'";
                return false;
            }
            options->analysis.weighting = value == "a" ? Weighting::A : Weighting::None;
        }
        return true;
    };
    if (!WalkMeasuringOptions(args, options, kindOf, apply, error)) {
        return false;
    }
    if (options->help) {
        return true;
    }
    if (options->tone && options->imd) {
        *error = "--tone and --imd are two different signals: give one of them";
        return false;
    }
    if (imdLevelGiven && !options->imd) {
        *error = "--imd-level needs --imd: it is the two-tone signal's level";
        return false;
    }
    if (options->dither && !options->tone && !options->imd) {
        *error = "--dither needs --tone or --imd: it is added to the signal played";
        return false;
    }
    if (options->tone) {
        options->analysis.tone_hz = options->tone->freq_hz; // the fundamental is the tone played
    }
    return true;
}

std::optional<TestSignal> ThdTestSignal(const ThdOptions& options) {
    TestSignal signal;
    signal.dither = options.dither;
    if (options.imd) {
        signal.kind = TestSignalKind::ImdPair;
        signal.freq_hz = options.imd->f1_hz;
        signal.freq2_hz = options.imd->f2_hz;
        signal.ratio = options.imd->ratio;
        signal.level_dbfs = options.imd_level_dbfs;
        return signal;
    }
    if (options.tone) {
        signal.kind = TestSignalKind::Tone;
        signal.freq_hz = options.tone->freq_hz;
        signal.level_dbfs = options.tone->level_dbfs;
        return signal;
    }
    return std::nullopt;
}

std::string ThdUsage() {
    return "usage: tavrin thd [--seconds N] [--device NAME] [--format csv|jsonl]\n"
           "                  [--rate HZ] [--format s16|s24|s32|float]\n"
           "                  [--tone HZ[,DBFS|,VOLTSV] | --imd smpte|ccif|din|F1:F2:RATIO]\n"
           "                  [--imd-level DBFS] [--dither]\n"
           "                  [--block N] [--band LO-HI] [--weighting none|a]\n"
           "Distortion and noise of both inputs: one row per block on stdout (f0, level, THD,\n"
           "THD+N, SINAD, SNR, H2..H10; IMD with --imd; the level in volts after those, for a\n"
           "calibrated input); messages on stderr. A figure the block\n"
           "cannot give (no tone, clipping, a tone starting, lost input) is an empty field or\n"
           "null, and stderr says why when a row has none.\n" +
           RunOptionsUsage() + StreamOptionsUsage() +
           "  --tone HZ[,DBFS]  play a sine on both outputs: HZ to 0.01 from 0.01 to below\n"
           "                 Nyquist, DBFS RMS from -120 to 0 (default -1); without it (and\n"
           "                 without --imd) the inputs are measured as they come\n"
           "  --tone HZ,VOLTSV  the level in volts RMS, e.g. 1000,0.5V: needs the output's\n"
           "                 calibration (tavrin calibrate --output l)\n"
           "  --imd          play SMPTE (60 Hz + 7 kHz, 4:1), CCIF (19 + 20 kHz, 1:1), DIN\n"
           "                 (250 Hz + 8 kHz, 4:1) or F1:F2:RATIO (hertz, F1's amplitude over\n"
           "                 F2's from 1 to 100; 1 is read as CCIF, any other as SMPTE), and add\n"
           "                 x1_imd_pct ... x2_imd_db after the other figures and each order\n"
           "                 (x1_imd_d2_pct ... x2_imd_d3_pct) at the end\n"
           "  --imd-level DBFS  the two tones' summed peak, -120 to 0 (default -1)\n"
           "  --dither       add TPDF dither to the signal played\n"
           "  --block N      frames per block, any whole number from 8192 to 262144 (default\n"
           "                 65536, 1.49 s at 44100 Hz); a power of two is not needed\n"
           "  --band LO-HI   the THD+N band in hertz, e.g. 20-20000 (the default at any rate) or\n"
           "                 20-nyquist (half the rate); harmonics count up to H10 below Nyquist\n"
           "  --weighting    none (the default) or a: A-weighting on the noise\n" +
           ExitStatusUsage();
}
