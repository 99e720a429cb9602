// A program the tests run as a user or a script would: its own process, its
// standard output in a file, its standard error in a file or on a terminal.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // a child still running is killed
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program with the arguments and the test's environment.
    // Standard output goes to outPath (empty: a pipe no one reads, closed
    // at its other end); standard error to errPath, or with terminal set to
    // a pseudo-terminal that Terminal() reads.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath, bool terminal = false);
    void Signal(int signal);
    // The exit status, 128 + the signal for a child a signal ended, or -1
    // when it has not ended within the limit (it is then killed).
    int Wait(std::chrono::seconds limit);
    bool Running();
    // What the child wrote to its terminal so far.
    std::string Terminal();

private:
    int pid_ = -1;
    int master_ = -1;
    int status_ = -1;
    std::string terminal_;
};

inline constexpr int kSigInt = 2;
inline constexpr int kSigTerm = 15;
