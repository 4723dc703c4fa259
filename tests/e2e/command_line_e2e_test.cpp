// The real program's command line: the device list through a private sound server, and the exit
// code of a bad option, as a shell sees them.
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
};

// `lang` is the only locale variable the program sees.
ProgramRun RunProgram(const std::string& arguments, const std::string& lang) {
    ProgramRun run;
    const std::string command = "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=" + lang + " " +
                                TAVRIN_PROGRAM + " " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char chunk[4096];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) {
        run.out.append(chunk, n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CommandLineE2e, ListDevicesShowsDefaultFirstAndTheServersDeviceInBothDirections) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const ProgramRun run = RunProgram("--list-devices 2>/dev/null", "C");
    EXPECT_EQ(run.exitCode, 0);
    const size_t gap = run.out.find("\n\n");
    ASSERT_NE(gap, std::string::npos) << run.out;
    const std::string input = "\n" + run.out.substr(0, gap + 1);
    const std::string output = run.out.substr(gap + 1);
    // The server's own ALSA device ("pulse", "pipewire") comes from its client plugin's hints.
    const std::string served = "\n" + server.AudioChoice().substr(5) + "\t";
    for (const std::string& list : {input, output}) {
        EXPECT_EQ(list.rfind("\ndefault\t", 0), 0u) << run.out;
        EXPECT_NE(list.find(served), std::string::npos) << run.out;
    }
}

TEST(CommandLineE2e, BadOptionEndsWithCodeTwoAndItsMessageOnStderr) {
    const ProgramRun run = RunProgram("--no-such-option 2>&1 >/dev/null", "en_US.UTF-8");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out.rfind("tavrin: Unknown option 'no-such-option'.\nUsage: tavrin", 0), 0u)
        << run.out;
}

struct HelpText {
    const char* usage;       // the first line
    const char* description; // of --help
};

TEST(CommandLineE2e, HelpFollowsTheLanguageChoice) {
    const HelpText chinese{"用法：tavrin [选项]", "显示本帮助。"};
    const HelpText english{"Usage: tavrin [options]", "Print this help."};
    const struct {
        const char* lang;
        const char* arguments;
        HelpText want;
    } cases[] = {{"C", "", chinese},
                 {"en_US.UTF-8", "", english},
                 {"zh_CN.UTF-8", "--lang en", english},
                 {"en_US.UTF-8", "--lang=zh", chinese}};
    for (const auto& c : cases) {
        const ProgramRun run = RunProgram(std::string(c.arguments) + " --help 2>&1", c.lang);
        EXPECT_EQ(run.exitCode, 0) << c.lang << " " << c.arguments;
        EXPECT_EQ(run.out.rfind(std::string(c.want.usage) + "\n", 0), 0u) << run.out;
        EXPECT_NE(run.out.find(c.want.description), std::string::npos) << run.out;
    }
}

} // namespace
