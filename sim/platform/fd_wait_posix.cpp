#include "sim/platform/fd_wait.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace camsim {

FdWait waitForInput(int fd, int wakerFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakerFd, POLLIN, 0}};
    FdWait result;
    const int r = ::poll(fds, 2, timeoutMs);
    if (r < 0) {
        result.failed = errno != EINTR;
        return result;
    }
    result.woken = (fds[1].revents & POLLIN) != 0;
    result.readable = (fds[0].revents & POLLIN) != 0;
    result.hungUp = !result.readable && (fds[0].revents & (POLLHUP | POLLERR)) != 0;
    return result;
}

void waitWritable(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, timeoutMs);
}

void pauseOn(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
}

long readFd(int fd, void* buffer, std::size_t size) {
    return static_cast<long>(::read(fd, buffer, size));
}

long writeFd(int fd, const void* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}

bool lastFailureIsTransient() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace camsim
