// SHA-256 of a file's bytes, for the run's journal: a reader can tell that
// a saved picture is the one the run recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Add(const unsigned char* data, std::size_t length);
    // The digest as 64 lower-case hex digits; the object is spent after it.
    std::string HexDigest();

private:
    void Block(const unsigned char* block);

    std::uint32_t state_[8];
    unsigned char buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t total_ = 0;
};

// The SHA-256 and size of the file; false when it cannot be read.
bool FileSha256(const std::string& path, std::string* hex, long long* bytes);
