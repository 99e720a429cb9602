// A packet on the wire, apart from any cable: type, subtype, 16-bit length,
// payload, 16-bit additive checksum. Encoding and decoding work on plain
// byte buffers; the transports do the reading and writing.
#pragma once

#include <vector>

// Type, subtype and length before the payload, checksum after it.
inline constexpr long EPH_FRAME_HEADER = 4;
inline constexpr long EPH_FRAME_OVERHEAD = 6;

// The 16-bit additive checksum of the bytes.
unsigned eph_checksum(const unsigned char* data, unsigned long length);

// The whole packet for the payload. The caller keeps the length within
// what the length field can carry.
std::vector<unsigned char> eph_encodepkt(int type, int subtype, const unsigned char* data,
                                         long length);

// The length a packet's header announces; header points at its 4 bytes.
unsigned long eph_announced(const unsigned char* header);

struct eph_frame {
    unsigned char type = 0;
    unsigned char subtype = 0;
    unsigned long announced = 0;             // the length field
    const unsigned char* payload = nullptr;  // inside the decoded bytes
    unsigned long length = 0;                // payload bytes
    unsigned received_sum = 0;               // the checksum field
    unsigned counted_sum = 0;                // the checksum of the payload
};

enum eph_frame_status {
    EPH_FRAME_OK = 0,
    // Fewer bytes than a packet has (6, or the announced length + 6).
    EPH_FRAME_SHORT,
    // More bytes than the announced length + 6.
    EPH_FRAME_LONG,
    EPH_FRAME_BAD_CRC,
};

// Decodes one packet from bytes[0..size). With delimited set (on USB, where
// one transfer is one packet), the payload is everything between the header
// and the checksum, and neither the length field nor the checksum decides
// anything. Otherwise the size must be the announced length + 6 and the
// checksum must add up. The frame's fields are filled as far as the bytes
// go, also when the result is not EPH_FRAME_OK; payload never points outside
// the bytes.
eph_frame_status eph_decodepkt(const unsigned char* bytes, unsigned long size, bool delimited,
                               eph_frame* frame);
