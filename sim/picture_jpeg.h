// The camera's own JPEG files: pictures it draws for snapshots and previews,
// thumbnails, and the APP12 segment in which it writes down when a picture
// was taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace camsim::jpeg {

using Bytes = std::vector<std::uint8_t>;

// Largest width or height a JPEG file can hold.
inline constexpr int kMaxSide = 65500;

// A JPEG file of width × height pixels: colour bars in an order of the
// number's own, darkening downwards, a little grain, and the number written
// large in the middle, so that two pictures never look alike. Empty when the
// size is outside 1..kMaxSide.
Bytes draw(int width, int height, int number);

// A thumbnail of a JPEG file, an eighth of its size each way; empty when the
// file cannot be decoded.
Bytes thumbnailOf(const Bytes& file);

// An APP12 segment: the marker 0xFF 0xEC, its big-endian length (counting
// itself), then the data: the title, zero bytes, and one "key=value\n" line
// for each pair.
Bytes app12(const std::string& title,
            const std::vector<std::pair<std::string, std::string>>& lines);

// The file with a segment put right after its start-of-image marker; the
// file as it is when it does not begin with one.
Bytes insertAfterSoi(const Bytes& file, const Bytes& segment);

// The TimeDate value written in the file's APP12 segment: a whole unsigned
// decimal number that fits 32 bits. Nothing when the file has no APP12
// segment, the segment no TimeDate line, or the line no such number. Reads
// only the headers before the image data and never past the file's end.
std::optional<std::uint32_t> timeDateOf(const Bytes& file);

}  // namespace camsim::jpeg
