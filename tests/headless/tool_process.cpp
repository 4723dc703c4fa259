#include "tests/headless/tool_process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

CToolProcess::~CToolProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_out, m_err}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool CToolProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return false;
    }
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        for (const std::string& entry : env) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
    return m_pid > 0;
}

bool CToolProcess::Fill(int timeoutMs) {
    if (m_out < 0 && m_err < 0) {
        return false;
    }
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        char bytes[4096];
        const ssize_t got = read(fds[i].fd, bytes, sizeof bytes);
        if (got > 0) {
            (i == 0 ? m_outText : m_errText).append(bytes, size_t(got));
        } else {
            close(fds[i].fd);
            (i == 0 ? m_out : m_err) = -1;
        }
    }
    return true;
}

bool CToolProcess::ReadLine(std::string* line, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_outText.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_out < 0 || !Fill(int(left.count()))) {
            return false;
        }
    }
    const size_t newline = m_outText.find('\n');
    *line = m_outText.substr(0, newline);
    m_outText.erase(0, newline + 1);
    return true;
}

ToolResult CToolProcess::Finish(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((m_out >= 0 || m_err >= 0) && std::chrono::steady_clock::now() < end) {
        Fill(100);
    }
    ToolResult result;
    int status = 0;
    if (m_out >= 0 || m_err >= 0) {
        kill(m_pid, SIGKILL);
    }
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = std::move(m_outText);
    result.err = std::move(m_errText);
    return result;
}

ToolResult RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   int timeoutMs) {
    CToolProcess process;
    if (!process.Start(argv, env)) {
        return {};
    }
    return process.Finish(timeoutMs);
}

namespace {

std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields{""};
    for (char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

} // namespace

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        rows.push_back(CsvFields(line));
    }
    return rows;
}

std::vector<std::map<std::string, std::string>> CsvRecords(const std::string& text) {
    const std::vector<std::string> names = CsvFields(text.substr(0, text.find('\n')));
    std::vector<std::map<std::string, std::string>> records;
    for (const std::vector<std::string>& row : CsvRows(text)) {
        std::map<std::string, std::string>& record = records.emplace_back();
        for (size_t i = 0; i < row.size() && i < names.size(); ++i) {
            record[names[i]] = row[i];
        }
    }
    return records;
}

std::optional<double> MedianOf(const std::vector<std::map<std::string, std::string>>& records,
                               const std::string& column, size_t skip) {
    std::vector<double> values;
    for (size_t i = skip; i < records.size(); ++i) {
        const auto field = records[i].find(column);
        if (field != records[i].end() && !field->second.empty()) {
            values.push_back(std::stod(field->second));
        }
    }
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}
