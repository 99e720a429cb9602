#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "tests/sim/host_port.h"

namespace simtest {

bool setOtherSpeed(int fd, long bps) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    // Input speed bits cleared: input follows the output speed.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(bps);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace simtest
