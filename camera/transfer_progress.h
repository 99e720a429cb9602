// How far the transfer on the link has got, for whoever shows progress: the
// camera operations say what is being moved and how many bytes it has, the
// link's progress callback says how many have gone. Any thread may read it.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

struct TransferSnapshot {
    std::string name;
    long done = 0;
    long total = 0;
    // Counts every Begin, so a reader can tell one transfer from the next.
    unsigned serial = 0;
    std::chrono::steady_clock::time_point started;
};

class TransferProgress {
public:
    // A new transfer of total bytes (0 when not known) under the name.
    void Begin(const std::string& name, long total);
    // Bytes moved so far in the transfer begun last.
    void Advance(long done) { done_.store(done, std::memory_order_relaxed); }
    TransferSnapshot Snapshot() const;

private:
    mutable std::mutex mutex_;
    std::string name_;
    std::chrono::steady_clock::time_point started_;
    std::atomic<long> total_{0};
    std::atomic<long> done_{0};
    std::atomic<unsigned> serial_{0};
};

// The one transfer record of the open link.
TransferProgress& CurrentTransfer();
// The link's progress callback: it moves CurrentTransfer on.
void TransferProgressCallback(int bytes);
