#include "sim/fault_spec.h"

#include <array>
#include <set>
#include <vector>

#include "sim/pictures.h"

namespace camsim {

namespace {

using Kind = Fault::Kind;

constexpr std::array<Kind, 8> kKinds = {
    Kind::StallMidTransfer, Kind::GarblePacket,  Kind::GarbleAlways, Kind::NoChecksum,
    Kind::LoseAnswer,       Kind::IgnoreCommand, Kind::Restart,      Kind::Vanish,
};

// Occasions are counted in an int; a bound far beyond any test keeps
// at + n * every from overflowing.
constexpr long long kMaxCount = 1000000000;
constexpr long long kMaxMilliseconds = 86400000;

bool parseCount(const std::string& text, long long& out) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(text);
    return out >= 1 && out <= kMaxCount;
}

bool parseDuration(const std::string& text, std::chrono::milliseconds& out) {
    const std::size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string::npos || digits > 9)
        return false;
    const long long n = std::stoll(text.substr(0, digits));
    const std::string unit = text.substr(digits);
    long long ms = 0;
    if (unit == "ms")
        ms = n;
    else if (unit == "s")
        ms = n * 1000;
    else
        return false;
    if (ms < 1 || ms > kMaxMilliseconds)
        return false;
    out = std::chrono::milliseconds(ms);
    return true;
}

bool takesOccasions(Kind kind) {
    return kind != Kind::NoChecksum;
}

}  // namespace

const char* faultName(Fault::Kind kind) {
    switch (kind) {
        case Kind::StallMidTransfer:
            return "stall-mid-transfer";
        case Kind::GarblePacket:
            return "garble-packet";
        case Kind::GarbleAlways:
            return "garble-always";
        case Kind::NoChecksum:
            return "no-checksum";
        case Kind::LoseAnswer:
            return "lose-answer";
        case Kind::IgnoreCommand:
            return "ignore-command";
        case Kind::Restart:
            return "restart";
        case Kind::Vanish:
            return "vanish";
    }
    return "?";
}

bool parseFaultSpec(const std::string& spec, Fault& fault, std::string& error) {
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        const std::size_t comma = spec.find(',', at);
        parts.push_back(spec.substr(at, comma - at));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    Fault f;
    bool known = false;
    for (Kind k : kKinds)
        if (parts[0] == faultName(k)) {
            f.kind = k;
            known = true;
        }
    if (!known) {
        error = parts[0].empty() ? "no fault named" : "unknown fault '" + parts[0] + "'";
        return false;
    }
    std::set<std::string> seen;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const std::size_t eq = part.find('=');
        if (eq == std::string::npos) {
            error = "'" + part + "' is no KEY=VALUE";
            return false;
        }
        const std::string key = part.substr(0, eq);
        const std::string value = part.substr(eq + 1);
        if (!seen.insert(key).second) {
            error = key + "= given twice";
            return false;
        }
        const auto refuseKey = [&] {
            error = key + "= means nothing to " + faultName(f.kind);
            return false;
        };
        long long n = 0;
        if (key == "at" || key == "every") {
            if (!takesOccasions(f.kind))
                return refuseKey();
            if (!parseCount(value, n)) {
                error = key + "= needs a count from 1, not '" + value + "'";
                return false;
            }
            (key == "at" ? f.at : f.every) = static_cast<int>(n);
        } else if (key == "for") {
            if (f.kind != Kind::StallMidTransfer)
                return refuseKey();
            if (!parseDuration(value, f.duration)) {
                error = "for= needs a duration such as 500ms or 30s (at most a day), not '" +
                        value + "'";
                return false;
            }
        } else if (key == "action") {
            if (f.kind != Kind::LoseAnswer && f.kind != Kind::IgnoreCommand)
                return refuseKey();
            if (value == "snapshot") {
                f.action = PictureStore::kSnapshot;
            } else if (value == "erase") {
                f.action = PictureStore::kEraseLast;
            } else {
                error = "action= is snapshot or erase, not '" + value + "'";
                return false;
            }
        } else {
            error = "unknown key '" + key + "'";
            return false;
        }
    }
    fault = f;
    return true;
}

}  // namespace camsim
