#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "sim/platform/pty.h"

namespace camsim {

bool openPty(PtyPair& pty) {
    pty = PtyPair{};
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return false;
    auto fail = [&](int slave) {
        const int saved = errno;
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        errno = saved;
        return false;
    };
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail(-1);
    const char* name = ptsname(master);
    if (name == nullptr)
        return fail(-1);
    std::string path = name;
    const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail(-1);
    termios tio{};
    if (tcgetattr(slave, &tio) != 0)
        return fail(slave);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail(slave);
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(slave);
    if (fcntl(master, F_SETFD, FD_CLOEXEC) != 0)
        return fail(slave);
    pty.master = master;
    pty.slave = slave;
    pty.slavePath = std::move(path);
    return true;
}

long terminalSpeed(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    static const std::pair<speed_t, long> kSpeeds[] = {
        {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    const speed_t code = cfgetospeed(&tio);
    for (const auto& [constant, bps] : kSpeeds)
        if (code == constant)
            return bps;
    // No constant we know: a speed given as a number.
    return otherTerminalSpeed(fd);
}

void closePty(PtyPair& pty) {
    if (pty.slave >= 0)
        ::close(pty.slave);
    if (pty.master >= 0)
        ::close(pty.master);
    pty = PtyPair{};
}

}  // namespace camsim
