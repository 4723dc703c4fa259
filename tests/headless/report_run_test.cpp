// `tavrin report` run in this process on the simulated card, its clock stepped as fast as the
// run takes it, through a device under test whose every figure follows from its stages: a
// polynomial (its harmonics and intermodulation products in closed form), two cookbook biquads
// (their bilinear-mapped prototypes), a crosstalk of known leaks, white noise of a known level
// and a gain on L. Each figure of the report is held to the value worked out here, at the
// panel's 16-bit 44100 Hz and at 96 kHz/24-bit, where the card is opened as a stream.
#include "audio/sim/simulated_bench.h"
#include "audio/sim/simulated_poly.h"
#include "base/full_scale.h"
#include "headless/report_session.h"
#include "headless/report_steps.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <thread>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr Complex kJ(0.0, 1.0);

// The device under test.
constexpr double kA2 = 0.01, kA3 = 0.01;
constexpr double kHighpassHz = 25.0, kLowpassHz = 15000.0, kQ = 0.7071;
constexpr double kLeakLrDb = -60.0, kLeakRlDb = -70.0; // into R from L, into L from R
constexpr double kNoiseDbfs = -80.0;
constexpr double kGainLDb = 0.5;
const std::string kDevice = "sim:dut=poly:0.01:0.01+highpass:25:0.7071+lowpass:15000:0.7071+"
                            "crosstalk:-60:-70+noise:-80+x1:gain:0.5";

double FromDb(double db) {
    return std::pow(10.0, db / 20);
}
double Db(double ratio) {
    return 20 * std::log10(ratio);
}

struct Expected {
    std::string id;
    double value; // NaN: not measured at this format
    double tolerance;
};

// The card's format the device sits between: the chain's filters and noise work at its rate,
// its converters round at its depth.
struct DutOracle {
    double rate_hz = 44100.0;
    int bits = 16;

    bool PanelFormat() const { return rate_hz == 44100.0 && bits == 16; }
    // The converter's step: full scale 1.0 over 2^(bits-1) codes.
    double Step() const { return std::ldexp(1.0, 1 - bits); }

    // The cookbook's prototypes in s, mapped to z by the bilinear transform warped at f0.
    Complex Prewarped(double hz, double f0) {
        return kJ * std::tan(kPi * hz / rate_hz) / std::tan(kPi * f0 / rate_hz);
    }
    double Filters(double hz) {
        const Complex lo = Prewarped(hz, kLowpassHz);
        const Complex hi = Prewarped(hz, kHighpassHz);
        return std::abs(1.0 / (lo * lo + lo / kQ + 1.0) * (hi * hi / (hi * hi + hi / kQ + 1.0)));
    }
    double ResponseDb(double hz) { return Db(Filters(hz) / Filters(1000.0)); }

    // The polynomial stage's decimating lowpass at 176.4 kHz, from its taps: what it leaves of a
    // product between 20 kHz and Nyquist.
    double PolyDecimation(double hz) {
        const CSimulatedPoly poly(kA2, kA3, false);
        const std::vector<double>& taps = poly.Taps();
        Complex sum = 0;
        for (size_t n = 0; n < taps.size(); ++n) {
            sum += taps[n] * std::polar(1.0, -2 * kPi * hz / (kSimPolyOversampling * rate_hz) * n);
        }
        return std::abs(sum);
    }

    // IEC 61672-1's analytic A-weighting, in power.
    double AWeightPower(double f) {
        const double f2 = f * f;
        const double ra =
            12194.0 * 12194.0 * f2 * f2 /
            ((f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
             (f2 + 12194.0 * 12194.0));
        return std::pow(ra * FromDb(2.0), 2);
    }

    // Each channel as the stages leave it: both outputs carry one signal, so L = (1 + leak from R)
    // x gain and R = 1 + leak from L; the noise comes after the leaks and before L's gain.
    double SignalScale(int c) {
        return c == 0 ? (1 + FromDb(kLeakRlDb)) * FromDb(kGainLDb) : 1 + FromDb(kLeakLrDb);
    }
    // The noise's mean square over the whole spectrum, with the converter's rounding (q^2 / 12).
    double NoisePower(int c) {
        const double rms = FromDb(kNoiseDbfs) / std::sqrt(2.0) * (c == 0 ? FromDb(kGainLDb) : 1.0);
        const double q = Step();
        return rms * rms + q * q / 12;
    }
    double InBand() { return (20000.0 - 20.0) / (rate_hz / 2); }
    double NoiseDbfs(int c) { return 10 * std::log10(2 * NoisePower(c) * InBand()); }
    // The share of a white noise's whole power that 20 Hz-20 kHz, A-weighted, keeps.
    double AWeightedShare() {
        double integral = 0;
        constexpr int kSteps = 200000;
        for (int i = 0; i < kSteps; ++i) {
            const double f = 20.0 + (i + 0.5) * (20000.0 - 20.0) / kSteps;
            integral += AWeightPower(f) * (20000.0 - 20.0) / kSteps;
        }
        return integral / (rate_hz / 2);
    }
    double NoiseDba(int c) { return 10 * std::log10(2 * NoisePower(c) * AWeightedShare()); }

    // A tone of amplitude a through the polynomial: fundamental a + 3/4 a3 a^3, H2 a2 a^2 / 2,
    // H3 a3 a^3 / 4, then the filters.
    struct Harmonics {
        double f1, h2, h3;
    };
    Harmonics ToneThrough(double amplitude, double hz) {
        const double a = amplitude;
        return {(a + 0.75 * kA3 * a * a * a) * Filters(hz), kA2 * a * a / 2 * Filters(2 * hz),
                kA3 * a * a * a / 4 * Filters(3 * hz)};
    }
    double ThdRatio(double level_dbfs) {
        const Harmonics h = ToneThrough(FromDb(level_dbfs), 997.0);
        return std::hypot(h.h2, h.h3) / h.f1;
    }
    // AES17: the residual's RMS in band over the whole signal's.
    double ThdnDb(double level_dbfs, int c) {
        const Harmonics h = ToneThrough(FromDb(level_dbfs), 997.0);
        const double s = SignalScale(c);
        const double residual = (h.h2 * h.h2 + h.h3 * h.h3) / 2 * s * s + NoisePower(c) * InBand();
        return 10 * std::log10(residual / (h.f1 * h.f1 / 2 * s * s + residual));
    }

    // The analysers take a sample at 32767/32768 of full scale or more as clipped, at any depth.
    // The highest level of the 1 dB (or 2 dB) steps from 0 dBFS at which neither channel's peak,
    // x + a2 x^2 + a3 x^3 at the tone's crest through the filters, reaches full scale.
    bool Clips(double level_dbfs) {
        const double a = FromDb(level_dbfs);
        const double crest = (a + kA2 * a * a + kA3 * a * a * a) * Filters(997.0);
        return crest * std::max(SignalScale(0), SignalScale(1)) >= kClipLevel;
    }
    double Ceiling() {
        double level = 0;
        while (Clips(level)) {
            level -= 1;
        }
        return level;
    }

    // SMPTE: 60 Hz + 7 kHz at 4:1 summing to the peak. The sidebands at f2 +- n f1 of order n,
    // added, over the f2 tone (which the cubic raises by a3 (3/4 A2^3 + 3/2 A1^2 A2)).
    double SmptePct() {
        const double p = FromDb(Ceiling() < -1 ? Ceiling() : -1.0);
        const double a1 = 0.8 * p, a2 = 0.2 * p, f1 = 60.0, f2 = 7000.0;
        const double carrier =
            (a2 + kA3 * (0.75 * a2 * a2 * a2 + 1.5 * a1 * a1 * a2)) * Filters(f2);
        const double d2 = kA2 * a1 * a2 * (Filters(f2 - f1) + Filters(f2 + f1)) / carrier;
        const double d3 =
            0.75 * kA3 * a1 * a1 * a2 * (Filters(f2 - 2 * f1) + Filters(f2 + 2 * f1)) / carrier;
        return 100 * std::hypot(d2, d3);
    }
    // CCIF: 19 + 20 kHz at 1:1. d2 = a(f2 - f1) / (a(f1) + a(f2)), d3 = (a(2f1 - f2) + a(2f2 - f1))
    // / (a(f1) + a(f2)); the 21 kHz product also passes the polynomial stage's decimating filter.
    double CcifPct() {
        const double a = FromDb(-1.0) / 2;
        const double tones = a * (1 + 2.25 * kA3 * a * a) * (Filters(19000.0) + Filters(20000.0));
        const double d2 = kA2 * a * a * Filters(1000.0) / tones;
        const double d3 = 0.75 * kA3 * a * a * a *
                          (Filters(18000.0) + Filters(21000.0) * PolyDecimation(21000.0)) / tones;
        return 100 * std::hypot(d2, d3);
    }

    // Where the response falls 3 dB below 1 kHz's, between lo and hi (one side of 1 kHz).
    double ThreeDbPoint(double lo, double hi) {
        const bool rising = ResponseDb(lo) < ResponseDb(hi);
        for (int i = 0; i < 100; ++i) {
            const double mid = std::sqrt(lo * hi);
            ((ResponseDb(mid) < -3.0) == rising ? lo : hi) = mid;
        }
        return std::sqrt(lo * hi);
    }
    std::pair<double, double> ResponseRange(double lo, double hi) {
        double most = -1e9, least = 1e9;
        for (int i = 0; i <= 20000; ++i) {
            const double db = ResponseDb(lo * std::pow(hi / lo, i / 20000.0));
            most = std::max(most, db);
            least = std::min(least, db);
        }
        return {most, least};
    }

    std::vector<Expected> ExpectedFigures() {
        std::vector<Expected> e;
        const double ceiling = Ceiling();
        e.push_back({"output_ceiling_dbfs", ceiling, 0.0});
        const auto narrow = ResponseRange(40.0, 15000.0);
        const auto wide = ResponseRange(20.0, 20000.0);
        for (int c = 0; c < 2; ++c) {
            const std::string ch = c == 0 ? "_l" : "_r";
            const double a = FromDb(ceiling);
            // The level search reads the fundamental, which the cubic raises by 3/4 a3 a^2.
            e.push_back({"gain_db" + ch,
                         Db(SignalScale(c) * (1 + 0.75 * kA3 * a * a) * Filters(997.0)), 0.01});
            e.push_back({"response_max_db" + ch, narrow.first, 0.05});
            e.push_back({"response_min_db" + ch, narrow.second, 0.05});
            e.push_back({"response_wide_max_db" + ch, wide.first, 0.05});
            // At 20 kHz the lowpass is 23 dB down and falling 1.3 dB a point (1/48 octave): the
            // reading between two points and the noise, some 45 dB under what comes back there,
            // move it by up to about 0.1 dB.
            e.push_back({"response_wide_min_db" + ch, wide.second, 0.2});
            const double low = ThreeDbPoint(10.0, 1000.0), high = ThreeDbPoint(1000.0, 22000.0);
            e.push_back({"response_low_hz" + ch, low, 0.005 * low});
            e.push_back({"response_high_hz" + ch, high, 0.005 * high});
            // The noise's expected power, not its power in the block measured: that scatters by
            // about 0.05 dB a sigma through a window, beyond the analysers' own 0.1 dB.
            constexpr double kNoiseTolerance = 0.25;
            e.push_back({"noise_dbfs" + ch, NoiseDbfs(c), kNoiseTolerance});
            e.push_back({"noise_dba" + ch, NoiseDba(c), kNoiseTolerance});
            // AES17's ratio plus the tone's level below full scale is the A-weighted noise below
            // full scale: the tone's own level cancels.
            e.push_back({"dynamic_range_dba" + ch, -NoiseDba(c), kNoiseTolerance});
            const double thd1 = ThdRatio(-1.0), thd20 = ThdRatio(-20.0);
            e.push_back({"thd_m1dbfs_db" + ch, Db(thd1), 0.05});
            e.push_back({"thd_m1dbfs_pct" + ch, 100 * thd1, 100 * thd1 * 0.006});
            e.push_back({"thdn_m1dbfs_db" + ch, ThdnDb(-1.0, c), 0.05});
            // H2 at -20 dBFS is 66 dB down, with the noise 14 dB under it in its own bin: about
            // 0.1 dB of scatter.
            e.push_back({"thd_m20dbfs_db" + ch, Db(thd20), 0.35});
            e.push_back({"thd_m20dbfs_pct" + ch, 100 * thd20, 100 * thd20 * 0.04});
            // The noise sets THD+N at -20 dBFS, and over a 32768-frame block it moves the reading
            // more than over the noise step's 65536: 33 runs kept within 0.26 dB of this value.
            e.push_back({"thdn_m20dbfs_db" + ch, ThdnDb(-20.0, c), 0.35});
            e.push_back({"imd_smpte_pct" + ch, SmptePct(), SmptePct() * 0.005});
            e.push_back({"imd_ccif_pct" + ch, CcifPct(), CcifPct() * 0.005});
            e.push_back({"clipping_dbfs" + ch, Clips(0.0) && !Clips(-2.0) ? 0.0 : -99.0, 0.0});
        }
        // The leak into the undriven channel, against the driven one, which L's gain raises or
        // lowers. A 16384-frame fit of a leak 70 dB down scatters by about 0.025 dB.
        for (const char* f : {"100hz", "1khz", "10khz"}) {
            e.push_back({std::string("crosstalk_l_to_r_") + f + "_db", kLeakLrDb - kGainLDb, 0.1});
            e.push_back({std::string("crosstalk_r_to_l_") + f + "_db", kLeakRlDb + kGainLDb, 0.1});
        }
        e.push_back({"balance_level_db", Db(SignalScale(0) / SignalScale(1)), 0.01});
        e.push_back({"balance_phase_deg", 0.0, 0.05});
        // The polynomial stage delays both channels 184 frames; the lowpass's group delay (about
        // 15 us at low frequencies: 0.66 frames at 44.1 kHz, 1.44 at 96 kHz) moves the impulse's
        // peak by under two frames more, at the stream's rate as at the panel's.
        e.push_back({"latency_ms", kSimPolyLatencyFrames / rate_hz * 1000, 2.0 / rate_hz * 1000});
        return e;
    }
};

struct RunResult {
    int exitStatus = -1;
    std::map<std::string, std::string> values; // summary.csv: id -> value
    std::map<std::string, std::string> verdicts;
    std::string dir;
    bool readable = false; // both files read, and they agree
    std::string readErrors;
    std::vector<std::string> steps; // "name<TAB>done|failed<TAB>note"
    std::string header;             // "rate_hz<TAB>sample_format<TAB>format"
};

// One report, the bench's clock stepped on a thread of its own while the run waits on it.
RunResult RunOnKnownDevice(const std::string& name, const std::string& limits,
                           const std::string& device = kDevice, StreamFormat format = {}) {
    CSimulatedBench& bench = CSimulatedBench::Instance();
    bench.Reset();
    bench.SetClock(BenchClock::Stepped);
    std::atomic<bool> done{false};
    std::thread stepper([&] {
        while (!done) {
            bench.Step(1);
        }
    });
    RunResult result;
    result.dir = (std::filesystem::temp_directory_path() /
                  ("tavrin_report_" + name + "_" + std::to_string(getpid())))
                     .string();
    std::filesystem::remove_all(result.dir);
    ReportOptions options;
    options.device = device;
    options.out_dir = result.dir;
    options.stream = format;
    if (!limits.empty()) {
        options.limits = result.dir + ".limits.json";
        std::ofstream(*options.limits) << limits;
    }
    result.exitStatus = RunReport(options);
    done = true;
    stepper.join();
    bench.Reset();
    // Read back by Python's json and csv modules, which also hold the two files to each other.
    const ToolResult read =
        RunTool({"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py",
                 result.dir});
    result.readable = read.exitStatus == 0;
    result.readErrors = read.err;
    std::istringstream stepLines(
        RunTool({"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py",
                 "--steps", result.dir})
            .out);
    for (std::string line; std::getline(stepLines, line);) {
        result.steps.push_back(line);
    }
    result.header =
        RunTool({"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py",
                 "--header", result.dir})
            .out;
    std::istringstream lines(read.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        const size_t tab2 = line.find('\t', tab + 1);
        const std::string id = line.substr(0, tab);
        result.values[id] = line.substr(tab + 1, tab2 - tab - 1);
        result.verdicts[id] = line.substr(tab2 + 1);
    }
    return result;
}

struct KnownDeviceCase {
    const char* name;
    StreamFormat format;
    const char* header; // what report.json records of the card's format
};

void PrintTo(const KnownDeviceCase& c, std::ostream* os) {
    *os << c.name;
}

class ReportOnKnownDeviceAt : public testing::TestWithParam<KnownDeviceCase> {};

// One run for the whole table: each test of a program runs in a process of its own, and a run
// is the expensive part.
TEST_P(ReportOnKnownDeviceAt, EveryFigureAgreesWithTheStages) {
    const KnownDeviceCase& c = GetParam();
    const RunResult run = RunOnKnownDevice(c.name, "", kDevice, c.format);
    ASSERT_EQ(run.exitStatus, 0);
    ASSERT_TRUE(run.readable) << run.readErrors;
    EXPECT_EQ(run.header, std::string(c.header) + "\n");
    DutOracle oracle{double(c.format.rate_hz), SampleBits(c.format.format)};
    for (const Expected& e : oracle.ExpectedFigures()) {
        SCOPED_TRACE(e.id);
        ASSERT_TRUE(run.values.count(e.id));
        const std::string& value = run.values.at(e.id);
        if (std::isnan(e.value)) {
            EXPECT_EQ(value, "") << "not measured at this format";
            continue;
        }
        ASSERT_FALSE(value.empty()) << "no value";
        EXPECT_NEAR(std::stod(value), e.value, e.tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ReportOnKnownDeviceAt,
                         testing::Values(KnownDeviceCase{"s16_at_44100",
                                                         {44100, SampleFormat::S16},
                                                         "44100\ts16\t44.1 kHz/16-bit, stereo"},
                                         KnownDeviceCase{"s24_at_96000",
                                                         {96000, SampleFormat::S24},
                                                         "96000\ts24\t96 kHz/24-bit, stereo"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every figure of the report has its oracle above: a figure added without one fails here.
TEST(ReportOnKnownDevice, EveryFigureHasAnOracle) {
    const auto expected = DutOracle{}.ExpectedFigures();
    for (const ReportFigure& figure : ReportFigureTable()) {
        EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const Expected& e) {
            return e.id == figure.id;
        })) << figure.id;
    }
}

class ReportFloorAt : public testing::TestWithParam<KnownDeviceCase> {};

// A device that adds nothing but its capture converter's TPDF dither: the idle noise is the
// converter's own, a step^2/4 of power, white, set by the depth alone. The -60 dBFS tone of the
// dynamic range also carries the output's undithered rounding, another step^2/12, spread
// evenly by a tone that exercises every code. At 24 bits both figures come out some 48 dB
// below 16 bits'.
TEST_P(ReportFloorAt, NoiseAndDynamicRangeFollowTheDepth) {
    const KnownDeviceCase& c = GetParam();
    const RunResult run =
        RunOnKnownDevice(std::string("floor_") + c.name, "", "sim:dut=dither", c.format);
    ASSERT_TRUE(run.readable) << run.readErrors;
    DutOracle oracle{double(c.format.rate_hz), SampleBits(c.format.format)};
    const double power = oracle.Step() * oracle.Step() / 4;
    const std::pair<const char*, double> expected[] = {
        {"noise_dbfs", 10 * std::log10(2 * power * oracle.InBand())},
        {"noise_dba", 10 * std::log10(2 * power * oracle.AWeightedShare())},
        {"dynamic_range_dba", -10 * std::log10(2 * power * 4 / 3 * oracle.AWeightedShare())},
    };
    for (const auto& [id, value] : expected) {
        for (const char* ch : {"_l", "_r"}) {
            SCOPED_TRACE(std::string(id) + ch);
            const std::string& got = run.values.at(id + std::string(ch));
            ASSERT_FALSE(got.empty()) << "no value";
            EXPECT_NEAR(std::stod(got), value, 0.3);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReportFloorAt,
    testing::Values(KnownDeviceCase{"s16_at_44100", {44100, SampleFormat::S16}, ""},
                    KnownDeviceCase{"s24_at_96000", {96000, SampleFormat::S24}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The page stands alone: html.parser reads it whole, every section is there, and nothing in it
// points outside the file (no src, no link but to its own anchors, no url(), no @import).
TEST(ReportOnKnownDevice, HtmlIsSelfContainedWithEverySection) {
    const RunResult run = RunOnKnownDevice("html", "");
    ASSERT_EQ(run.exitStatus, 0);
    const ToolResult check = RunTool(
        {"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/check_report_html.py",
         run.dir + "/report.html", "summary", "response", "thd_vs_freq", "noise_spectrum",
         "crosstalk", "crosstalk_spectrum", "thdn_vs_level", "steps"});
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
}

// A limits file the device keeps exits 0 with every limited figure marked pass; one it breaks
// exits 5, the figure marked fail and named on stderr.
TEST(ReportOnKnownDevice, LimitsPassAndFail) {
    const RunResult pass = RunOnKnownDevice(
        "pass", R"({"thd_m1dbfs_db_l": {"max": -40}, "noise_dba_r": {"min": -90, "max": -75}})");
    EXPECT_EQ(pass.exitStatus, 0);
    EXPECT_EQ(pass.verdicts.at("thd_m1dbfs_db_l"), "pass");
    EXPECT_EQ(pass.verdicts.at("noise_dba_r"), "pass");
    EXPECT_EQ(pass.verdicts.at("thd_m1dbfs_db_r"), "");

    const RunResult fail = RunOnKnownDevice(
        "fail", R"({"thd_m1dbfs_db_l": {"max": -60}, "noise_dba_r": {"max": -75}})");
    EXPECT_EQ(fail.exitStatus, 5);
    EXPECT_EQ(fail.verdicts.at("thd_m1dbfs_db_l"), "fail");
    EXPECT_EQ(fail.verdicts.at("noise_dba_r"), "pass");
}

// A device that sends nothing back (120 dB down: below the 16-bit floor) fails every step that
// needs a signal, each measured twice and noted with its reason, while the noise step, which
// needs none, still runs; the run exits 4 with every file written.
TEST(ReportOnKnownDevice, FailedStepsAreMeasuredTwiceNotedAndTheRestRuns) {
    testing::internal::CaptureStderr();
    const RunResult run = RunOnKnownDevice("silent", "", "sim:dut=gain:-60+gain:-60");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.exitStatus, 4) << err;
    ASSERT_TRUE(run.readable) << run.readErrors;
    const std::vector<std::string> expected = {
        "output level\tfailed\tL: no tone to measure against",
        "frequency response\tfailed\tL: nothing of the sweep came back",
        "noise\tdone\t",
        "dynamic range\tfailed\tL: no tone",
        "THD at -1 dBFS\tfailed\tL: no tone",
        "THD at -20 dBFS\tfailed\tL: no tone",
        "IMD SMPTE\tfailed\tL: no tone",
        "IMD CCIF\tfailed\tL: no tone",
        "crosstalk\tfailed\tno signal on L",
        "channel balance\tfailed\tno signal on one channel or both",
        "THD+N against level\tfailed\tno level measured on L",
    };
    ASSERT_EQ(run.steps.size(), expected.size()) << err;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(run.steps[i].rfind(expected[i], 0), 0u) << run.steps[i];
        const std::string name = expected[i].substr(0, expected[i].find('\t'));
        // A failure is said before the second try, then the step's end with its time.
        const std::string reason = expected[i].substr(expected[i].rfind('\t') + 1);
        const std::string said = "] " + name + ": ";
        if (expected[i].find("\tfailed") != std::string::npos) {
            const size_t retry = err.find(said + reason);
            ASSERT_NE(retry, std::string::npos) << name << err;
            EXPECT_EQ(err.substr(err.find('\n', retry) - 11, 11), "; once more") << name;
            EXPECT_GT(err.find(said + "failed in ", retry), retry) << name;
        } else {
            EXPECT_EQ(err.find(said), err.find(said + "done in ")) << name << err;
        }
    }
    EXPECT_EQ(run.values.at("noise_dbfs_l"), "-300.0") << "digital silence";
    EXPECT_EQ(run.values.at("thd_m1dbfs_db_l"), "");
    EXPECT_EQ(run.values.at("gain_db_r"), "");
}

} // namespace
