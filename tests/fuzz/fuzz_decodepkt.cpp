// The packet decoder on any bytes, as either cable reads them: it never
// reads outside them, a packet it accepts re-encodes to the same bytes, and
// a delimited packet's payload is everything between header and checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/eph_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the size: reading past it is an overflow ASan sees.
    auto* bytes = static_cast<unsigned char*>(std::malloc(size ? size : 1));
    std::memcpy(bytes, data, size);
    for (const bool delimited : {false, true}) {
        eph_frame frame;
        const eph_frame_status status = eph_decodepkt(bytes, size, delimited, &frame);
        if (frame.payload &&
            (frame.payload < bytes || frame.payload + frame.length > bytes + size)) {
            std::abort();
        }
        if (status != EPH_FRAME_OK) {
            continue;
        }
        if (frame.length + EPH_FRAME_OVERHEAD != size) {
            std::abort();
        }
        if (!delimited) {
            const auto again = eph_encodepkt(frame.type, frame.subtype, frame.payload,
                                             static_cast<long>(frame.length));
            if (again.size() != size || std::memcmp(again.data(), bytes, size) != 0) {
                std::abort();
            }
        }
    }
    std::free(bytes);
    return 0;
}
