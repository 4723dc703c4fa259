// The real program's command line: the device list through a private PulseAudio, and the exit
// code of a bad option, as a shell sees them.
#include "pulse_loopback.h"

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

TEST(CommandLineE2e, ListDevicesShowsPulseAudiosDefaultFirstInBothDirections) {
    CPulseLoopback pulse;
    std::string why;
    ASSERT_TRUE(pulse.Start(&why)) << why;
    const ProgramRun run = RunProgram("--list-devices 2>/dev/null");
    EXPECT_EQ(run.exitCode, 0);
    // The hint's description comes from the PulseAudio plugin, so the sound server was reached.
    const std::string line = "default\tPlayback/recording through the PulseAudio sound server\n";
    EXPECT_EQ(run.out.rfind(line, 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\n\n" + line), std::string::npos) << run.out;
}

TEST(CommandLineE2e, BadOptionEndsWithCodeTwoAndItsMessageOnStderr) {
    const ProgramRun run = RunProgram("--no-such-option 2>&1 >/dev/null");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out.rfind("tavrin: Unknown option 'no-such-option'.\nUsage: tavrin", 0), 0u)
        << run.out;
}

} // namespace
