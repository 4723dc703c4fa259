#pragma once
// Opening a web address on Linux, for the link label: the system's opener first, then the
// program registered for text/html, and the words for a failure.
//
// Result codes keep the meaning of the failure table: a code above 32 is success. Linux outcomes
// map onto the table like this:
//   program not on PATH, or no file at its path          2  file not found
//   the directory of its path does not exist              3  path not found
//   a file that is not executable (or a directory)        5  access denied
//   the program exists but could not be started           0  out of resources
//   xdg-open exit 2 (the address does not exist)          2
//   xdg-open exit 3 (no tool to open it, no browser)     31  no application associated
//   any other failing exit status, or a crash            27  association incomplete or invalid
//   xdg-mime gives no handler for text/html              31
//   the handler's desktop file cannot be found            2
//   the desktop file has no Exec line                    27
//   started (and, for the opener, exit 0 or still running) 33
//
// Pure functions: any thread. Launch functions start processes; they are meant for the GUI
// thread, in reply to a click. The opener's outcome comes later, through the event loop: the
// GUI thread never waits for it.

#include <QString>

#include <functional>
#include <optional>

inline constexpr int kLaunchOutOfResources = 0;
inline constexpr int kLaunchFileNotFound = 2;
inline constexpr int kLaunchPathNotFound = 3;
inline constexpr int kLaunchAccessDenied = 5;
inline constexpr int kLaunchAssociationInvalid = 27;
inline constexpr int kLaunchNoAssociation = 31;
inline constexpr int kLaunchSucceeded = 33;

// How long the opener may take before it counts as started: xdg-open can stay in the
// foreground for as long as the browser it started runs.
inline constexpr int kOpenerWaitMs = 5000;

// Called once with a launch's code, on the GUI thread.
using LaunchDone = std::function<void(int code)>;

// The steps of opening an address, replaceable so tests need no browser.
struct CLinkLauncher {
    // Starts the opener; done gets its code once known (at once, or later from the event loop).
    std::function<void(const QString& address, LaunchDone done)> m_openWithSystem;
    // 0 and the registered command line, or a nonzero failure code.
    std::function<int(QString& command)> m_queryHtmlCommand;
    std::function<int(const QString& commandLine)> m_runCommand;
    std::function<void()> m_beep;

    // xdg-open (given openerWaitMs to end), xdg-mime and the desktop file, QApplication::beep.
    static CLinkLauncher System(int openerWaitMs = kOpenerWaitMs);
};

// "Unable to open hyperlink:\n\n" followed by the reason for the code.
QString LaunchFailureText(int code);
QString LaunchFailureReason(int code);

// The registered command with the address in place of its first file or URL placeholder:
// a quoted placeholder ("%u", "%U", "%f", "%F") cuts the command at its opening quote, else a
// bare one cuts it at the percent sign, else the whole command stays; whatever followed is
// dropped. Other field codes left in the command are removed and "%%" becomes "%". Then one
// blank and the address, unquoted, are appended.
QString RewriteHandlerCommand(const QString& command, const QString& address);

// The Exec value of the [Desktop Entry] group of a desktop file's text, unescaped.
std::optional<QString> DesktopExecLine(const QString& desktopText);

// Path of the desktop file with this id in the applications folders, or empty.
QString LocateDesktopFile(const QString& desktopId);

// 0 when the program (a name looked up on PATH, or a path) can be started, else its code.
int CheckProgram(const QString& program);

// Code for a finished opener: exit status 0 succeeds, the rest as in the table above.
int OpenerExitCode(int exitStatus);

// Starts the opener with the arguments and returns at once. done gets its code: from its exit
// when it ends within waitMs; as started when it is still running then (its later end changes
// nothing); before this returns when the program cannot be started at all.
void StartOpener(const QString& program, const QStringList& arguments, int waitMs, LaunchDone done);

// Splits a command line the way a desktop Exec line is quoted and starts it detached.
int RunCommandLine(const QString& commandLine);

// The command line registered for text/html through xdg-mime and its desktop file.
int QueryHtmlHandler(QString& command);
