#pragma once
// Checks the headless commands' tests share: a refused command line as a script sees it, and a
// running tool that is tavrin-measure without Qt's GUI. Header-only, on GoogleTest.

#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct BadCall {
    std::vector<std::string> args; // after the command
    int exitStatus;
    std::string message; // part of the one line on stderr
};

// Each call ends with its status, nothing on stdout, and one line of the tool's own on stderr
// (ALSA may add a line of its own before it) that holds the message.
inline void ExpectRefusals(const std::vector<std::string>& command,
                           const std::vector<BadCall>& calls, const std::vector<std::string>& env) {
    for (const BadCall& call : calls) {
        std::vector<std::string> argv = command;
        argv.insert(argv.end(), call.args.begin(), call.args.end());
        const ToolResult run = RunTool(argv, env);
        SCOPED_TRACE(call.args[0] + " " + (call.args.size() > 1 ? call.args[1] : ""));
        EXPECT_EQ(run.exitStatus, call.exitStatus) << run.err;
        EXPECT_NE(run.err.find(call.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        std::istringstream lines(run.err);
        int ours = 0;
        for (std::string line; std::getline(lines, line);) {
            ours += line.rfind("tavrin-measure: ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(ours, 1) << run.err;
    }
}

// The running process was handed over to tavrin-measure and has none of Qt's GUI mapped.
inline void ExpectHeadlessTool(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/maps");
    std::stringstream maps;
    maps << file.rdbuf();
    EXPECT_NE(maps.str().find("/tavrin-measure"), std::string::npos) << "not handed over";
    EXPECT_EQ(maps.str().find("libQt6Gui"), std::string::npos);
    EXPECT_EQ(maps.str().find("libQt6Widgets"), std::string::npos);
}
