// The progress line of a transfer on a terminal: name, bytes, rate and time
// left, once the transfer has taken longer than a second.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

class CTerminalProgress {
public:
    // Shows nothing unless on is set (standard error is a terminal).
    CTerminalProgress(bool on, std::FILE* out);
    ~CTerminalProgress();
    CTerminalProgress(const CTerminalProgress&) = delete;
    CTerminalProgress& operator=(const CTerminalProgress&) = delete;

    // Ends a line being shown, so that the next text starts on a line of
    // its own.
    void EndLine();

private:
    void Run();
    void ShowLocked();

    std::FILE* out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool shown_ = false;
    unsigned serial_ = 0;
    std::thread thread_;
};
