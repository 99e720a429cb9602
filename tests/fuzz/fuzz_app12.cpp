// The picture's bytes as the camera sends them: the APP12 segment, the
// "key=value" lines in it and the time stamp read from them. Nothing may be
// read outside the bytes, and what is found lies within them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the input's size, so that ASan sees any read past it.
    const std::vector<unsigned char> bytes(data, data + size);
    const unsigned char* start = bytes.empty() ? nullptr : bytes.data();
    long length = static_cast<long>(bytes.size());
    if (FindJpegApp12(&start, &length) != 0) {
        if (start != nullptr || length != 0) {
            std::abort();
        }
        return 0;
    }
    if (start < bytes.data() || length < 0 ||
        start + length > bytes.data() + static_cast<long>(bytes.size())) {
        std::abort();
    }
    // The segment alone, in a buffer of its own size.
    const std::vector<char> segment(start, start + length);
    for (const char* key : {"TimeDate", "Title", ""}) {
        const char* value = FindKeyValue(key, segment.data(), length);
        if (!value) {
            continue;
        }
        const long offset = value - segment.data();
        if (offset < 0 || offset > length) {
            std::abort();
        }
        const std::string text(value, static_cast<std::size_t>(length - offset));
        unsigned long stamp = 0;
        long long when = 0;
        if (std::sscanf(text.c_str(), "%lu", &stamp) == 1) {
            CameraTimeToLocal(stamp, &when);
        }
    }
    return 0;
}
