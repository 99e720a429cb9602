#include "link/eph_frame.h"

unsigned eph_checksum(const unsigned char* data, unsigned long length) {
    unsigned sum = 0;
    for (unsigned long i = 0; i < length; ++i) {
        sum += data[i];
    }
    return sum & 0xFFFF;
}

std::vector<unsigned char> eph_encodepkt(int type, int subtype, const unsigned char* data,
                                         long length) {
    const unsigned long n = length > 0 ? static_cast<unsigned long>(length) : 0;
    std::vector<unsigned char> packet(n + EPH_FRAME_OVERHEAD);
    packet[0] = static_cast<unsigned char>(type);
    packet[1] = static_cast<unsigned char>(subtype);
    packet[2] = static_cast<unsigned char>(n & 0xFF);
    packet[3] = static_cast<unsigned char>((n >> 8) & 0xFF);
    for (unsigned long i = 0; i < n; ++i) {
        packet[EPH_FRAME_HEADER + i] = data[i];
    }
    const unsigned sum = eph_checksum(data, n);
    packet[EPH_FRAME_HEADER + n] = static_cast<unsigned char>(sum & 0xFF);
    packet[EPH_FRAME_HEADER + n + 1] = static_cast<unsigned char>((sum >> 8) & 0xFF);
    return packet;
}

unsigned long eph_announced(const unsigned char* header) {
    return header[2] | (static_cast<unsigned long>(header[3]) << 8);
}

eph_frame_status eph_decodepkt(const unsigned char* bytes, unsigned long size, bool delimited,
                               eph_frame* frame) {
    *frame = eph_frame{};
    if (size >= 1) {
        frame->type = bytes[0];
    }
    if (size >= 2) {
        frame->subtype = bytes[1];
    }
    if (size < static_cast<unsigned long>(EPH_FRAME_OVERHEAD)) {
        return EPH_FRAME_SHORT;
    }
    frame->announced = eph_announced(bytes);
    const unsigned long length =
        delimited ? size - EPH_FRAME_OVERHEAD
                  : (frame->announced <= size - EPH_FRAME_OVERHEAD ? frame->announced
                                                                   : size - EPH_FRAME_OVERHEAD);
    frame->payload = bytes + EPH_FRAME_HEADER;
    frame->length = length;
    frame->counted_sum = eph_checksum(frame->payload, length);
    if (delimited) {
        frame->received_sum = bytes[size - 2] | (bytes[size - 1] << 8);
        return EPH_FRAME_OK;
    }
    if (frame->announced + EPH_FRAME_OVERHEAD > size) {
        return EPH_FRAME_SHORT;
    }
    const unsigned char* sum = frame->payload + length;
    frame->received_sum = sum[0] | (sum[1] << 8);
    if (frame->announced + EPH_FRAME_OVERHEAD < size) {
        return EPH_FRAME_LONG;
    }
    return frame->received_sum == frame->counted_sum ? EPH_FRAME_OK : EPH_FRAME_BAD_CRC;
}
