// `tavrin report` as a script runs it: every refusal of its command line, and of a limits file or
// an older report, exits 2 naming the fault before any device is opened.
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

const std::string kTavrin = TAVRIN_EXE;

std::string Written(const std::string& name, const std::string& text) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tavrin_report_cli_" + std::to_string(getpid()) + "_" + name))
                                 .string();
    std::ofstream(path) << text;
    return path;
}

// The device named is one that cannot open: a refusal that came after opening would say so.
TEST(ReportTool, RefusesBadArgumentsAndFilesWithOneLineNamingTheFault) {
    const std::string out = Written("out", "");
    std::filesystem::remove(out);
    const auto limits = [&](const char* name, const char* text) {
        return std::vector<std::string>{"--device", "hw:99",    "--out",
                                        out,        "--limits", Written(name, text)};
    };
    ExpectRefusals(
        {kTavrin, "report"},
        {
            {{"--device", "sim"}, 2, "--out is needed"},
            {{"--out", ""}, 2, "--out wants a folder"},
            {{"--out", out, "--seconds", "3"}, 2, "--seconds does not apply to a report"},
            {{"--out", out, "--format", "jsonl"}, 2, "--format jsonl does not apply to a report"},
            {{"--out", out, "--rate", "96001"}, 2, "--rate is one of 44100, 48000"},
            {{"--out", out, "--bogus"}, 2, "unknown option '--bogus'"},
            {limits("unknown", R"({"thd_db": {"max": -80}})"), 2, "unknown figure 'thd_db'"},
            {limits("string", R"({"noise_dba_l": {"max": "-80"}})"), 2,
             "'noise_dba_l': max must be a number, not \"-80\""},
            {limits("key", R"({"noise_dba_l": {"mx": -80}})"), 2, "unknown key 'mx'"},
            {limits("empty", R"({"noise_dba_l": {}})"), 2, "'noise_dba_l' has neither min nor max"},
            {limits("order", R"({"noise_dba_l": {"min": -70, "max": -80}})"), 2,
             "'noise_dba_l': min lies above max"},
            {limits("bare", R"({"noise_dba_l": -80})"), 2,
             "'noise_dba_l' must be an object with min, max or both"},
            {limits("array", R"([1, 2])"), 2, "one object of figure ids"},
            {limits("broken", R"({"noise_dba_l": {"max": -80})"), 2, "limits: not JSON"},
            {{"--device", "hw:99", "--out", out, "--compare", Written("old", "{}")},
             2,
             "not a report.json of tavrin report"},
            {{"--device", "hw:99", "--out", out, "--limits", "/nonexistent/limits.json"},
             2,
             "cannot read '/nonexistent/limits.json'"},
            {{"--device", "hw:99", "--out", out}, 3, "cannot open output device 'hw:99'"},
        },
        {});
    EXPECT_FALSE(std::filesystem::exists(out + "/report.html"));
}

} // namespace
