#include "run/platform/append_file.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

CAppendFile::~CAppendFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool CAppendFile::Create(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool CAppendFile::OpenExisting(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    return fd_ >= 0;
}

bool CAppendFile::Append(const std::string& line) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const std::string whole = line + "\n";
    std::size_t done = 0;
    // One write carries the line; a short one (a full disk, a signal) is
    // finished, so the line is never left cut but by a power cut.
    while (done < whole.size()) {
        const ssize_t n = ::write(fd_, whole.data() + done, whole.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fdatasync(fd_) == 0;
}

long long FreeBytes(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<long long>(info.f_bavail) * static_cast<long long>(info.f_frsize);
}
