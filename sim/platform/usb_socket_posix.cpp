#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "sim/platform/usb_socket.h"

namespace camsim {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int packetSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (fd < 0)
        return -1;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Whether a camera is listening on the socket file at path.
bool answered(const sockaddr_un& addr) {
    const int fd = packetSocket();
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string usbSocketPath(int n) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = runtime && *runtime ? runtime : "/tmp";
    folder += "/tulk";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return {};
    }
    std::string path = folder + "/usbscan" + std::to_string(n);
    sockaddr_un addr{};
    if (!fillAddress(path, addr))
        return {};
    return path;
}

int listenUsb(const std::string& path) {
    sockaddr_un addr{};
    if (!fillAddress(path, addr))
        return -1;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            errno = EEXIST;
            return -1;
        }
        if (answered(addr)) {
            errno = EADDRINUSE;
            return -1;
        }
        ::unlink(path.c_str());
    }
    const int fd = packetSocket();
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 8) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    setNonBlocking(fd);
    return fd;
}

int acceptUsb(int listenFd) {
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0)
        return -1;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    setNonBlocking(fd);
    return fd;
}

long receiveMessage(int fd, std::uint8_t* buf, std::size_t capacity, bool& tooLong) {
    iovec iov{buf, capacity};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, 0);
    } while (n < 0 && errno == EINTR);
    tooLong = n > 0 && (msg.msg_flags & MSG_TRUNC) != 0;
    return static_cast<long>(n);
}

bool sendMessage(int fd, const std::vector<std::uint8_t>& message,
                 const std::atomic<bool>& stopping) {
    using Clock = std::chrono::steady_clock;
    // A host that stops reading must not keep the camera from stop().
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (!stopping) {
        const ssize_t n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<std::size_t>(n) == message.size();
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (Clock::now() >= giveUp)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return false;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void removeUsbSocket(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace camsim
