#include "link/platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "link/platform/give_up.h"
#include "link/platform/serial_speed_linux.h"
#include "log/platform/last_error.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kLongestWriteMs = 60000;

// termios has no time-outs of the kind the link expects, so the port keeps
// them here, per open descriptor.
std::mutex g_timeoutsMutex;
std::map<int, eph_commtimeouts> g_timeouts;

eph_commtimeouts timeoutsOf(int fd) {
    std::lock_guard lock(g_timeoutsMutex);
    auto it = g_timeouts.find(fd);
    return it == g_timeouts.end() ? eph_commtimeouts{} : it->second;
}

bool fail() {
    sys_setlasterror(errno);
    return false;
}

// Waits for the descriptor to become ready for events, at most until the
// deadline (none: no limit). Returns 1 when ready, 0 on time-out, -1 on error.
int waitReady(int fd, short events, const Clock::time_point* deadline) {
    const Clock::time_point began = Clock::now();
    for (;;) {
        if (link_wait_cut(began)) {
            return 0;
        }
        auto left = std::chrono::duration_cast<Clock::duration>(link_wait_slice());
        bool last = false;
        if (deadline) {
            auto untilDeadline = *deadline - Clock::now();
            if (untilDeadline < Clock::duration::zero()) {
                untilDeadline = Clock::duration::zero();
            }
            if (untilDeadline <= left) {
                left = untilDeadline;
                last = true;
            }
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec wait{};
        wait.tv_sec = ns / 1000000000;
        wait.tv_nsec = ns % 1000000000;
        pollfd p{fd, events, 0};
        const int rc = ppoll(&p, 1, &wait, nullptr);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0) {
            return -1;
        }
        if (rc == 0) {
            if (last) {
                return 0;
            }
            continue;
        }
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        // POLLHUP and POLLERR: let the read or write report the error.
        return 1;
    }
}

}  // namespace

int serial_open(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail();
        return -1;
    }
    // The port is ours alone, as long as we hold it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        sys_setlasterror(error);
        return -1;
    }
    if (isatty(fd)) {
        ioctl(fd, TIOCEXCL);
    }
    {
        std::lock_guard lock(g_timeoutsMutex);
        g_timeouts[fd] = eph_commtimeouts{};
    }
    sys_setlasterror(0);
    return fd;
}

bool serial_close(int fd) {
    {
        std::lock_guard lock(g_timeoutsMutex);
        g_timeouts.erase(fd);
    }
    // The exclusive mode outlives the descriptor while the terminal's other
    // side stays open: give the port back to others.
    if (isatty(fd)) {
        ioctl(fd, TIOCNXCL);
    }
    if (::close(fd) != 0) {
        return fail();
    }
    return true;
}

bool serial_getstate(int fd, eph_dcb* dcb) {
    if (tcgetattr(fd, dcb) != 0) {
        return fail();
    }
    if ((dcb->c_cflag & CBAUD) == kAnySpeed) {
        dcb->c_ispeed = dcb->c_ospeed = serial_read_any_speed(fd);
    }
    return true;
}

bool serial_setspeed(eph_dcb* dcb, long speed) {
    if (speed <= 0 || speed > 4000000) {
        sys_setlasterror(EINVAL);
        return false;
    }
    // glibc takes the plain number for every speed it has a constant for;
    // any other speed is kept in the record for the kernel's own interface.
    if (cfsetspeed(dcb, static_cast<speed_t>(speed)) != 0) {
        dcb->c_cflag = (dcb->c_cflag & ~CBAUD) | kAnySpeed;
        dcb->c_ispeed = dcb->c_ospeed = static_cast<speed_t>(speed);
    }
    return true;
}

long serial_speed(const eph_dcb* dcb) {
    static const struct {
        speed_t code;
        long bps;
    } kSpeeds[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                   {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                   {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                   {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    if ((dcb->c_cflag & CBAUD) == kAnySpeed) {
        return static_cast<long>(dcb->c_ospeed);
    }
    const speed_t code = cfgetospeed(dcb);
    for (const auto& s : kSpeeds) {
        if (s.code == code) {
            return s.bps;
        }
    }
    return 0;
}

bool serial_buildstate(const char* definition, eph_dcb* dcb) {
    long speed = 0;
    char parity = 0;
    int bits = 0;
    int stop = 0;
    if (std::sscanf(definition, "%ld,%c,%d,%d", &speed, &parity, &bits, &stop) != 4 ||
        (parity != 'n' && parity != 'N') || bits != 8 || stop != 1) {
        sys_setlasterror(EINVAL);
        return false;
    }
    *dcb = eph_dcb{};
    cfmakeraw(dcb);
    dcb->c_cflag |= CLOCAL | CREAD;
    dcb->c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    dcb->c_cc[VMIN] = 0;
    dcb->c_cc[VTIME] = 0;
    return serial_setspeed(dcb, speed);
}

bool serial_setstate(int fd, const eph_dcb* dcb) {
    if ((dcb->c_cflag & CBAUD) == kAnySpeed) {
        if (!serial_apply_any_speed(fd, dcb->c_iflag, dcb->c_oflag, dcb->c_cflag, dcb->c_lflag,
                                    dcb->c_cc, NCCS, static_cast<unsigned>(dcb->c_ospeed))) {
            return fail();
        }
        return true;
    }
    if (tcsetattr(fd, TCSANOW, dcb) != 0) {
        return fail();
    }
    return true;
}

bool serial_gettimeouts(int fd, eph_commtimeouts* timeouts) {
    if (fcntl(fd, F_GETFD) < 0) {
        return fail();
    }
    *timeouts = timeoutsOf(fd);
    return true;
}

bool serial_settimeouts(int fd, const eph_commtimeouts* timeouts) {
    if (fcntl(fd, F_GETFD) < 0) {
        return fail();
    }
    std::lock_guard lock(g_timeoutsMutex);
    g_timeouts[fd] = *timeouts;
    return true;
}

bool serial_read(int fd, unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
    *got = 0;
    if (count == 0) {
        return true;
    }
    const eph_commtimeouts t = timeoutsOf(fd);
    const bool immediate = t.ReadIntervalTimeout == EPH_MAXDWORD &&
                           t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const std::uint64_t totalMs =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
    const auto start = Clock::now();
    const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != EPH_MAXDWORD;
    Clock::time_point lastByte = start;

    for (;;) {
        // Wait first and read only what is there, so that a read of 0 bytes
        // can only mean that the other side has gone, whatever the port's
        // blocking mode.
        Clock::time_point deadline = Clock::time_point::max();
        if (immediate) {
            deadline = start;
        } else {
            if (totalMs != 0) {
                deadline = start + std::chrono::milliseconds(totalMs);
            }
            if (interval && *got > 0) {
                deadline =
                    std::min(deadline, lastByte + std::chrono::milliseconds(t.ReadIntervalTimeout));
            }
        }
        const bool bounded = deadline != Clock::time_point::max();
        const int ready = waitReady(fd, POLLIN, bounded ? &deadline : nullptr);
        if (ready < 0) {
            return fail();
        }
        if (ready == 0) {
            return true;
        }
        const ssize_t n = ::read(fd, buffer + *got, count - *got);
        if (n > 0) {
            *got += static_cast<std::uint32_t>(n);
            lastByte = Clock::now();
            if (*got == count) {
                return true;
            }
            continue;
        }
        if (n == 0) {
            errno = EIO;
            return fail();
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return fail();
        }
    }
}

bool serial_write(int fd, const unsigned char* data, std::uint32_t count, std::uint32_t* written) {
    *written = 0;
    const eph_commtimeouts t = timeoutsOf(fd);
    std::uint64_t totalMs =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
    if (totalMs == 0) {
        // No write time-out set: a port that never drains must still not
        // hold the link, and with it the window, for ever.
        totalMs = kLongestWriteMs;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    while (*written < count) {
        const ssize_t n = ::write(fd, data + *written, count - *written);
        if (n > 0) {
            *written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return fail();
        }
        const int ready = waitReady(fd, POLLOUT, &deadline);
        if (ready < 0) {
            return fail();
        }
        if (ready == 0) {
            sys_setlasterror(ETIMEDOUT);
            return false;
        }
    }
    sys_setlasterror(0);
    return true;
}
