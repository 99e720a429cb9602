#include "ftp/FtpWorker.h"

#include <utility>

CFtpWorker::CFtpWorker() : thread_([this] { Run(); }) {}

CFtpWorker::~CFtpWorker() {
    Join();
}

bool CFtpWorker::Post(std::function<void()> job, QObject* context, std::function<void()> done) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return false;
        }
        jobs_.push_back(Job{std::move(job), QPointer<QObject>(context), std::move(done)});
    }
    wake_.notify_one();
    return true;
}

void CFtpWorker::Join() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    abort_ = true;
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CFtpWorker::Run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job.work();
        if (job.context && job.done) {
            QMetaObject::invokeMethod(job.context.data(), std::move(job.done),
                                      Qt::QueuedConnection);
        }
    }
}
