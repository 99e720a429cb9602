// The fuzz input as the camera's side of the exchange: one reply for each
// thing the host writes (a packet or a control byte), in order. A reply is
// one or more transfers on USB; on the serial line its transfers are simply
// bytes one after the other.
//
// Each record is a 16-bit little-endian header and that many bytes (bits
// 0..14; fewer when the input ends first). Bit 15 joins the record to the
// reply before it, so that one host write can bring several transfers, as a
// camera that answers a command with an ACK and its data does. A record of
// no bytes that is not joined is a reply of silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct Reply {
    std::vector<Bytes> transfers;
};

inline constexpr unsigned kJoined = 0x8000;
inline constexpr std::size_t kLongestRecord = 0x7FFF;

std::deque<Reply> ParseReplies(const std::uint8_t* data, std::size_t size);

// Makes every record that looks like a data packet (type 0x02 or 0x03, a
// header and a checksum) hold: its length field set to its payload and its
// checksum to the payload's sum. The fuzzers' mutations of a packet's
// values would otherwise nearly always end at its checksum.
void RepairPackets(std::uint8_t* data, std::size_t size);

// Spoils the checksum of one data packet record (the pick-th, counting
// round) and puts the same bytes after it as the next reply: a camera that
// does not fill the checksum sends the packet again the same when refused.
// The new size; the input as it was when no packet is found or the copy
// does not fit in maxSize.
std::size_t RepeatSpoiltPacket(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                               unsigned pick);

// The input that ParseReplies reads back as these replies (a reply of no
// transfers is a silent one; transfers longer than a record can carry are
// cut).
Bytes EncodeReplies(const std::vector<Reply>& replies);

// After libFuzzer's own mutation: in half of the inputs every packet is made
// to hold, so that changed values still pass the checksum, and in a quarter
// one packet comes spoilt and then again the same, as from a camera that
// does not fill the checksum. The last quarter keeps whatever packets the
// mutation broke. The new size.
std::size_t ShapeMutatedPackets(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                unsigned int seed);
