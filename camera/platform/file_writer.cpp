#include "camera/platform/file_writer.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "log/platform/last_error.h"

FileWriter::FileWriter(std::string path) : path_(std::move(path)) {}

FileWriter::~FileWriter() {
    discard();
}

bool FileWriter::open() {
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    // A short name of its own, hidden, so that a half-written picture never
    // looks like one and a name that fits the folder never grows too long;
    // created with the usual permissions, which the process's umask trims.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".tulk-%08x%04x.part", random(), counter++ & 0xFFFF);
        temp = folder + name;
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

bool FileWriter::close() {
    bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    if (!ok) {
        sys_setlasterror(errno);
    }
    if (std::fclose(file_) != 0 && ok) {
        sys_setlasterror(errno);
        ok = false;
    }
    file_ = nullptr;
    return ok;
}

bool FileWriter::commit() {
    if (!file_) {
        return false;
    }
    bool ok = close();
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

namespace {

// The same bytes in both files: both plain files (a link, a pipe or a
// device by that name is never the picture), of one size, read whole.
bool SameBytes(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0 || !S_ISREG(sa.st_mode) ||
        !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size) {
        return false;
    }
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = fa ? std::fopen(b.c_str(), "rb") : nullptr;
    bool same = fa && fb;
    while (same) {
        unsigned char ba[8192];
        unsigned char bb[8192];
        const std::size_t na = std::fread(ba, 1, sizeof ba, fa);
        const std::size_t nb = std::fread(bb, 1, sizeof bb, fb);
        if (na != nb || std::memcmp(ba, bb, na) != 0 || std::ferror(fa) || std::ferror(fb)) {
            same = false;
        } else if (na == 0) {
            break;
        }
    }
    if (fa) {
        std::fclose(fa);
    }
    if (fb) {
        std::fclose(fb);
    }
    return same;
}

// "NAME-n.EXT" for "NAME.EXT" (the extension is what follows the last dot
// of the file's own name, unless that dot begins it).
std::string NumberedName(const std::string& path, int n) {
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) {
        dot = path.size();
    }
    return path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
}

// Gives the temporary file the name unless something already has it:
// 0 done, EEXIST taken, another errno on failure.
int LinkWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without that kind of rename: a hard link refuses a
    // name that exists as well.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    // Nor hard links (some network and removable file systems): look, then
    // rename. Only another program writing the same name at the same moment
    // could slip in between.
    struct stat there {};
    if (::lstat(to.c_str(), &there) == 0) {
        return EEXIST;
    }
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

namespace {

// The file system will not carry this name at all (too long, or bytes it
// cannot store), as opposed to a name that is merely taken.
bool NameRefused(int error) {
    return error == ENAMETOOLONG || error == EILSEQ || error == EINVAL;
}

}  // namespace

bool FileWriter::commitWithoutReplacing(bool* unchanged, const std::string& fallback) {
    *unchanged = false;
    if (!file_) {
        return false;
    }
    bool ok = close();
    constexpr int kMostNames = 10000;
    std::string base = path_;
    for (int n = 0; ok && n < kMostNames; ++n) {
        const std::string name = n == 0 ? base : NumberedName(base, n);
        const int error = LinkWithoutReplacing(temp_, name);
        if (error == 0) {
            path_ = name;
            temp_.clear();
            return true;
        }
        if (NameRefused(error) && !fallback.empty() && base != fallback) {
            // The name (or its numbered form) cannot be had here: the
            // picture is kept under the stand-in name instead.
            base = fallback;
            n = -1;
        } else if (error != EEXIST) {
            sys_setlasterror(error);
            ok = false;
        } else if (SameBytes(temp_, name)) {
            path_ = name;
            *unchanged = true;
            discard();
            return true;
        }
    }
    if (ok) {
        // Every name up to the last one is taken.
        sys_setlasterror(EEXIST);
    }
    discard();
    return false;
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
