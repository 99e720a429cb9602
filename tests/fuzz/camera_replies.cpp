#include "tests/fuzz/camera_replies.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::deque<Reply> ParseReplies(const std::uint8_t* data, std::size_t size) {
    std::deque<Reply> replies;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const unsigned header = data[at] | (data[at + 1] << 8);
        at += 2;
        const std::size_t length = std::min<std::size_t>(header & kLongestRecord, size - at);
        const bool joined = (header & kJoined) != 0 && !replies.empty();
        if (!joined) {
            replies.emplace_back();
        }
        if (length > 0) {
            replies.back().transfers.emplace_back(data + at, data + at + length);
        }
        at += length;
    }
    return replies;
}

namespace {

// The records of the input that look like data packets: where each one's
// bytes begin, and how many.
std::vector<std::pair<std::size_t, std::size_t>> PacketRecords(const std::uint8_t* data,
                                                               std::size_t size) {
    std::vector<std::pair<std::size_t, std::size_t>> found;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const unsigned header = data[at] | (data[at + 1] << 8);
        at += 2;
        const std::size_t length = std::min<std::size_t>(header & kLongestRecord, size - at);
        if (length >= 6 && (data[at] == 0x02 || data[at] == 0x03)) {
            found.emplace_back(at, length);
        }
        at += length;
    }
    return found;
}

unsigned PayloadSum(const std::uint8_t* packet, std::size_t length) {
    unsigned sum = 0;
    for (std::size_t i = 4; i + 2 < length; ++i) {
        sum += packet[i];
    }
    return sum & 0xFFFF;
}

}  // namespace

std::size_t RepeatSpoiltPacket(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                               unsigned pick) {
    const auto packets = PacketRecords(data, size);
    if (packets.empty()) {
        return size;
    }
    const auto [at, length] = packets[pick % packets.size()];
    if (size + 2 + length > maxSize) {
        return size;
    }
    const unsigned spoilt = (PayloadSum(data + at, length) + 1) & 0xFFFF;
    data[at + length - 2] = static_cast<std::uint8_t>(spoilt & 0xFF);
    data[at + length - 1] = static_cast<std::uint8_t>(spoilt >> 8);
    // The copy is a reply of its own, to the host's refusal.
    const Bytes copy(data + at, data + at + length);
    const std::size_t end = at + length;
    std::memmove(data + end + 2 + length, data + end, size - end);
    data[end] = static_cast<std::uint8_t>(length & 0xFF);
    data[end + 1] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(data + end + 2, copy.data(), length);
    return size + 2 + length;
}

void RepairPackets(std::uint8_t* data, std::size_t size) {
    for (const auto& [at, length] : PacketRecords(data, size)) {
        std::uint8_t* packet = data + at;
        const std::size_t payload = length - 6;
        packet[2] = static_cast<std::uint8_t>(payload & 0xFF);
        packet[3] = static_cast<std::uint8_t>((payload >> 8) & 0xFF);
        const unsigned sum = PayloadSum(packet, length);
        packet[length - 2] = static_cast<std::uint8_t>(sum & 0xFF);
        packet[length - 1] = static_cast<std::uint8_t>((sum >> 8) & 0xFF);
    }
}

Bytes EncodeReplies(const std::vector<Reply>& replies) {
    Bytes input;
    auto record = [&input](const Bytes& bytes, bool joined) {
        const std::size_t length = std::min(bytes.size(), kLongestRecord);
        const unsigned header = static_cast<unsigned>(length) | (joined ? kJoined : 0);
        input.push_back(static_cast<unsigned char>(header & 0xFF));
        input.push_back(static_cast<unsigned char>(header >> 8));
        input.insert(input.end(), bytes.begin(), bytes.begin() + static_cast<long>(length));
    };
    for (const Reply& reply : replies) {
        if (reply.transfers.empty()) {
            record({}, false);
        }
        for (std::size_t i = 0; i < reply.transfers.size(); ++i) {
            record(reply.transfers[i], i > 0);
        }
    }
    return input;
}

std::size_t ShapeMutatedPackets(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                unsigned int seed) {
    if (seed % 4 != 0) {
        RepairPackets(data, size);
    }
    if (seed % 4 == 3) {
        size = RepeatSpoiltPacket(data, size, maxSize, seed / 4);
    }
    return size;
}
