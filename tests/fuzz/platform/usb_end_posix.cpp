#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tests/fuzz/platform/usb_end.h"

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string MakePrivateFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

bool ListenFuzzUsb(FuzzUsbEnd* end, const std::string& runtime) {
    const std::string folder = runtime + "/tulk";
    if (!MakeFolder(folder)) {
        return false;
    }
    const std::string path = folder + "/usbscan0";
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    end->listener = fd;
    return true;
}

bool ReceiveFromUsbHost(FuzzUsbEnd* end, std::vector<unsigned char>* message) {
    if (end->camera < 0) {
        end->camera = ::accept4(end->listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (end->camera < 0) {
            return false;
        }
    }
    // The largest packet the host may write, and one byte more.
    message->resize(32769);
    const ssize_t n = ::recv(end->camera, message->data(), message->size(), MSG_DONTWAIT);
    if (n < 0) {
        message->clear();
        return false;
    }
    message->resize(static_cast<std::size_t>(n));
    return true;
}

bool SendToUsbHost(const FuzzUsbEnd& end, const unsigned char* data, std::size_t count) {
    if (end.camera < 0) {
        return false;
    }
    const ssize_t n = ::send(end.camera, data, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    return n == static_cast<ssize_t>(count);
}

void HangUpUsb(FuzzUsbEnd* end) {
    if (end->camera >= 0) {
        ::close(end->camera);
        end->camera = -1;
    }
}
