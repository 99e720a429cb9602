// A pseudo-terminal that stands in for the camera's end of the serial cable.
#pragma once

#include <string>

namespace camsim {

struct PtyPair {
    int master = -1;  // the camera's end, non-blocking
    int slave = -1;   // held open by the camera (see openPty)
    std::string slavePath;
};

// Opens a pseudo-terminal with its slave raw at 19200 baud. The camera keeps
// its own slave descriptor open for the terminal's whole life: without it the
// master reads EIO whenever no host has the port open, and the line settings
// the host chose could not be read back. Returns false (errno set) on failure.
bool openPty(PtyPair& pty);
void closePty(PtyPair& pty);

// The speed the terminal's host end sends at, in bits per second, as its
// settings say now; -1 when they cannot be read.
long terminalSpeed(int fd);
// The same for a speed that has no termios constant (set through the
// kernel's own interface, with the speed as a number).
long otherTerminalSpeed(int fd);

}  // namespace camsim
