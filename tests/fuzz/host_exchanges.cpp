#include "tests/fuzz/host_exchanges.h"

#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/scripted_camera.h"

namespace {

constexpr unsigned char kAck = 0x06;
constexpr unsigned char kNak = 0x15;
constexpr unsigned char kLast = 0x03;

std::string describe(const char* format, long a, long b) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string hex(const Bytes& bytes, std::size_t most) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size() && i < most; ++i) {
        std::snprintf(cell, sizeof cell, "%02x ", bytes[i]);
        text += cell;
    }
    if (bytes.size() > most) {
        text += "...";
    }
    return text;
}

}  // namespace

std::vector<Step> HostSteps(const std::vector<TraceEvent>& trace, std::size_t from, std::size_t to,
                            bool usb) {
    std::vector<Step> steps;
    HostUnits units;
    for (std::size_t i = from; i < to && i < trace.size(); ++i) {
        const TraceEvent& event = trace[i];
        if (event.kind == TraceEvent::Write) {
            std::vector<Bytes> done;
            if (usb) {
                done.push_back(event.bytes);
            } else {
                units.feed(event.bytes.data(), event.bytes.size(), &done);
            }
            for (Bytes& unit : done) {
                steps.emplace_back();
                steps.back().unit = std::move(unit);
            }
            continue;
        }
        if (steps.empty()) {
            continue;
        }
        if (event.kind == TraceEvent::Progress) {
            steps.back().progress.push_back(event.progress);
        } else if (usb && event.ok) {
            steps.back().transfers.push_back(event.bytes);
        } else if (!usb) {
            steps.back().consumed.insert(steps.back().consumed.end(), event.bytes.begin(),
                                         event.bytes.end());
        }
    }
    return steps;
}

Packet PacketOf(const Bytes& bytes) {
    Packet packet;
    if (bytes.size() < 6) {
        return packet;
    }
    packet.isPacket = true;
    packet.type = bytes[0];
    packet.sequence = bytes[1];
    packet.payload.assign(bytes.begin() + 4, bytes.end() - 2);
    const std::size_t announced = bytes[2] | (static_cast<std::size_t>(bytes[3]) << 8);
    unsigned sum = 0;
    for (const unsigned char byte : packet.payload) {
        sum += byte;
    }
    const unsigned received = bytes[bytes.size() - 2] | (bytes[bytes.size() - 1] << 8);
    packet.holds = announced == packet.payload.size() && (sum & 0xFFFF) == received;
    return packet;
}

const Bytes* ReadInStep(const Step& step, bool usb) {
    if (usb) {
        return step.transfers.empty() ? nullptr : &step.transfers.back();
    }
    return step.consumed.empty() ? nullptr : &step.consumed;
}

bool IsAck(const Bytes& unit) {
    return unit.size() == 1 && unit[0] == kAck;
}

bool IsNak(const Bytes& unit) {
    return unit.size() == 1 && unit[0] == kNak;
}

bool IsCommand(const Bytes& unit, int command, int reg) {
    return unit.size() >= 6 && unit[0] == 0x1B && unit[1] == 0x43 && unit[4] == command &&
           unit[5] == reg;
}

IntTaken GetintTaken(const std::vector<Step>& steps, int reg, bool usb) {
    IntTaken result;
    std::size_t at = 0;
    while (at < steps.size() && !IsCommand(steps[at].unit, 1, reg)) {
        ++at;
    }
    if (at == steps.size()) {
        return result;
    }
    result.asked = true;
    // Refusals and the command again belong to the same getint.
    while (at + 1 < steps.size() &&
           (IsNak(steps[at + 1].unit) || IsCommand(steps[at + 1].unit, 1, reg))) {
        ++at;
    }
    if (at + 1 == steps.size() || !IsAck(steps[at + 1].unit)) {
        return result;
    }
    result.taken = true;
    const Bytes* read = ReadInStep(steps[at], usb);
    const Packet packet = read ? PacketOf(*read) : Packet{};
    // On USB the value is a transfer of exactly ten bytes, its length field
    // and checksum aside; on the serial line a whole packet of at most four.
    const bool shaped =
        usb ? read && read->size() == 10 : packet.holds && packet.payload.size() <= 4;
    if (!shaped || packet.type != kLast || packet.sequence != 0) {
        result.fault = "getint of register " + std::to_string(reg) +
                       " acknowledged a reply that is no value: " + (read ? hex(*read, 16) : "");
        return result;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < packet.payload.size() && i < 4; ++i) {
        value |= static_cast<std::uint32_t>(packet.payload[i]) << (8 * i);
    }
    result.value = static_cast<std::int32_t>(value);
    result.holds = packet.holds;
    return result;
}

VarTaken GetvarTaken(const std::vector<Step>& steps, int reg, bool usb) {
    VarTaken result;
    std::size_t start = steps.size();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (IsCommand(steps[i].unit, 4, reg)) {
            start = i;
        }
    }
    if (start == steps.size()) {
        return result;
    }
    result.asked = true;
    long expected = 0;
    for (std::size_t k = start; k < steps.size(); ++k) {
        if (k > start && steps[k].unit.size() > 1 && steps[k].unit[0] == 0x1B) {
            break;
        }
        const bool acked = k + 1 < steps.size() && IsAck(steps[k + 1].unit);
        const Step& step = steps[k];
        if (step.progress.size() > (acked ? 1u : 0u)) {
            result.fault = "getvar reported progress for a packet it did not acknowledge";
            return result;
        }
        if (!acked) {
            continue;
        }
        const Bytes* read = ReadInStep(step, usb);
        const Packet packet = read ? PacketOf(*read) : Packet{};
        // On the serial line what the host read before an ACK must be that
        // packet and nothing else.
        if (!packet.isPacket || (!usb && !packet.holds)) {
            result.fault = "getvar acknowledged what is no whole packet: " +
                           (read ? hex(*read, 24) : std::string("nothing"));
            return result;
        }
        result.allHold = result.allHold && packet.holds;
        if (!step.progress.empty()) {
            if (packet.sequence != (expected & 0xFF)) {
                result.fault = describe("getvar took packet %ld as new where %ld was next",
                                        packet.sequence, expected & 0xFF);
                return result;
            }
            ++expected;
            result.data.insert(result.data.end(), packet.payload.begin(), packet.payload.end());
            if (step.progress.back() != static_cast<long>(result.data.size())) {
                result.fault =
                    describe("getvar reported %ld bytes where %ld were taken", step.progress.back(),
                             static_cast<long>(result.data.size()));
                return result;
            }
        } else if (expected == 0 || packet.sequence != ((expected - 1) & 0xFF)) {
            result.fault = describe("getvar acknowledged packet %ld as a repeat after %ld new",
                                    packet.sequence, expected);
            return result;
        }
        if (packet.type == kLast) {
            result.ended = true;
            return result;
        }
    }
    return result;
}

bool TookFailingPacket(const std::vector<Step>& steps, bool usb) {
    for (std::size_t k = 0; k + 1 < steps.size(); ++k) {
        if (!IsAck(steps[k + 1].unit)) {
            continue;
        }
        const Bytes* read = ReadInStep(steps[k], usb);
        if (read && !PacketOf(*read).holds) {
            return true;
        }
    }
    return false;
}

bool SameFailingTransferAgain(const std::vector<TraceEvent>& trace, std::size_t from,
                              std::size_t to) {
    for (std::size_t i = from; i < to && i < trace.size(); ++i) {
        const TraceEvent& event = trace[i];
        if (event.kind != TraceEvent::Read || !event.ok) {
            continue;
        }
        const Packet packet = PacketOf(event.bytes);
        if (!packet.isPacket || packet.holds) {
            continue;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (trace[j].kind == TraceEvent::Read && trace[j].ok && trace[j].bytes == event.bytes) {
                return true;
            }
        }
    }
    return false;
}

std::string TakenOnlyAsRepeats(const std::vector<Step>& steps) {
    int command = -1;
    const Bytes* lastOfGetvars = nullptr;
    const Bytes* lastOfThisGetint = nullptr;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const Bytes& unit = steps[k].unit;
        if (unit.size() >= 6 && unit[0] == 0x1B) {
            command = unit[4];
            lastOfThisGetint = nullptr;
        }
        const bool acked = k + 1 < steps.size() && IsAck(steps[k + 1].unit);
        const auto& transfers = steps[k].transfers;
        for (std::size_t t = 0; t < transfers.size(); ++t) {
            const Bytes& read = transfers[t];
            // Shorter transfers are refused before any comparison.
            if (read.size() < 6) {
                continue;
            }
            const Bytes* before = command == 1 ? lastOfThisGetint : lastOfGetvars;
            if (acked && t + 1 == transfers.size() && !PacketOf(read).holds &&
                (!before || *before != read)) {
                return "a packet whose length or checksum fails was taken, not as the same "
                       "bytes again: " +
                       hex(read, 24) + " after " + (before ? hex(*before, 24) : "nothing");
            }
            if (command == 1) {
                lastOfThisGetint = &read;
            } else if (command == 4) {
                lastOfGetvars = &read;
            }
        }
    }
    return {};
}

void Require(bool holds, const std::string& fault, const std::vector<Step>& steps) {
    if (holds) {
        return;
    }
    std::fprintf(stderr, "FAULT: %s\nthe host's steps:\n", fault.c_str());
    for (const Step& step : steps) {
        std::fprintf(stderr, "  wrote %s\n", hex(step.unit, 12).c_str());
        for (const Bytes& transfer : step.transfers) {
            std::fprintf(stderr, "    read %s\n", hex(transfer, 24).c_str());
        }
        if (!step.consumed.empty()) {
            std::fprintf(stderr, "    read %s\n", hex(step.consumed, 24).c_str());
        }
        for (const long progress : step.progress) {
            std::fprintf(stderr, "    progress %ld\n", progress);
        }
    }
    std::abort();
}
