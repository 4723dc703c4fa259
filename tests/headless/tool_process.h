#pragma once
// A program run by a test as a user runs it: its own process, stdout and stderr read through
// pipes, signals sent by process id. Single-threaded; one process per object.

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ToolResult {
    int exitStatus = -1; // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

class CToolProcess {
public:
    CToolProcess() = default;
    // Kills a process still running and waits for it.
    ~CToolProcess();
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;

    // argv[0] is the program's path; env entries ("NAME=value") are added to this process's
    // environment. False when the process cannot be started.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    // The next line of stdout without its newline; false at its end or after timeoutMs.
    bool ReadLine(std::string* line, int timeoutMs);
    pid_t Pid() const { return m_pid; }
    // Reads both outputs to their end and waits for the exit; kills the process after
    // timeoutMs. ToolResult::out holds what ReadLine has not taken.
    ToolResult Finish(int timeoutMs = 30000);

private:
    bool Fill(int timeoutMs); // reads whatever is available from either pipe
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

// Start and Finish in one.
ToolResult RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   int timeoutMs = 30000);

// The rows of a CSV text after its header line, split at the commas.
std::vector<std::vector<std::string>> CsvRows(const std::string& text);
// The rows of a CSV text as column name -> field, the names from its header line.
std::vector<std::map<std::string, std::string>> CsvRecords(const std::string& text);
// The median of a column's non-empty fields in the rows from the `skip`-th on; nothing when
// none has a value.
std::optional<double> MedianOf(const std::vector<std::map<std::string, std::string>>& records,
                               const std::string& column, size_t skip = 0);
