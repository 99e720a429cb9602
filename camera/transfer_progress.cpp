#include "camera/transfer_progress.h"

void TransferProgress::Begin(const std::string& name, long total) {
    std::lock_guard lock(mutex_);
    name_ = name;
    started_ = std::chrono::steady_clock::now();
    total_.store(total < 0 ? 0 : total);
    done_.store(0);
    serial_.fetch_add(1);
}

TransferSnapshot TransferProgress::Snapshot() const {
    std::lock_guard lock(mutex_);
    TransferSnapshot snapshot;
    snapshot.name = name_;
    snapshot.started = started_;
    snapshot.total = total_.load();
    snapshot.done = done_.load();
    snapshot.serial = serial_.load();
    return snapshot;
}

TransferProgress& CurrentTransfer() {
    static TransferProgress progress;
    return progress;
}

void TransferProgressCallback(int bytes) {
    CurrentTransfer().Advance(bytes);
}
