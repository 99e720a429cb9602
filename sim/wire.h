// Framing of the camera link as the camera sees it, on plain byte buffers:
// no I/O here, so the parser can be fed from any transport (and fuzzed).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace camsim::wire {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Single control bytes.
inline constexpr std::uint8_t kInit = 0x00;
inline constexpr std::uint8_t kComplete = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;  // also the wake-up signature

// Packet types and command subtypes.
inline constexpr std::uint8_t kCommandPacket = 0x1B;
inline constexpr std::uint8_t kDataPacket = 0x02;
inline constexpr std::uint8_t kLastDataPacket = 0x03;
inline constexpr std::uint8_t kOrdinary = 0x43;
inline constexpr std::uint8_t kSpeed = 0x53;

// The host never writes more than this in one packet; a header announcing
// more is noise, not a packet.
inline constexpr std::size_t kMaxPayload = 32762;

// Command bytes (payload[0] of a command packet).
enum Command : std::uint8_t { kSet = 0, kGetInt = 1, kAction = 2, kSetVar = 3, kGetVar = 4 };

// The data a setvar command packet carries besides command and register;
// a command packet full to this size may be followed by data packets.
inline constexpr std::size_t kSetVarFirstChunk = 2046;

std::uint16_t checksum(const std::uint8_t* bytes, std::size_t n);
Bytes encodePacket(std::uint8_t type, std::uint8_t subtype, const Bytes& payload);
Bytes le32(std::int32_t v);
std::int32_t readLe32(const std::uint8_t* p);

struct Frame {
    std::uint8_t type = 0;
    std::uint8_t subtype = 0;
    Bytes payload;
};

// One thing the host sent, whichever cable it came on.
struct Event {
    enum Kind { None, Control, Packet, BadPacket } kind = None;
    std::uint8_t byte = 0;  // for Control
    Frame frame;            // for Packet and BadPacket
};

// On USB every message is one control byte or one whole packet: a message
// whose length field, type or checksum does not fit is a bad packet.
Event parseMessage(const Bytes& message);

// Spoils both checksum bytes of an encoded packet.
void spoilChecksum(Bytes& packet);
// Header and checksum: the bytes of an encoded packet besides its payload.
inline constexpr std::size_t kPacketOverhead = 6;
// Changes one payload byte of an encoded packet, leaving its length field and
// checksum those of the true bytes. Copy n of a packet has another byte
// changed than copies before it (while the payload is that long), so that
// no two garbled copies are alike.
void garblePayload(Bytes& packet, int copy);
// Zeroes both checksum bytes of an encoded packet.
void zeroChecksum(Bytes& packet);

// Turns the host's byte stream into control bytes and packets. The host
// paces a packet in pieces, so bytes arrive in any grouping; a packet whose
// bytes stop arriving is given up after stallLimit so that the next packet
// is not read as the rest of a dead one.
class StreamParser {
public:
    using Event = wire::Event;

    explicit StreamParser(std::chrono::milliseconds stallLimit = std::chrono::milliseconds(1000))
        : stallLimit_(stallLimit) {}

    Event feed(std::uint8_t byte, Clock::time_point now);
    // Drops a stalled partial packet; true when one was dropped.
    bool expire(Clock::time_point now);
    // When the partial packet will count as stalled, if there is one.
    std::optional<Clock::time_point> stallDeadline() const;
    void setStallLimit(std::chrono::milliseconds t) { stallLimit_ = t; }
    void reset();

private:
    enum State { Idle, Header, Payload, Sum };
    std::chrono::milliseconds stallLimit_;
    State state_ = Idle;
    Frame frame_;
    std::uint8_t header_[3] = {};
    std::size_t got_ = 0;
    std::size_t length_ = 0;
    std::uint8_t sum_[2] = {};
    Clock::time_point last_;
};

}  // namespace camsim::wire
