#include "tests/fuzz/platform/pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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

void SendToHost(const FuzzLine& line, const unsigned char* data, long count) {
    while (count > 0) {
        const ssize_t n = write(line.camera, data, static_cast<size_t>(count));
        if (n <= 0) {
            return;
        }
        data += n;
        count -= n;
    }
}

void DrainFromHost(const FuzzLine& line) {
    unsigned char buffer[4096];
    while (read(line.camera, buffer, sizeof buffer) > 0) {
    }
}

void DrainToHost(const FuzzLine& line) {
    tcflush(line.host, TCIFLUSH);
}
