// The real program's command line: the device list through a private sound server, and the exit
// code of a bad option, as a shell sees them.
#include "loopback_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
};

ProgramRun RunProgram(const std::string& arguments) {
    ProgramRun run;
    FILE* pipe = popen((std::string(TAVRIN_PROGRAM) + " " + arguments).c_str(), "r");
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
    const ProgramRun run = RunProgram("--list-devices 2>/dev/null");
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
    const ProgramRun run = RunProgram("--no-such-option 2>&1 >/dev/null");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out.rfind("tavrin: Unknown option 'no-such-option'.\nUsage: tavrin", 0), 0u)
        << run.out;
}

} // namespace
