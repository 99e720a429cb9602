// What the command-line tool needs of the operating system: whether a
// stream is a terminal, the stop signals, and running the hook.
#pragma once

#include <functional>
#include <string>

// Standard error is a terminal (progress is shown there).
bool StandardErrorIsTerminal();

// Takes SIGINT, SIGTERM and SIGHUP away from every thread started after it
// (call it first) and hands them to a thread of its own, which calls
// onSignal with the signal's number, never from a signal handler. SIGPIPE
// is ignored.
void WatchStopSignals(std::function<void(int)> onSignal);
// Ends that thread.
void StopWatchingSignals();

// How a hook ended: its exit status, the signal that ended it, or not run.
struct HookEnd {
    enum How { Exited, Signalled, NotRun } how = NotRun;
    int value = 0;  // the status or the signal's number
};

// Runs the command with /bin/sh, with TULK_PICTURE set to the picture's path
// in its environment, and waits for it.
HookEnd RunHook(const std::string& command, const std::string& picture);

// A new folder of this process's alone (mode 0700) under the system's
// temporary folder; empty, with errno set, when none can be made.
std::string MakePrivateFolder(const std::string& prefix);
