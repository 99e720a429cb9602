#include "tests/sim/host_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace simtest {

using Clock = std::chrono::steady_clock;

Bytes le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {std::uint8_t(u & 0xFF), std::uint8_t((u >> 8) & 0xFF), std::uint8_t((u >> 16) & 0xFF),
            std::uint8_t((u >> 24) & 0xFF)};
}

std::uint16_t sum16(const Bytes& payload) {
    unsigned sum = 0;
    for (auto b : payload)
        sum += b;
    return std::uint16_t(sum % 65536);
}

Bytes packet(std::uint8_t type, std::uint8_t subtype, const Bytes& payload) {
    const std::uint16_t sum = sum16(payload);
    Bytes out = {type, subtype, std::uint8_t(payload.size() % 256),
                 std::uint8_t(payload.size() / 256)};
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(std::uint8_t(sum % 256));
    out.push_back(std::uint8_t(sum / 256));
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes pattern(std::size_t n, std::uint8_t first) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = std::uint8_t(first + i * 7);
    return out;
}

HostPort::HostPort(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetspeed(&tio, B19200);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

bool HostPort::setSpeed(long bps) {
    static const std::pair<long, speed_t> kConstants[] = {
        {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    };
    for (const auto& [speed, constant] : kConstants) {
        if (speed != bps)
            continue;
        termios tio{};
        return tcgetattr(fd_, &tio) == 0 && cfsetspeed(&tio, constant) == 0 &&
               tcsetattr(fd_, TCSANOW, &tio) == 0;
    }
    return setOtherSpeed(fd_, bps);
}

HostPort::~HostPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

void HostPort::write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
}

void HostPort::writePacket(std::uint8_t type, std::uint8_t subtype, const Bytes& payload) {
    const Bytes p = packet(type, subtype, payload);
    const auto gap = std::chrono::microseconds(1250);
    write(Bytes(p.begin(), p.begin() + 1));
    std::this_thread::sleep_for(gap);
    write(Bytes(p.begin() + 1, p.begin() + 4));
    std::this_thread::sleep_for(gap);
    write(Bytes(p.begin() + 4, p.end()));
}

Bytes HostPort::readBytes(std::size_t n, milliseconds timeout) {
    Bytes out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < n) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        std::uint8_t buf[4096];
        const std::size_t want = std::min(sizeof buf, n - out.size());
        const ssize_t got = ::read(fd_, buf, want);
        if (got > 0) {
            out.insert(out.end(), buf, buf + got);
            ++reads_;
        }
    }
    return out;
}

int HostPort::readByte(milliseconds timeout) {
    const Bytes b = readBytes(1, timeout);
    return b.empty() ? -1 : b[0];
}

std::optional<Packet> HostPort::readPacket(milliseconds timeout) {
    const Bytes head = readBytes(4, timeout);
    if (head.size() < 4)
        return std::nullopt;
    Packet p;
    p.type = head[0];
    p.seq = head[1];
    const std::size_t len = head[2] + 256u * head[3];
    p.payload = readBytes(len, timeout);
    const Bytes sum = readBytes(2, timeout);
    if (p.payload.size() < len || sum.size() < 2)
        return std::nullopt;
    p.sumOk = sum[0] + 256u * sum[1] == sum16(p.payload);
    return p;
}

bool HostPort::quietFor(milliseconds time) {
    return readBytes(1, time).empty();
}

}  // namespace simtest
