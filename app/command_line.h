#pragma once
// The panel's command line, parsed the usual Linux way into plain data, so it is checked
// without a window or a display. A subcommand ("tavrin COMMAND ...") is dispatched by main
// before these options are parsed; here a word that is not an option is an error.

#include <QStringList>

#include <string>

struct CommandLine {
    // Device names for the two directions; empty when the command line names none.
    std::string input;
    std::string output;
    bool listDevices = false;
};

// What main does next: run the panel (or list the devices) with `options`, or print `out` and
// `err` and end with `exitCode` (--help, --version: 0; a bad option or value: 2).
struct CommandLineOutcome {
    bool exit = false;
    int exitCode = 0;
    std::string out;
    std::string err;
    CommandLine options;
};

inline constexpr int kBadUsageExitCode = 2;

// `arguments` as main received them, the program's name first.
CommandLineOutcome ParseCommandLine(const QStringList& arguments);
QStringList ArgumentList(int argc, char** argv);
// Prints an outcome that ends the program (out to stdout, err to stderr); its exit code.
int PrintOutcome(const CommandLineOutcome& outcome);
