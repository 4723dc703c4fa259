#pragma once
// How the measuring run's main thread sleeps and wakes: on a pipe that the Ctrl-C/SIGTERM
// handler and the capture worker both write one byte to. The handler does nothing else (it
// stores the signal in a lock-free atomic and writes, both async-signal-safe); the stopping
// itself, with the WAV file finished, happens on the main thread.

// Main thread, once, before the capture starts. Also ignores SIGPIPE, so a reader that goes
// away (`| head`) shows up as a failed write that ends the run cleanly, not as a killed process.
// False when the pipe cannot be made.
bool InstallStopSignals();

// Any thread, and the handler. Wakes WaitForWake.
void WakeMainThread();

// Main thread. Returns after a wake or after timeoutMs, whichever comes first; takes every
// pending wake with it.
void WaitForWake(int timeoutMs);

// SIGINT or SIGTERM once one has arrived; 0 before.
int StopSignal();
