// What the camera is, as opposed to how it talks: registers, actions,
// folders, pending faults and the record. Both cables share one of these;
// every field is guarded by mu.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/camsim.h"
#include "sim/faults.h"
#include "sim/folders.h"
#include "sim/pictures.h"
#include "sim/record.h"

namespace camsim {

enum class SendFault { Corrupt, Drop, Repeat };

// A pending fault with how many more packets it applies to.
template <typename T>
struct Counted {
    T what;
    int left;
};

// Takes one use of the fault at the head of the queue.
template <typename T>
std::optional<T> takeOne(std::deque<Counted<T>>& queue) {
    while (!queue.empty() && queue.front().left <= 0)
        queue.pop_front();
    if (queue.empty())
        return std::nullopt;
    const T what = queue.front().what;
    if (--queue.front().left == 0)
        queue.pop_front();
    return what;
}

struct CameraState {
    CameraState() { pictures.setRecorder(&recorder); }
    CameraState(const CameraState&) = delete;
    CameraState& operator=(const CameraState&) = delete;

    mutable std::mutex mu;
    mutable std::condition_variable recorded;
    std::map<int, std::int32_t> ints;
    std::map<int, Bytes> datas;
    std::set<int> refused;
    std::set<int> readOnly;
    std::map<int, ActionHandler> actions;
    std::chrono::milliseconds actionTime{0};
    std::chrono::milliseconds answerTimeout{3000};
    std::deque<Counted<std::uint8_t>> answerFaults;
    std::deque<Counted<SendFault>> sendFaults;
    bool silent = false;
    std::size_t maxPacket = 2048;
    std::int32_t speedCode = -1;
    FolderTree folders;
    PictureStore pictures;
    std::map<int, std::chrono::milliseconds> actionTimes;  // per action, over actionTime
    std::vector<Received> record;
    std::uint64_t recordGeneration = 0;  // lets a late setvar skip a cleared record
    Bytes raw;
    // Counts every change to the record, the raw bytes and the stalled
    // packets, for the waits on them; each change notifies recorded.
    std::uint64_t changes = 0;
    std::size_t stalledPackets = 0;
    FaultTable faults;
    Recorder recorder;
    std::function<void()> vanishHandler;
    // Starts both cables' interfaces again (the restart fault); set once by
    // the camera before any cable is served, called without mu.
    std::function<void()> restartInterfaces;

    // Mu held.
    void changedLocked() {
        ++changes;
        recorded.notify_all();
    }

    // Appends to the record; returns where, for setRecordData.
    std::pair<std::size_t, std::uint64_t> append(Received r) {
        std::lock_guard lock(mu);
        return appendLocked(std::move(r));
    }
    // The same for a caller that holds mu: what it decides under the same
    // hold (silence, say) is settled before a test can see the record.
    std::pair<std::size_t, std::uint64_t> appendLocked(Received r) {
        record.push_back(std::move(r));
        changedLocked();
        return {record.size() - 1, recordGeneration};
    }

    void appendRaw(const std::uint8_t* bytes, std::size_t n) {
        std::lock_guard lock(mu);
        raw.insert(raw.end(), bytes, bytes + n);
        changedLocked();
    }

    void setRecordData(std::size_t index, std::uint64_t generation, const Bytes& data) {
        std::lock_guard lock(mu);
        if (generation != recordGeneration || index >= record.size())
            return;
        record[index].data = data;
        changedLocked();
    }

    // An occasion for faults of these kinds (see FaultTable::occasion); the
    // one that fires is on record before anything it does. Mu held.
    std::optional<FaultTable::Fired> fireLocked(std::initializer_list<Fault::Kind> kinds,
                                                int action = -1) {
        auto fired = faults.occasion(kinds, action);
        if (fired) {
            recorder.event(std::string("fault ") + faultName(fired->fault.kind) + " " +
                           std::to_string(fired->occasion));
            changedLocked();
        }
        return fired;
    }

    bool noChecksum() const {
        std::lock_guard lock(mu);
        return faults.noChecksum();
    }

    // The camera is gone. Without a handler, so is the process, at once and
    // cleaning up nothing (no socket removed), as when its cable is pulled.
    void vanish() {
        std::function<void()> handler;
        {
            std::lock_guard lock(mu);
            handler = vanishHandler;
        }
        if (!handler)
            std::_Exit(3);
        handler();
        std::lock_guard lock(mu);
        silent = true;
    }

    void countStalledPacket() {
        std::lock_guard lock(mu);
        ++stalledPackets;
        changedLocked();
    }

    bool isSilent() const {
        std::lock_guard lock(mu);
        return silent;
    }

    bool isReadOnly(int reg) const {
        std::lock_guard lock(mu);
        return readOnly.count(reg) != 0;
    }
    bool isRefused(int reg) const {
        std::lock_guard lock(mu);
        return refused.count(reg) != 0;
    }
};

}  // namespace camsim
