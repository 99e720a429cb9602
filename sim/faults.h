// The faults the camera plays by itself, each counting its own occasions.
// Guarded by CameraState::mu like the rest of the camera.
#pragma once

#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "sim/camsim.h"

namespace camsim {

class FaultTable {
public:
    struct Fired {
        Fault fault;
        int occasion = 0;
    };

    void add(const Fault& fault);
    // An occasion for the faults of these kinds, asked in this order: each
    // counts it, and the first that fires takes it, so that the faults of
    // the kinds after it do not count it. action is the command's action
    // for the kinds that wait for one (-1 for the others).
    std::optional<Fired> occasion(std::initializer_list<Fault::Kind> kinds, int action = -1);
    bool noChecksum() const { return noChecksum_; }
    const std::vector<std::pair<Fault::Kind, int>>& fired() const { return fired_; }

private:
    struct Entry {
        Fault fault;
        int occasions = 0;
    };
    std::vector<Entry> entries_;
    bool noChecksum_ = false;
    std::vector<std::pair<Fault::Kind, int>> fired_;
};

}  // namespace camsim
