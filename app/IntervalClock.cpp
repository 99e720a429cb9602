#include "app/IntervalClock.h"

#include <utility>

CIntervalClock::~CIntervalClock() {
    Stop();
}

void CIntervalClock::Start(std::chrono::milliseconds period, std::function<void()> tick) {
    Stop();
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    running_ = true;
    const auto first = std::chrono::steady_clock::now() + period;
    nextDue_ = first.time_since_epoch().count();
    thread_ =
        std::thread([this, first, period, tick = std::move(tick)] { Run(first, period, tick); });
}

void CIntervalClock::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    running_ = false;
}

void CIntervalClock::Run(std::chrono::steady_clock::time_point first,
                         std::chrono::milliseconds period, std::function<void()> tick) {
    auto due = first;
    nextDue_ = due.time_since_epoch().count();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, due, [this] { return stop_; })) {
                return;
            }
        }
        tick();
        due += period;
        // Deadlines that passed while the tick was being called are not
        // made up for: the next one keeps to the grid.
        const auto now = std::chrono::steady_clock::now();
        while (due <= now) {
            due += period;
            ++skipped_;
        }
        nextDue_ = due.time_since_epoch().count();
    }
}
