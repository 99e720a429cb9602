#include "app/CameraWorker.h"

#include <mutex>
#include <utility>
#include <vector>

#include "app/MessageBoxes.h"
#include "camera/camera_ops.h"

CCameraWorker::CCameraWorker() : thread_([this] { Run(); }) {}

CCameraWorker::~CCameraWorker() {
    Join();
}

bool CCameraWorker::Post(std::function<void()> job, QObject* context, std::function<void()> done,
                         bool last) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return false;
        }
        jobs_.push_back(Job{std::move(job), QPointer<QObject>(context), std::move(done)});
        stopping_ = last;
    }
    wake_.notify_one();
    return true;
}

void CCameraWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
}

void CCameraWorker::Join() {
    Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CCameraWorker::Accepting() const {
    std::lock_guard lock(mutex_);
    return !stopping_;
}

void CCameraWorker::Run() {
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
        {
            std::lock_guard link(LinkLock());
            job.work();
        }
        // The link is free again: now the window may be asked.
        std::vector<BoxQuestion> boxes = TakeDeferredBoxes();
        if (!job.context) {
            continue;
        }
        QObject* context = job.context.data();
        QMetaObject::invokeMethod(
            context,
            [boxes = std::move(boxes), done = std::move(job.done)]() mutable {
                // The boxes first: what the window does next (the next
                // picture of Get All Files, say) waits for the answer.
                QueueBoxes(std::move(boxes));
                ShowQueuedBoxes();
                if (done) {
                    done();
                }
            },
            Qt::QueuedConnection);
    }
}
