// The host's end of the USB cable for the simulator tests: a plain
// SOCK_SEQPACKET client, one message per packet or control byte.
#pragma once

#include <optional>
#include <string>

#include "tests/sim/host_port.h"

namespace simtest {

class HostSocket {
public:
    explicit HostSocket(const std::string& path);
    ~HostSocket() { close(); }
    HostSocket(const HostSocket&) = delete;
    HostSocket& operator=(const HostSocket&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void close();

    void send(const Bytes& message);
    void sendByte(std::uint8_t b) { send(Bytes{b}); }
    void sendCommand(const Bytes& payload) { send(packet(0x1B, 0x43, payload)); }

    // The next message whole, or nothing when none came in time.
    std::optional<Bytes> receive(milliseconds timeout = milliseconds(3000));
    // True when no message arrives within the time.
    bool quietFor(milliseconds time = milliseconds(300)) { return !receive(time); }
    // True when the camera closes the connection within the time, before
    // sending anything more.
    bool waitClosed(milliseconds timeout = milliseconds(3000));

private:
    int fd_ = -1;
};

// A runtime folder of the test's own in XDG_RUNTIME_DIR, for as long as the
// object lives: no other camera is found there, and ours are not left behind.
class PrivateRuntimeDir {
public:
    PrivateRuntimeDir();
    ~PrivateRuntimeDir();
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::optional<std::string> previous_;
};

}  // namespace simtest
