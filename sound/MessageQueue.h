// A thread's own message queue: any thread posts, the owning thread takes
// the messages in the order they were posted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

inline constexpr unsigned WM_QUIT = 0x0012;
// A wave input buffer is back from the device: wParam the device, lParam
// the WAVEHDR.
inline constexpr unsigned MM_WIM_DATA = 0x3C0;

struct ThreadMessage {
    unsigned message = 0;
    void* wParam = nullptr;
    void* lParam = nullptr;
};

class CMessageQueue {
public:
    void Post(const ThreadMessage& msg) {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(msg);
        }
        wake_.notify_one();
    }
    // Waits for the next message.
    ThreadMessage Get() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !messages_.empty(); });
        ThreadMessage msg = messages_.front();
        messages_.pop_front();
        return msg;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ThreadMessage> messages_;
};
