#include "sim/picture_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

// After <cstdio>: jpeglib.h needs FILE declared.
#include <jpeglib.h>

namespace camsim::jpeg {

namespace {

// libjpeg reports a failure by calling error_exit, which must not return:
// it jumps back to the call that set the trap. Everything that call needs
// after the jump lives in here, in memory, so the jump cannot spoil it.
struct Trap {
    jpeg_error_mgr mgr{};
    std::jmp_buf jump{};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Trap*>(info->err)->jump, 1);
}

// A camera has nowhere to print libjpeg's warnings about a strange file.
void keepQuiet(j_common_ptr) {}

void setTrap(Trap& trap) {
    jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = jumpBack;
    trap.mgr.output_message = keepQuiet;
}

// Fills one row of RGB pixels, three bytes each, for row y.
using Painter = std::function<void(int y, std::uint8_t* row)>;

struct Compression {
    Trap trap;
    jpeg_compress_struct info{};
};

Bytes encode(int width, int height, const Painter& paint) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    Compression c;
    setTrap(c.trap);
    c.info.err = &c.trap.mgr;
    if (setjmp(c.trap.jump)) {
        jpeg_destroy_compress(&c.info);
        std::free(c.trap.out);
        return {};
    }
    jpeg_create_compress(&c.info);
    jpeg_mem_dest(&c.info, &c.trap.out, &c.trap.outSize);
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.input_components = 3;
    c.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, 85, TRUE);
    jpeg_start_compress(&c.info, TRUE);
    while (c.info.next_scanline < c.info.image_height) {
        paint(static_cast<int>(c.info.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c.info, rows, 1);
    }
    jpeg_finish_compress(&c.info);
    Bytes file(c.trap.out, c.trap.out + c.trap.outSize);
    jpeg_destroy_compress(&c.info);
    std::free(c.trap.out);
    return file;
}

struct Decompression {
    Trap trap;
    jpeg_decompress_struct info{};
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
};

// Decodes at an eighth of the size into d.pixels (RGB); false when the
// bytes are not a JPEG file libjpeg can read.
bool decodeEighth(const Bytes& file, Decompression& d) {
    setTrap(d.trap);
    d.info.err = &d.trap.mgr;
    if (setjmp(d.trap.jump)) {
        jpeg_destroy_decompress(&d.info);
        return false;
    }
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d.info, TRUE);
    d.info.scale_num = 1;
    d.info.scale_denom = 8;
    d.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.info);
    d.width = static_cast<int>(d.info.output_width);
    d.height = static_cast<int>(d.info.output_height);
    const std::size_t stride = static_cast<std::size_t>(d.width) * 3;
    d.pixels.resize(stride * static_cast<std::size_t>(d.height));
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW rows[1] = {d.pixels.data() + stride * d.info.output_scanline};
        jpeg_read_scanlines(&d.info, rows, 1);
    }
    jpeg_finish_decompress(&d.info);
    jpeg_destroy_decompress(&d.info);
    return true;
}

// Digits three cells wide and five high, row by row.
constexpr const char* kDigits[10] = {
    "111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
    "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111",
};

struct Rgb {
    int r, g, b;
};

// Colour bars, in the order the number turns them to.
constexpr Rgb kBars[8] = {
    {235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
    {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {128, 128, 128},
};

// Where the number goes and how big its cells are.
struct Label {
    std::string text;
    int cell = 1;
    int left = 0, top = 0;  // of the first digit's first cell
    int width = 0, height = 0;

    Label(int number, int pictureWidth, int pictureHeight) : text(std::to_string(number)) {
        const int n = static_cast<int>(text.size());
        cell = std::max(1, std::min(pictureHeight / 15, pictureWidth * 9 / 10 / (4 * n + 1)));
        width = (4 * n - 1) * cell;
        height = 5 * cell;
        left = (pictureWidth - width) / 2;
        top = (pictureHeight - height) / 2;
    }

    // 0 outside the label's box, 1 on its dark ground, 2 on a digit.
    int at(int x, int y) const {
        const int dx = x - left, dy = y - top;
        if (dx < -cell || dy < -cell || dx >= width + cell || dy >= height + cell)
            return 0;
        if (dx < 0 || dy < 0 || dx >= width || dy >= height)
            return 1;
        const int cx = dx / cell, cy = dy / cell;
        if (cx % 4 == 3)
            return 1;  // the gap between two digits
        const char digit = text[static_cast<std::size_t>(cx / 4)];
        return kDigits[digit - '0'][cy * 3 + cx % 4] == '1' ? 2 : 1;
    }
};

std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// A little grain, the same for the same pixel of the same picture.
int grain(int x, int y, int number) {
    std::uint32_t v = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(number) * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return static_cast<int>(v & 15u) - 8;
}

bool readBe16(const Bytes& b, std::size_t at, std::size_t& out) {
    if (at + 1 >= b.size())
        return false;
    out = static_cast<std::size_t>(b[at]) << 8 | b[at + 1];
    return true;
}

// The TimeDate value in an APP12 segment's data.
std::optional<std::uint32_t> timeDateIn(std::string_view data) {
    // The title, ended by zero bytes, then the lines; data without that
    // shape is taken as lines from its start.
    std::size_t at = data.find('\0');
    if (at != std::string_view::npos)
        at = data.find_first_not_of('\0', at);
    if (at == std::string_view::npos)
        at = 0;
    constexpr std::string_view kKey = "TimeDate=";
    while (at < data.size()) {
        std::size_t end = data.find('\n', at);
        if (end == std::string_view::npos)
            end = data.size();
        const std::string_view line = data.substr(at, end - at);
        if (line.substr(0, kKey.size()) == kKey) {
            const std::string_view digits = line.substr(kKey.size());
            if (digits.empty() || digits.size() > 10 ||
                digits.find_first_not_of("0123456789") != std::string_view::npos)
                return std::nullopt;
            const unsigned long long v = std::stoull(std::string(digits));
            if (v > 0xFFFFFFFFull)
                return std::nullopt;
            return static_cast<std::uint32_t>(v);
        }
        at = end + 1;
    }
    return std::nullopt;
}

}  // namespace

Bytes draw(int width, int height, int number) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return {};
    const Label label(number, width, height);
    const int turn = ((number % 8) + 8) % 8;
    return encode(width, height, [&](int y, std::uint8_t* row) {
        // Darker towards the bottom: 100% at the top, 60% at the bottom.
        const int shade = 100 - 40 * y / height;
        for (int x = 0; x < width; ++x) {
            Rgb c = kBars[(static_cast<long long>(x) * 8 / width + turn) % 8];
            const int mark = label.at(x, y);
            if (mark == 1)
                c = {20, 20, 20};
            else if (mark == 2)
                c = {250, 250, 250};
            const int g = mark ? 0 : grain(x, y, number);
            std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
            p[0] = clampByte(c.r * shade / 100 + g);
            p[1] = clampByte(c.g * shade / 100 + g);
            p[2] = clampByte(c.b * shade / 100 + g);
        }
    });
}

Bytes thumbnailOf(const Bytes& file) {
    if (file.empty())
        return {};
    Decompression d;
    if (!decodeEighth(file, d) || d.width < 1 || d.height < 1)
        return {};
    const std::size_t stride = static_cast<std::size_t>(d.width) * 3;
    return encode(d.width, d.height, [&](int y, std::uint8_t* row) {
        std::copy_n(d.pixels.data() + stride * static_cast<std::size_t>(y), stride, row);
    });
}

Bytes app12(const std::string& title,
            const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string data = title;
    // The title in a field of its own, padded with zero bytes (at least one).
    data.resize(std::max<std::size_t>(title.size() + 1, 32), '\0');
    for (const auto& [key, value] : lines)
        data += key + "=" + value + "\n";
    const std::size_t length = data.size() + 2;  // the length counts itself
    Bytes segment;
    segment.reserve(length + 2);
    segment.push_back(0xFF);
    segment.push_back(0xEC);
    segment.push_back(static_cast<std::uint8_t>(length >> 8));
    segment.push_back(static_cast<std::uint8_t>(length & 0xFF));
    for (char c : data)
        segment.push_back(static_cast<std::uint8_t>(c));
    return segment;
}

Bytes insertAfterSoi(const Bytes& file, const Bytes& segment) {
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8)
        return file;
    Bytes out(file.begin(), file.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), file.begin() + 2, file.end());
    return out;
}

std::optional<std::uint32_t> timeDateOf(const Bytes& file) {
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8)
        return std::nullopt;
    std::size_t at = 2;  // at a marker's 0xFF
    while (at < file.size() && file[at] == 0xFF) {
        std::size_t code = at + 1;
        while (code < file.size() && file[code] == 0xFF)
            ++code;  // fill bytes
        if (code >= file.size())
            return std::nullopt;
        const std::uint8_t marker = file[code];
        if (marker == 0xD9 || marker == 0xDA)
            return std::nullopt;  // the image data: no more headers
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at = code + 1;  // markers without a length
            continue;
        }
        std::size_t length = 0;
        if (!readBe16(file, code + 1, length) || length < 2 || code + 1 + length > file.size())
            return std::nullopt;
        if (marker == 0xEC) {
            const auto* data = reinterpret_cast<const char*>(file.data() + code + 3);
            if (auto found = timeDateIn(std::string_view(data, length - 2)))
                return found;
        }
        at = code + 1 + length;
    }
    return std::nullopt;
}

}  // namespace camsim::jpeg
