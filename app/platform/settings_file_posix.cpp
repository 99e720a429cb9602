#include "platform/settings_file.h"

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

int PrepareSettingsFile(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int code = MakeFolders(path.substr(0, slash)); code != 0) {
            return code;
        }
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    // A file someone else owns cannot be changed; it is still usable.
    struct stat info {};
    if (fstat(fd, &info) == 0 && (info.st_mode & 0777) != 0600) {
        (void)fchmod(fd, 0600);
    }
    close(fd);
    return 0;
}
