#include "tests/fuzz/camera_replies.h"

#include <algorithm>

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
