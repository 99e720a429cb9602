// A pipe that interrupts a serving thread's poll(): for stop() and for
// settings that change its time-outs.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

namespace camsim {

class Waker {
public:
    Waker() = default;
    ~Waker() { close(); }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool open() {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        read_ = fds[0];
        write_ = fds[1];
        return true;
    }
    void close() {
        if (read_ >= 0)
            ::close(read_);
        if (write_ >= 0)
            ::close(write_);
        read_ = write_ = -1;
    }
    int fd() const { return read_; }
    void wake() {
        if (write_ < 0)
            return;
        const std::uint8_t b = 1;
        [[maybe_unused]] const ssize_t n = ::write(write_, &b, 1);
    }
    void drain() {
        std::uint8_t buf[64];
        while (::read(read_, buf, sizeof buf) > 0) {
        }
    }

private:
    int read_ = -1;
    int write_ = -1;
};

}  // namespace camsim
