#include "sim/faults.h"

#include "sim/pictures.h"

namespace camsim {

namespace {

using Kind = Fault::Kind;

bool waitsFor(const Fault& fault, int action) {
    switch (fault.kind) {
        case Kind::LoseAnswer:
        case Kind::IgnoreCommand:
            return fault.action == action;
        case Kind::Restart:
        case Kind::Vanish:
            return action == PictureStore::kSnapshot;
        default:
            return true;
    }
}

bool firesOn(const Fault& fault, int n) {
    if (n == fault.at)
        return true;
    return fault.every > 0 && n > fault.at && (n - fault.at) % fault.every == 0;
}

}  // namespace

void FaultTable::add(const Fault& fault) {
    // A property of the cable rather than an event: nothing to count.
    if (fault.kind == Kind::NoChecksum) {
        noChecksum_ = true;
        return;
    }
    entries_.push_back({fault, 0});
}

std::optional<FaultTable::Fired> FaultTable::occasion(std::initializer_list<Fault::Kind> kinds,
                                                      int action) {
    for (Kind kind : kinds)
        for (Entry& e : entries_) {
            if (e.fault.kind != kind || !waitsFor(e.fault, action))
                continue;
            if (!firesOn(e.fault, ++e.occasions))
                continue;
            fired_.emplace_back(kind, e.occasions);
            return Fired{e.fault, e.occasions};
        }
    return std::nullopt;
}

}  // namespace camsim
