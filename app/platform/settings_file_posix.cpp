#include "app/platform/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// mkdir -p with mode 0700 for the folders it makes. Returns 0 or errno.
int MakeFolders(const std::string& dir) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            const std::string part = dir.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return errno;
            }
        }
    }
    return 0;
}

}  // namespace

std::string SettingsFilePath() {
    std::string base;
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/Orvandel/Tulk.conf";
}

int PrepareSettingsFile(const std::string& path, bool* writable) {
    *writable = false;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        if (const int code = MakeFolders(folder); code != 0) {
            return code;
        }
        // The store's own folder is its owner's alone too, however it was
        // made; one that someone else owns is left as it is.
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
            (info.st_mode & 0777) != 0700) {
            (void)chmod(folder.c_str(), 0700);
        }
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        *writable = true;
    } else if (errno == EACCES || errno == EROFS || errno == EPERM) {
        // A file that can be read but not written still holds the settings.
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return errno;
    }
    // A file someone else owns cannot be changed; it is still usable.
    struct stat info {};
    if (*writable && fstat(fd, &info) == 0 && (info.st_mode & 0777) != 0600) {
        (void)fchmod(fd, 0600);
    }
    close(fd);
    return 0;
}
