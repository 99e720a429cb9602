// The test's own JPEG reading, with libjpeg, so that a picture the camera
// calls a JPEG is checked by a decoder and not by the camera's own code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width × height × 3
};

// Nothing when libjpeg cannot decode the bytes whole.
std::optional<Image> decodeJpeg(const std::vector<std::uint8_t>& file);

// The data of an APP12 segment that sits right after the start-of-image
// marker, checked against its length field; nothing when there is none.
std::optional<std::string> app12AfterSoi(const std::vector<std::uint8_t>& file);

// The value of "key=" in the lines that follow the title and its zero
// bytes in APP12 data; nothing when no line holds the key.
std::optional<std::string> app12Value(const std::string& data, const std::string& key);

}  // namespace simtest
