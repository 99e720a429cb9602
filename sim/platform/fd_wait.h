// Waiting on the camera's descriptors (its end of the cable, and a waker)
// and moving bytes through them, as the serving threads need it.
#pragma once

#include <cstddef>

namespace camsim {

// What a wait found.
struct FdWait {
    bool failed = false;    // the wait itself failed (not interrupted)
    bool readable = false;  // the descriptor has input (or a connection)
    bool hungUp = false;    // the descriptor's other end is gone or in error
    bool woken = false;     // the waker has a byte
};

// Waits until fd can be read, or the waker's descriptor has a byte, or
// timeoutMs have passed (-1: no limit).
FdWait waitForInput(int fd, int wakerFd, int timeoutMs);
// Waits at most timeoutMs for fd to take more bytes.
void waitWritable(int fd, int timeoutMs);
// A pause of timeoutMs that a byte on fd ends early.
void pauseOn(int fd, int timeoutMs);

// read() and write() on fd: the count, or -1 on failure.
long readFd(int fd, void* buffer, std::size_t size);
long writeFd(int fd, const void* data, std::size_t size);
// The last failure only meant "nothing now, try again" (no data yet, a full
// buffer, a signal).
bool lastFailureIsTransient();

}  // namespace camsim
