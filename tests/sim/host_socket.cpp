#include "tests/sim/host_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace simtest {

HostSocket::HostSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        close();
}

void HostSocket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void HostSocket::send(const Bytes& message) {
    [[maybe_unused]] const ssize_t n = ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL);
}

std::optional<Bytes> HostSocket::receive(milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0 || !(p.revents & POLLIN))
        return std::nullopt;
    // Room for more than any packet: a reply cut short would show as such.
    std::vector<std::uint8_t> buf(65536);
    const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
    if (n <= 0)
        return std::nullopt;
    return Bytes(buf.begin(), buf.begin() + n);
}

bool HostSocket::waitClosed(milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0)
        return false;
    std::uint8_t byte = 0;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_DONTWAIT);
    // A camera that closes with bytes of ours unread resets the connection.
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

PrivateRuntimeDir::PrivateRuntimeDir() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
        previous_ = old;
    char tmpl[] = "/tmp/tulk-simtest-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
        return;
    path_ = tmpl;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

PrivateRuntimeDir::~PrivateRuntimeDir() {
    if (previous_)
        ::setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace simtest
