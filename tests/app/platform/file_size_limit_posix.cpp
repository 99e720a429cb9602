#include "tests/app/platform/file_size_limit.h"

#include <sys/resource.h>

#include <csignal>

FileSizeLimit::FileSizeLimit(long bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return;
    }
    saved_ = limit.rlim_cur;
    // A write past the limit then fails with an error instead of ending the
    // process.
    std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (!active_) {
        return;
    }
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(saved_);
    setrlimit(RLIMIT_FSIZE, &limit);
}
