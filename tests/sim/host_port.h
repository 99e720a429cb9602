// The host's end of the cable for the simulator tests: plain termios, read
// and write on the pseudo-terminal's slave, with its own packet code so that
// a framing bug in the simulator cannot hide behind a shared one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kComplete = 0x05;

Bytes le32(std::int32_t v);
std::uint16_t sum16(const Bytes& payload);
// type, subtype, length (LE), payload, checksum (LE)
Bytes packet(std::uint8_t type, std::uint8_t subtype, const Bytes& payload);
Bytes concat(std::initializer_list<Bytes> parts);
// n bytes counting up from `first`, wrapping
Bytes pattern(std::size_t n, std::uint8_t first = 0);

struct Packet {
    std::uint8_t type = 0;
    std::uint8_t seq = 0;
    Bytes payload;
    bool sumOk = false;
};

class HostPort {
public:
    explicit HostPort(const std::string& path);
    ~HostPort();
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Sets the line speed of the host's end, in bits per second; speeds
    // without a termios constant go through termios2 as the host's do.
    bool setSpeed(long bps);
    // How many read() calls have delivered bytes so far.
    std::size_t reads() const { return reads_; }

    void write(const Bytes& bytes);
    void writeByte(std::uint8_t b) { write(Bytes{b}); }
    // In the three pieces the host paces a packet in.
    void writePacket(std::uint8_t type, std::uint8_t subtype, const Bytes& payload);
    void writeCommand(const Bytes& payload) { writePacket(0x1B, 0x43, payload); }

    // The next byte, or -1 when none came in time.
    int readByte(milliseconds timeout = milliseconds(3000));
    // Exactly n bytes, or fewer when the time ran out.
    Bytes readBytes(std::size_t n, milliseconds timeout = milliseconds(3000));
    std::optional<Packet> readPacket(milliseconds timeout = milliseconds(3000));
    // True when nothing arrives within the time: for answers that must not come.
    bool quietFor(milliseconds time = milliseconds(300));

private:
    int fd_ = -1;
    std::size_t reads_ = 0;
};

// In a file of its own: termios2 cannot share a file with <termios.h>.
bool setOtherSpeed(int fd, long bps);

}  // namespace simtest
