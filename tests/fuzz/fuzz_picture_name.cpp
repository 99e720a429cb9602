// The camera's name for a picture, and the picture saved under it: a name
// the check lets through is a plain file in the save folder and nothing
// else, holds the bytes written, and leaves no temporary file behind.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera/download.h"
#include "camera/platform/file_writer.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Scratch() {
    static const fs::path scratch = [] {
        char pattern[] = "/tmp/tulk-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) {
            std::abort();
        }
        fs::create_directories(fs::path(made) / "save");
        return fs::path(made);
    }();
    return scratch;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<unsigned char> bytes(data, data + size);
    const std::string name =
        PlainPictureName(bytes.empty() ? nullptr : bytes.data(), static_cast<long>(bytes.size()));
    if (name.empty()) {
        return 0;
    }
    const fs::path save = Scratch() / "save";
    const std::string picture = "picture bytes of " + std::to_string(size);
    {
        FileWriter file(save.string() + "/" + name);
        bool unchanged = false;
        if (!file.open() ||
            !file.write(reinterpret_cast<const unsigned char*>(picture.data()),
                        static_cast<long>(picture.size())) ||
            !file.commitWithoutReplacing(&unchanged, save.string() + "/dscn0001.jpg")) {
            std::abort();
        }
        // The file is where it was meant to be, with the bytes written.
        const fs::path written(file.path());
        if (written.parent_path() != save || !fs::is_regular_file(fs::symlink_status(written)) ||
            Read(written) != picture) {
            std::abort();
        }
    }
    // The folder holds that one file and nothing else; nothing went above it.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(save)) {
        (void)entry;
        ++entries;
    }
    int outside = 0;
    for (const auto& entry : fs::directory_iterator(Scratch())) {
        (void)entry;
        ++outside;
    }
    if (entries != 1 || outside != 1) {
        std::abort();
    }
    for (const auto& entry : fs::directory_iterator(save)) {
        fs::remove(entry.path());
    }
    return 0;
}
