#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <random>

#include "platform/last_error.h"

FileWriter::FileWriter(std::string path) : path_(std::move(path)) {}

FileWriter::~FileWriter() {
    discard();
}

bool FileWriter::open() {
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    // Hidden, so that a half-written picture never looks like one; created
    // with the usual permissions, which the process's umask trims.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x%04x", random(), counter++ & 0xFFFF);
        temp = folder + "." + name + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        sys_setlasterror(errno);
        return false;
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
        sys_setlasterror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    temp_ = temp;
    return true;
}

bool FileWriter::write(const unsigned char* data, long count) {
    if (!file_ || count <= 0) {
        return false;
    }
    if (std::fwrite(data, 1, static_cast<std::size_t>(count), file_) !=
        static_cast<std::size_t>(count)) {
        sys_setlasterror(errno);
        return false;
    }
    return true;
}

bool FileWriter::commit() {
    if (!file_) {
        return false;
    }
    bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    if (!ok) {
        sys_setlasterror(errno);
    }
    if (std::fclose(file_) != 0 && ok) {
        sys_setlasterror(errno);
        ok = false;
    }
    file_ = nullptr;
    if (ok && std::rename(temp_.c_str(), path_.c_str()) != 0) {
        sys_setlasterror(errno);
        ok = false;
    }
    if (ok) {
        temp_.clear();
    } else {
        discard();
    }
    return ok;
}

void FileWriter::discard(bool removeTarget) {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    if (removeTarget) {
        ::unlink(path_.c_str());
    }
}

bool SetFileTimes(const char* path, std::time_t when) {
    utimbuf times{when, when};
    return utime(path, &times) == 0;
}
