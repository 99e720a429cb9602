// The time lapse's clock: a thread of its own that calls the tick at start
// + n × period on the monotonic clock, so that the intervals neither drift
// nor wait for the window thread, which may be busy painting. A tick that
// falls due while the previous one is still being called is skipped and
// counted.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CIntervalClock {
public:
    CIntervalClock() = default;
    ~CIntervalClock();
    CIntervalClock(const CIntervalClock&) = delete;
    CIntervalClock& operator=(const CIntervalClock&) = delete;

    // Starts (or starts again) the clock: the first tick one period from
    // now. The tick runs on the clock's thread and must not block for long.
    void Start(std::chrono::milliseconds period, std::function<void()> tick);
    // Stops the clock and waits until a tick being called has returned.
    void Stop();
    bool Running() const { return running_; }
    // Ticks skipped because the one before them was still being called.
    long Skipped() const { return skipped_; }
    // When the next tick falls due.
    std::chrono::steady_clock::time_point NextDue() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(nextDue_.load()));
    }

private:
    void Run(std::chrono::steady_clock::time_point first, std::chrono::milliseconds period,
             std::function<void()> tick);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> running_{false};
    std::atomic<long> skipped_{0};
    std::atomic<std::chrono::steady_clock::rep> nextDue_{0};
    std::thread thread_;
};
