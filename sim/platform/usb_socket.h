// The camera's end of the USB cable: a Unix packet socket, which keeps the
// boundaries of what each side writes as a whole transfer does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

// Where USB device n is served: $XDG_RUNTIME_DIR/tulk/usbscan<n>, or under
// /tmp when that variable is not set. The folder is made (mode 0700) when
// missing. Empty (errno set) when it cannot be made or the path is too long
// for a socket.
std::string usbSocketPath(int n);

// Listens on a SOCK_SEQPACKET socket at path. A socket file left behind by a
// camera that has gone is removed first; one that a camera still answers on
// is left alone (EADDRINUSE). Returns the listening descriptor
// (non-blocking) or -1 with errno set.
int listenUsb(const std::string& path);
// The next waiting host connection (non-blocking), or -1.
int acceptUsb(int listenFd);

// Receives one message into buf. Returns its size, 0 when the host has
// closed, -1 on error (errno EAGAIN when nothing is waiting). tooLong is set
// when the message did not fit in capacity bytes.
long receiveMessage(int fd, std::uint8_t* buf, std::size_t capacity, bool& tooLong);
// Sends one message whole. Gives up when the host has gone, or has stopped
// reading for long, or stopping is set.
bool sendMessage(int fd, const std::vector<std::uint8_t>& message,
                 const std::atomic<bool>& stopping);

void closeFd(int& fd);
// Removes the socket file of a camera that stops serving.
void removeUsbSocket(const std::string& path);

}  // namespace camsim
