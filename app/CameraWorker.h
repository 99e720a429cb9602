// The camera thread: the one thread that works on the camera link. Every
// camera operation of the window (its handlers' reads and writes, the
// time-lapse picture steps, the downloads, the uploads) is a job queued
// here and run in order, one at a time, with the link held. What a job asks
// of the window (a box) and what the window does with its result run on the
// window thread after the job has let go of the link, so the two threads
// never wait for each other.
#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CCameraWorker {
public:
    CCameraWorker();
    // Runs the jobs still queued, then ends the thread.
    ~CCameraWorker();
    CCameraWorker(const CCameraWorker&) = delete;
    CCameraWorker& operator=(const CCameraWorker&) = delete;

    // Queues the job. When it has run, the boxes it asked for and then done
    // (when given) run on context's thread, unless context is gone by then.
    // False, with nothing queued, once Stop has been called. A last job is
    // the last one taken: Stop follows it at once.
    bool Post(std::function<void()> job, QObject* context, std::function<void()> done = {},
              bool last = false);
    // Takes no more jobs; those queued still run.
    void Stop();
    // Stop, then wait until the thread has run every queued job and ended.
    // Only for a thread that does not hold the link and that nothing it
    // waits for needs (the queued jobs never wait for anyone).
    void Join();
    bool Accepting() const;

private:
    struct Job {
        std::function<void()> work;
        QPointer<QObject> context;
        std::function<void()> done;
    };
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};
