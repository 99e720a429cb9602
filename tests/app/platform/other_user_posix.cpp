#include "tests/app/platform/other_user.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

int RunAsPlainUser(const std::string& folder, const std::function<int()>& body) {
    const bool root = geteuid() == 0;
    if (root) {
        std::error_code error;
        if (chown(folder.c_str(), kNobody, kNobody) != 0) {
            return -1;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
            if (lchown(entry.path().c_str(), kNobody, kNobody) != 0) {
                return -1;
            }
        }
    }
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(120);
        }
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
