#include "sim/record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace camsim {

namespace fs = std::filesystem;

namespace {

constexpr int kDigits = 6;

// The running number at the head of a record file's name, "000042-...".
int numberOf(const std::string& file) {
    const std::size_t dash = file.find('-');
    if (dash < kDigits || dash > 9)
        return 0;
    int n = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (file[i] < '0' || file[i] > '9')
            return 0;
        n = n * 10 + (file[i] - '0');
    }
    return n;
}

}  // namespace

std::string Recorder::numberText(int number) {
    std::string digits = std::to_string(number);
    if (digits.size() < kDigits)
        digits.insert(0, kDigits - digits.size(), '0');
    return digits;
}

std::string Recorder::plainName(const std::string& name) {
    std::string plain = name;
    for (char& c : plain) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F)
            c = '_';
    }
    return plain;
}

bool Recorder::open(const std::string& dir, int& highest) {
    close();
    std::error_code ec;
    fs::create_directories(dir, ec);
    highest = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        highest = std::max(highest, numberOf(it->path().filename().string()));
    if (ec) {
        errno = ec.value();
        return false;
    }
    log_ = std::fopen((fs::path(dir) / "events.log").c_str(), "ab");
    if (!log_)
        return false;
    dir_ = dir;
    complained_ = false;
    return true;
}

void Recorder::close() {
    if (log_)
        std::fclose(log_);
    log_ = nullptr;
}

void Recorder::failed(const char* what) {
    // The camera goes on without its record; one line says so, not one per
    // picture.
    if (complained_)
        return;
    complained_ = true;
    std::fprintf(stderr, "tulk-camsim: cannot write the record in %s (%s): %s\n", dir_.c_str(),
                 what, std::strerror(errno));
}

void Recorder::picture(int number, const std::string& name, const Bytes& jpeg) {
    if (!log_)
        return;
    const std::string file = numberText(number) + "-" + plainName(name);
    // A name of the camera's own that no reader of the record looks for.
    const fs::path temporary = fs::path(dir_) / ("." + numberText(number) + ".part");
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return failed(file.c_str());
    const bool written = std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
    if (std::fclose(f) != 0 || !written) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return failed(file.c_str());
    }
    std::error_code ec;
    fs::rename(temporary, fs::path(dir_) / file, ec);
    if (ec) {
        errno = ec.value();
        fs::remove(temporary, ec);
        failed(file.c_str());
    }
}

void Recorder::event(const std::string& line) {
    if (!log_)
        return;
    const std::string whole = line + "\n";
    // One flush per line: a reader never sees half of one.
    if (std::fwrite(whole.data(), 1, whole.size(), log_) != whole.size() || std::fflush(log_) != 0)
        failed("events.log");
}

}  // namespace camsim
