#include "tests/sim/jpeg_decode.h"

#include <csetjmp>
#include <cstdio>

// After <cstdio>: jpeglib.h needs FILE declared.
#include <jpeglib.h>

namespace simtest {

namespace {

struct Decoder {
    jpeg_error_mgr err{};
    std::jmp_buf jump{};
    jpeg_decompress_struct info{};
    Image image;
    bool warned = false;
};

[[noreturn]] void fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Decoder*>(info->client_data)->jump, 1);
}

// A decoder's warning means corrupt data, which a good file has none of.
void note(j_common_ptr info, int level) {
    if (level < 0)
        reinterpret_cast<Decoder*>(info->client_data)->warned = true;
}

bool decodeInto(const std::vector<std::uint8_t>& file, Decoder& d) {
    d.info.err = jpeg_std_error(&d.err);
    d.err.error_exit = fail;
    d.err.emit_message = note;
    d.info.client_data = &d;
    if (setjmp(d.jump)) {
        jpeg_destroy_decompress(&d.info);
        return false;
    }
    jpeg_create_decompress(&d.info);
    d.info.client_data = &d;
    jpeg_mem_src(&d.info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d.info, TRUE);
    d.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.info);
    d.image.width = static_cast<int>(d.info.output_width);
    d.image.height = static_cast<int>(d.info.output_height);
    const std::size_t stride = static_cast<std::size_t>(d.image.width) * 3;
    d.image.rgb.resize(stride * static_cast<std::size_t>(d.image.height));
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = d.image.rgb.data() + stride * d.info.output_scanline;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    jpeg_destroy_decompress(&d.info);
    return !d.warned;
}

}  // namespace

std::optional<Image> decodeJpeg(const std::vector<std::uint8_t>& file) {
    if (file.empty())
        return std::nullopt;
    Decoder d;
    if (!decodeInto(file, d))
        return std::nullopt;
    return std::move(d.image);
}

std::optional<std::string> app12AfterSoi(const std::vector<std::uint8_t>& file) {
    if (file.size() < 6 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF || file[3] != 0xEC)
        return std::nullopt;
    const std::size_t length = std::size_t(file[4]) << 8 | file[5];
    // The length counts its own two bytes; a marker must follow the segment.
    if (length < 2 || 4 + length >= file.size() || file[4 + length] != 0xFF)
        return std::nullopt;
    return std::string(file.begin() + 6, file.begin() + 4 + long(length));
}

std::optional<std::string> app12Value(const std::string& data, const std::string& key) {
    const std::size_t titleEnd = data.find('\0');
    if (titleEnd == std::string::npos)
        return std::nullopt;
    const std::size_t linesStart = data.find_first_not_of('\0', titleEnd);
    if (linesStart == std::string::npos)
        return std::nullopt;
    std::size_t at = linesStart;
    while (at < data.size()) {
        const std::size_t end = data.find('\n', at);
        if (end == std::string::npos)
            return std::nullopt;  // every line ends with a newline
        const std::string line = data.substr(at, end - at);
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
        at = end + 1;
    }
    return std::nullopt;
}

}  // namespace simtest
