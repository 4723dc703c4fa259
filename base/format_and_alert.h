#pragma once
// How the engine and the instruments report to the user: through an alert sink that the
// program installs (a blocking message box on the GUI thread) or a test installs (a recorder).

#include <functional>
#include <string>
#include <thread>

enum class AlertIcon { None, Warning, Information };

struct Alert {
    std::string text;
    std::string caption; // empty: the program's name, "tavrin"
    AlertIcon icon = AlertIcon::None;
    bool waits = true;  // false: the sink shows the alert and returns at once
    // true: the panel's own question, modal over the whole panel; false: a worker's report,
    // which holds only the worker that raised it.
    bool blocksPanel = false;
};

// Called on the reporting thread; returns once the user has dismissed the alert, or at once
// when the alert does not wait.
using AlertSink = std::function<void(const Alert&)>;

// Installs the sink (an empty one restores the default, which prints to stderr). Thread-safe.
void SetAlertSink(AlertSink sink);

// Shows an alert through the installed sink; any thread; blocks like a modal box if it waits.
void ShowAlert(const Alert& alert);

// True while `thread` is inside ShowAlert with an alert that waits: held until the user
// answers. Any thread.
bool WaitsOnUser(std::thread::id thread);

// printf-style text in a warning box with one OK button.
void FormatAndAlert(const char* format, ...) __attribute__((format(printf, 1, 2)));
