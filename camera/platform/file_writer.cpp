#include "platform/file_writer.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/last_error.h"

FileWriter::FileWriter(std::string path) : path_(std::move(path)) {}

FileWriter::~FileWriter() {
    discard();
}

bool FileWriter::open() {
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    // Hidden, so that a half-written picture never looks like one.
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        sys_setlasterror(errno);
        return false;
    }
    // mkstemp makes the file private; a picture gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        sys_setlasterror(errno);
        ::close(fd);
        ::unlink(buffer.data());
        return false;
    }
    temp_ = buffer.data();
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
