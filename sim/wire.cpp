#include "sim/wire.h"

namespace camsim::wire {

std::uint16_t checksum(const std::uint8_t* bytes, std::size_t n) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum = static_cast<std::uint16_t>(sum + bytes[i]);
    return sum;
}

Bytes encodePacket(std::uint8_t type, std::uint8_t subtype, const Bytes& payload) {
    Bytes out;
    out.reserve(payload.size() + 6);
    out.push_back(type);
    out.push_back(subtype);
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>((payload.size() >> 8) & 0xFF));
    out.insert(out.end(), payload.begin(), payload.end());
    const std::uint16_t sum = checksum(payload.data(), payload.size());
    out.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    out.push_back(static_cast<std::uint8_t>(sum >> 8));
    return out;
}

Bytes le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::int32_t readLe32(const std::uint8_t* p) {
    const std::uint32_t u = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                            std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    return static_cast<std::int32_t>(u);
}

namespace {

bool isPacketType(std::uint8_t byte) {
    return byte == kCommandPacket || byte == kDataPacket || byte == kLastDataPacket;
}

}  // namespace

Event parseMessage(const Bytes& message) {
    Event ev;
    if (message.empty())
        return ev;
    if (message.size() == 1) {
        ev.kind = Event::Control;
        ev.byte = message[0];
        return ev;
    }
    ev.kind = Event::BadPacket;
    ev.frame.type = message[0];
    ev.frame.subtype = message[1];
    if (message.size() < 6)
        return ev;
    const std::size_t length = std::size_t{message[2]} | std::size_t{message[3]} << 8;
    ev.frame.payload.assign(message.begin() + 4, message.end() - 2);
    const std::uint16_t sum =
        static_cast<std::uint16_t>(message[message.size() - 2] | message.back() << 8);
    if (isPacketType(message[0]) && length == message.size() - 6 &&
        sum == checksum(ev.frame.payload.data(), ev.frame.payload.size()))
        ev.kind = Event::Packet;
    return ev;
}

void spoilChecksum(Bytes& packet) {
    if (packet.size() < 2)
        return;
    packet[packet.size() - 2] ^= 0xFF;
    packet.back() ^= 0xFF;
}

void garblePayload(Bytes& packet, int copy) {
    if (packet.size() <= kPacketOverhead)
        return;
    const std::size_t length = packet.size() - kPacketOverhead;
    const std::size_t at = (length / 2 + static_cast<std::size_t>(copy)) % length;
    packet[4 + at] ^= 0xFF;
}

void zeroChecksum(Bytes& packet) {
    if (packet.size() < kPacketOverhead)
        return;
    packet[packet.size() - 2] = 0;
    packet.back() = 0;
}

void StreamParser::reset() {
    state_ = Idle;
    frame_ = Frame{};
    got_ = 0;
    length_ = 0;
}

StreamParser::Event StreamParser::feed(std::uint8_t byte, Clock::time_point now) {
    Event ev;
    last_ = now;
    switch (state_) {
        case Idle:
            if (isPacketType(byte)) {
                frame_ = Frame{};
                frame_.type = byte;
                got_ = 0;
                state_ = Header;
            } else {
                ev.kind = Event::Control;
                ev.byte = byte;
            }
            return ev;
        case Header:
            header_[got_++] = byte;
            if (got_ < 3)
                return ev;
            frame_.subtype = header_[0];
            length_ = std::size_t{header_[1]} | std::size_t{header_[2]} << 8;
            got_ = 0;
            if (length_ > kMaxPayload) {
                ev.kind = Event::BadPacket;
                ev.frame = std::move(frame_);
                reset();
                return ev;
            }
            frame_.payload.reserve(length_);
            state_ = length_ == 0 ? Sum : Payload;
            return ev;
        case Payload:
            frame_.payload.push_back(byte);
            if (frame_.payload.size() == length_)
                state_ = Sum;
            return ev;
        case Sum:
            sum_[got_++] = byte;
            if (got_ < 2)
                return ev;
            const std::uint16_t received = static_cast<std::uint16_t>(sum_[0] | sum_[1] << 8);
            const bool good = received == checksum(frame_.payload.data(), frame_.payload.size());
            ev.kind = good ? Event::Packet : Event::BadPacket;
            ev.frame = std::move(frame_);
            reset();
            return ev;
    }
    return ev;
}

std::optional<Clock::time_point> StreamParser::stallDeadline() const {
    if (state_ == Idle)
        return std::nullopt;
    return last_ + stallLimit_;
}

bool StreamParser::expire(Clock::time_point now) {
    const auto deadline = stallDeadline();
    if (!deadline || now < *deadline)
        return false;
    reset();
    return true;
}

}  // namespace camsim::wire
