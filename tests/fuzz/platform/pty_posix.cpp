#include "tests/fuzz/platform/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

bool OpenFuzzLine(FuzzLine* line) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return false;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B19200);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    line->camera = master;
    line->host = slave;
    return true;
}

long SendToHost(const FuzzLine& line, const unsigned char* data, long count) {
    long sent = 0;
    while (sent < count) {
        const ssize_t n = write(line.camera, data + sent, static_cast<size_t>(count - sent));
        if (n <= 0) {
            break;
        }
        sent += n;
    }
    return sent;
}

void DrainFromHost(const FuzzLine& line) {
    unsigned char buffer[4096];
    while (read(line.camera, buffer, sizeof buffer) > 0) {
    }
}

void DrainToHost(const FuzzLine& line) {
    tcflush(line.host, TCIFLUSH);
}

std::vector<unsigned char> ReceiveFromHost(const FuzzLine& line, std::size_t count,
                                           int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<unsigned char> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(line.camera, bytes.data() + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{line.camera, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    bytes.resize(got);
    return bytes;
}

std::size_t WaitingForHost(const FuzzLine& line) {
    int waiting = 0;
    if (ioctl(line.host, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::size_t>(waiting);
}

bool WaitUntilHostCanRead(const FuzzLine& line, std::size_t count, int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const std::size_t want = std::min<std::size_t>(count, 4095);
    while (WaitingForHost(line) < want) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    return true;
}
