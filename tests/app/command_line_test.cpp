#include "app/command_line.h"
#include "app/device_choice.h"
#include "app/translation.h"

#include <gtest/gtest.h>

namespace {

struct ArgumentCase {
    const char* name;
    QStringList arguments; // after the program's name
    int exitCode;          // -1: the program goes on
    const char* input;
    const char* output;
    bool listDevices;
    const char* firstLine; // of stdout for good endings, of stderr for bad ones
};

// The messages are checked in English; the other tests read the Chinese texts.
class CommandLineTable : public testing::TestWithParam<ArgumentCase> {
protected:
    void SetUp() override { ASSERT_TRUE(SelectLanguage(Language::English)); }
    void TearDown() override { SelectLanguage(Language::Chinese); }
};

TEST_P(CommandLineTable, ParsesOrEndsWithItsCodeAndMessage) {
    const ArgumentCase& c = GetParam();
    const CommandLineOutcome got = ParseCommandLine(QStringList{"tavrin"} + c.arguments);
    EXPECT_EQ(got.exit ? got.exitCode : -1, c.exitCode);
    EXPECT_EQ(got.options.input, c.input);
    EXPECT_EQ(got.options.output, c.output);
    EXPECT_EQ(got.options.listDevices, c.listDevices);
    const std::string& shown = c.exitCode == kBadUsageExitCode ? got.err : got.out;
    EXPECT_EQ(shown.substr(0, shown.find('\n')), c.firstLine);
    if (c.exitCode == kBadUsageExitCode) {
        EXPECT_TRUE(got.out.empty());
        EXPECT_NE(got.err.find("\nUsage: tavrin [options]\n"), std::string::npos) << got.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTable,
    testing::Values(
        ArgumentCase{"none", {}, -1, "", "", false, ""},
        ArgumentCase{"device",
                     {"--device", "hw:CARD=Device"},
                     -1,
                     "hw:CARD=Device",
                     "hw:CARD=Device",
                     false,
                     ""},
        ArgumentCase{"device_equals", {"--device=sim"}, -1, "sim", "sim", false, ""},
        ArgumentCase{"input_over_device",
                     {"--input", "hw:1,0", "--device", "default"},
                     -1,
                     "hw:1,0",
                     "default",
                     false,
                     ""},
        ArgumentCase{"output_alone", {"--output", "sim"}, -1, "", "sim", false, ""},
        ArgumentCase{"last_of_twice", {"--input", "a", "--input", "b"}, -1, "b", "", false, ""},
        ArgumentCase{"list", {"--list-devices"}, -1, "", "", true, ""},
        ArgumentCase{"help", {"--help"}, 0, "", "", false, "Usage: tavrin [options]"},
        ArgumentCase{"version", {"--version"}, 0, "", "", false, "tavrin 0.94"},
        ArgumentCase{
            "unknown", {"--colour", "red"}, 2, "", "", false, "tavrin: Unknown option 'colour'."},
        ArgumentCase{"missing_value",
                     {"--input"},
                     2,
                     "",
                     "",
                     false,
                     "tavrin: Missing value after '--input'."},
        ArgumentCase{
            "empty_value", {"--device="}, 2, "", "", false, "tavrin: --device needs a device name"},
        ArgumentCase{"stray_word", {"sim"}, 2, "", "", false, "tavrin: unexpected argument 'sim'"}),
    [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

TEST(StartDevices, CommandLineBeforeRememberedPerDirection) {
    const DeviceNames remembered{"hw:CARD=Mic", "hw:CARD=Spk"};
    EXPECT_EQ(StartDevices({"sim", "", false}, remembered), (DeviceNames{"sim", "hw:CARD=Spk"}));
    EXPECT_EQ(StartDevices({}, remembered), remembered);
    EXPECT_EQ(StartDevices({"", "default", false}, {}), (DeviceNames{"", "default"}));
}

TEST(DeviceListText, CaptureThenAnEmptyLineThenPlaybackOneDeviceALine) {
    // Two returns, not one conditional: g++ 12 takes the conditional's temporaries for
    // uninitialised once another test shares the file.
    const DeviceListSource source = [](WaveDirection direction) {
        if (direction == WaveDirection::In) {
            return std::vector<AudioDeviceInfo>{{"default", "Default"}, {"hw:1", "Mic"}};
        }
        return std::vector<AudioDeviceInfo>{{"default", "Default"}};
    };
    EXPECT_EQ(DeviceListText(source), "default\tDefault\nhw:1\tMic\n\ndefault\tDefault\n");
}

// Help in the language that is selected; Chinese is selected again after.
std::string HelpIn(Language language) {
    SelectLanguage(language);
    const std::string help = ParseCommandLine(QStringList{"tavrin", "--help"}).out;
    SelectLanguage(Language::Chinese);
    return help;
}

TEST(CommandLineHelp, ListsEveryHeadlessCommandInEitherLanguage) {
    const std::string english = HelpIn(Language::English);
    const std::string chinese = HelpIn(Language::Chinese);
    for (const std::string command :
         {"measure", "thd", "calibrate", "sweep", "impedance", "report"}) {
        EXPECT_NE(english.find("\n  tavrin " + command + " [options]"), std::string::npos)
            << english;
        EXPECT_NE(chinese.find("\n  tavrin " + command + " [选项]"), std::string::npos) << chinese;
    }
}

} // namespace
