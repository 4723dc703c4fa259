// The calibration store: volts from dBFS and back, one device's figures never another's, a
// damaged or half-wrong file read as far as it is whole, and a save that never leaves half a file.
#include "analysis/calibration/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TempFolder() {
    std::string folder = ::testing::TempDir() + "tavrin_calibration_XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

CalibrationEntry Entry(const std::string& device, CalibrationSide side, int channel, double vrms) {
    return {device, side, channel, vrms, "2026-12-08"};
}

// dBFS -> volts -> dBFS and volts -> dBFS -> volts; the oracle is the definition
// 20 log10(V / V0), worked here from a known ratio: a tenth of V0 is -20 dB, half is -6.0206 dB.
struct RoundTripCase {
    double vrms_at_0dbfs;
    double vrms;
    double dbfs; // 20 log10(vrms / vrms_at_0dbfs), worked by hand
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, VoltsToDbfsAndBack) {
    const RoundTripCase& c = GetParam();
    EXPECT_NEAR(VrmsToDbfs(c.vrms, c.vrms_at_0dbfs), c.dbfs, 1e-9);
    EXPECT_NEAR(DbfsToVrms(c.dbfs, c.vrms_at_0dbfs), c.vrms, 1e-9 * c.vrms);
    const double back = DbfsToVrms(VrmsToDbfs(c.vrms, c.vrms_at_0dbfs), c.vrms_at_0dbfs);
    EXPECT_NEAR(back, c.vrms, 1e-12 * c.vrms);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, RoundTrip,
    ::testing::Values(RoundTripCase{1.0, 1.0, 0.0}, RoundTripCase{1.0, 0.1, -20.0},
                      RoundTripCase{2.0, 1.0, -6.020599913279624}, RoundTripCase{0.775, 7.75, 20.0},
                      RoundTripCase{1.228, 1.228e-5, -100.0}, RoundTripCase{3.3, 3.3e-6, -120.0}));

TEST(SineVpp, IsTwoRootTwoTimesRms) {
    // A 1 V peak sine: RMS 1/sqrt(2), peak to peak 2 V.
    EXPECT_NEAR(SineVpp(1.0 / std::sqrt(2.0)), 2.0, 1e-12);
}

struct ReadingCase {
    const char* name;
    double vrms;
    double dbfs;
    std::optional<double> at_0dbfs;
};

void PrintTo(const ReadingCase& c, std::ostream* out) {
    *out << c.name;
}

class Reading : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(Reading, CalibratesOrRefuses) {
    const ReadingCase& c = GetParam();
    const auto got = CalibrateFromReading(c.vrms, c.dbfs);
    ASSERT_EQ(got.has_value(), c.at_0dbfs.has_value());
    if (got) {
        EXPECT_NEAR(*got, *c.at_0dbfs, 1e-12 * *c.at_0dbfs);
    }
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Readings, Reading,
                         ::testing::Values(ReadingCase{"AtFullScale", 1.5, 0.0, 1.5},
                                           ReadingCase{"TwentyDbDown", 0.1, -20.0, 1.0},
                                           ReadingCase{"AtTheFloor", 1e-5, -100.0, 1.0},
                                           ReadingCase{"BelowTheFloor", 1e-5, -100.01,
                                                       std::nullopt},
                                           ReadingCase{"ZeroVolts", 0.0, -20.0, std::nullopt},
                                           ReadingCase{"NegativeVolts", -1.0, -20.0, std::nullopt},
                                           ReadingCase{"NanVolts", kNan, -20.0, std::nullopt},
                                           ReadingCase{"NanDbfs", 1.0, kNan, std::nullopt},
                                           ReadingCase{"SilentInput", 1.0, -kInf, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Store, OneDevicesEntryChangesNothingForAnother) {
    CCalibrationStore store;
    store.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 1.25));
    EXPECT_FALSE(store.Find("hw:2,0", CalibrationSide::Input, 0));
    EXPECT_FALSE(store.Find("hw:1,0", CalibrationSide::Output, 0));
    EXPECT_FALSE(store.Find("hw:1,0", CalibrationSide::Input, 1));
    ASSERT_TRUE(store.Find("hw:1,0", CalibrationSide::Input, 0));
    EXPECT_EQ(store.Find("hw:1,0", CalibrationSide::Input, 0)->vrms_at_0dbfs, 1.25);

    store.Set(Entry("hw:2,0", CalibrationSide::Input, 0, 0.5));
    store.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 2.0)); // replaces, adds nothing
    EXPECT_EQ(store.Entries().size(), 2u);
    EXPECT_EQ(store.Find("hw:1,0", CalibrationSide::Input, 0)->vrms_at_0dbfs, 2.0);
    EXPECT_EQ(store.Find("hw:2,0", CalibrationSide::Input, 0)->vrms_at_0dbfs, 0.5);
}

TEST(Store, SavedFileReadsBackTheSame) {
    const std::string path = TempFolder() + "/deeper/tavrin/calibration.json";
    CCalibrationStore store;
    store.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 1.2345678901234567));
    CalibrationEntry at96k = Entry("hw:1,0", CalibrationSide::Output, 1, 0.775);
    at96k.taken_rate_hz = 96000;
    at96k.taken_format = "s24";
    store.Set(at96k);
    std::string error;
    ASSERT_TRUE(store.Save(path, &error)) << error;

    CCalibrationStore read;
    std::string message;
    ASSERT_TRUE(read.Load(path, &message)) << message;
    ASSERT_EQ(read.Entries().size(), 2u);
    const auto input = read.Find("hw:1,0", CalibrationSide::Input, 0);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->vrms_at_0dbfs, 1.2345678901234567);
    EXPECT_EQ(input->set_on, "2026-12-08");
    EXPECT_EQ(input->taken_rate_hz, 0); // not recorded: the file does not claim one
    const auto output = read.Find("hw:1,0", CalibrationSide::Output, 1);
    ASSERT_TRUE(output);
    EXPECT_EQ(output->taken_rate_hz, 96000);
    EXPECT_EQ(output->taken_format, "s24");
}

TEST(Store, MissingFileIsNoCalibrationAndNoMessage) {
    CCalibrationStore store;
    store.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 1.0));
    std::string message;
    EXPECT_TRUE(store.Load(TempFolder() + "/none.json", &message));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(store.Entries().empty());
}

TEST(Store, DefaultPathFollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(CCalibrationStore::DefaultPath(), "/somewhere/config/tavrin/calibration.json");
    if (old != nullptr) {
        setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

// One good entry for hw:0 and, for the files that have one, a bad one for hw:9 beside it.
const char* const kGood =
    R"({"device":"hw:0","side":"input","channel":0,"vrms_at_0dbfs":1.5,"set_on":"2026-12-08"})";

struct BadFileCase {
    const char* name;
    std::string text;
    bool good_applies;   // the whole entry beside the bad one is still applied
    const char* message; // a piece of the one message
};

void PrintTo(const BadFileCase& c, std::ostream* out) {
    *out << c.name;
}

class BadFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(BadFile, RefusedWithOneLineRestApplied) {
    const BadFileCase& c = GetParam();
    const std::string path = TempFolder() + "/calibration.json";
    WriteFile(path, c.text);
    CCalibrationStore store;
    std::string message;
    EXPECT_FALSE(store.Load(path, &message));
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(store.Find("hw:0", CalibrationSide::Input, 0).has_value(), c.good_applies);
    EXPECT_FALSE(store.Find("hw:9", CalibrationSide::Input, 0));
    EXPECT_EQ(store.Entries().size(), c.good_applies ? 1u : 0u);
}

std::string WithBad(const std::string& bad) {
    return std::string(R"({"version":1,"entries":[)") + kGood + "," + bad + "]}";
}

const std::string kBadHead = R"({"device":"hw:9","side":"input","channel":0,)";

INSTANTIATE_TEST_SUITE_P(
    Files, BadFile,
    ::testing::Values(
        BadFileCase{"DamagedJson", std::string(R"({"version":1,"entries":[)") + kGood, false,
                    "damaged"},
        BadFileCase{"Empty", "", false, "damaged"},
        BadFileCase{"BinaryJunk", std::string("\x00\xff\xfe{[", 5), false, "damaged"},
        BadFileCase{"TopLevelArray", std::string("[") + kGood + "]", false, "damaged"},
        BadFileCase{"EntriesNotAList", R"({"version":1,"entries":{"a":1}})", false, "entries"},
        BadFileCase{"UnknownVersion", std::string(R"({"version":7,"entries":[)") + kGood + "]}",
                    false, "version"},
        BadFileCase{"WrongTypeEntry", WithBad("42"), true, "1 entry skipped"},
        BadFileCase{"NegativeVolts", WithBad(kBadHead + R"("vrms_at_0dbfs":-1})"), true,
                    "positive"},
        BadFileCase{"ZeroVolts", WithBad(kBadHead + R"("vrms_at_0dbfs":0})"), true, "positive"},
        BadFileCase{"NanAsString", WithBad(kBadHead + R"("vrms_at_0dbfs":"NaN"})"), true,
                    "not a number"},
        BadFileCase{"HugeOverflow", WithBad(kBadHead + R"("vrms_at_0dbfs":1e999})"), false,
                    "damaged"},
        BadFileCase{"MissingVolts", WithBad(kBadHead + "\"set_on\":\"2026-12-08\"}"), true,
                    "missing"},
        BadFileCase{"MissingDevice", WithBad(R"({"side":"input","channel":0,"vrms_at_0dbfs":1})"),
                    true, "device"},
        BadFileCase{"SideMisspelt",
                    WithBad(R"({"device":"hw:9","side":"in","channel":0,"vrms_at_0dbfs":1})"), true,
                    "side"},
        BadFileCase{"ChannelOutOfRange",
                    WithBad(R"({"device":"hw:9","side":"input","channel":5,"vrms_at_0dbfs":1})"),
                    true, "channel"},
        BadFileCase{"ChannelAsText",
                    WithBad(R"({"device":"hw:9","side":"input","channel":"0","vrms_at_0dbfs":1})"),
                    true, "channel"},
        BadFileCase{"RateWithoutFormat",
                    WithBad(kBadHead + R"("vrms_at_0dbfs":1,"rate_hz":96000})"), true,
                    "sample_format"},
        BadFileCase{
            "RateAsText",
            WithBad(kBadHead + R"("vrms_at_0dbfs":1,"rate_hz":"96k","sample_format":"s24"})"), true,
            "rate_hz"},
        BadFileCase{"TwoBadOneMessage", WithBad(kBadHead + R"("vrms_at_0dbfs":-1},)" + "null"),
                    true, "2 entries skipped"}),
    [](const auto& info) { return std::string(info.param.name); });

// Saves in a child process that, when the tests run as root, drops to nobody: root writes in a
// read-only folder. True when the save succeeded; *error is lost with the child.
bool SaveAsUser(const CCalibrationStore& store, const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        std::string error;
        _exit(store.Save(path, &error) ? 0 : (error.empty() ? 2 : 1));
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 3) << "cannot drop root";
    EXPECT_NE(WEXITSTATUS(status), 2) << "failed without a reason";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A file cut short anywhere, as a full disk or a crash of another writer leaves it, and one with
// a byte changed anywhere: never a crash, never more than one line, never an entry that is not
// whole.
TEST(Store, EveryTruncationAndByteFlipOfAGoodFileLoadsOrIsRefusedCleanly) {
    const std::string good = WithBad(
        R"({"device":"hw:9","side":"output","channel":1,"vrms_at_0dbfs":0.5,"set_on":"x"})");
    const std::string path = TempFolder() + "/calibration.json";
    std::vector<std::string> texts;
    for (size_t length = 0; length < good.size(); ++length) {
        texts.push_back(good.substr(0, length));
    }
    for (size_t at = 0; at < good.size(); ++at) {
        std::string flipped = good;
        flipped[at] = char(flipped[at] ^ 0x5a);
        texts.push_back(flipped);
    }
    for (const std::string& text : texts) {
        WriteFile(path, text);
        CCalibrationStore store;
        std::string message;
        const bool loaded = store.Load(path, &message);
        EXPECT_EQ(loaded, message.empty()) << text;
        EXPECT_EQ(message.find('\n'), std::string::npos) << text;
        for (const CalibrationEntry& entry : store.Entries()) {
            EXPECT_TRUE(std::isfinite(entry.vrms_at_0dbfs) && entry.vrms_at_0dbfs > 0) << text;
            EXPECT_TRUE(entry.channel == 0 || entry.channel == 1) << text;
            EXPECT_FALSE(entry.device.empty()) << text;
        }
    }
}

TEST(Store, ADeviceNameThatIsNotUtf8StillSaves) {
    CCalibrationStore store;
    store.Set(Entry("card\xff\xfe", CalibrationSide::Input, 0, 1.0));
    std::string error;
    EXPECT_TRUE(store.Save(TempFolder() + "/calibration.json", &error)) << error;
}

TEST(Store, FailedSaveLeavesTheOldFile) {
    const std::string folder = TempFolder();
    const std::string path = folder + "/calibration.json";
    CCalibrationStore old;
    old.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 1.0));
    std::string error;
    ASSERT_TRUE(old.Save(path, &error)) << error;
    const std::string before = ReadFile(path);

    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    CCalibrationStore changed;
    changed.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 2.0));
    EXPECT_FALSE(SaveAsUser(changed, path));
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFile(path), before);
}

TEST(Store, SaveIntoAFolderThatCannotBeMadeFails) {
    const std::string folder = TempFolder();
    WriteFile(folder + "/file", "x"); // a file where the folder should be
    CCalibrationStore store;
    store.Set(Entry("hw:1,0", CalibrationSide::Input, 0, 1.0));
    std::string error;
    EXPECT_FALSE(store.Save(folder + "/file/tavrin/calibration.json", &error));
    EXPECT_NE(error, "");
}

} // namespace
