#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "pty.h"

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

void closePty(PtyPair& pty) {
    if (pty.slave >= 0)
        ::close(pty.slave);
    if (pty.master >= 0)
        ::close(pty.master);
    pty = PtyPair{};
}

}  // namespace camsim
