// The thread that publishes pictures: one upload at a time, in order, never
// on the camera thread, so that a slow or unreachable server keeps only
// itself waiting.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CFtpWorker {
public:
    CFtpWorker();
    // Abort, then Join.
    ~CFtpWorker();
    CFtpWorker(const CFtpWorker&) = delete;
    CFtpWorker& operator=(const CFtpWorker&) = delete;

    // Queues the job; done then runs on context's thread, unless context is
    // gone by then. False, with nothing queued, once the worker is ending.
    bool Post(std::function<void()> job, QObject* context, std::function<void()> done = {});
    // Set while the worker is ending: a transfer that watches it ends at once.
    const std::atomic<bool>* AbortFlag() const { return &abort_; }
    // Takes no more jobs, has the transfer in progress end, and waits for the
    // thread; jobs still queued run and see the flag set.
    void Join();

private:
    struct Job {
        std::function<void()> work;
        QPointer<QObject> context;
        std::function<void()> done;
    };
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::atomic<bool> abort_{false};
    std::thread thread_;
};
