#include "log/platform/private_folder.h"

#include <sys/stat.h>

#include <cerrno>

void make_private_folders(const std::string& dir) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            const std::string part = dir.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return;
            }
        }
    }
}
