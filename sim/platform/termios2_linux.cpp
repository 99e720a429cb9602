// Kept apart from every file that includes <termios.h>: the kernel's own
// terminal structures clash with the C library's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim/platform/pty.h"

namespace camsim {

long otherTerminalSpeed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return -1;
    return static_cast<long>(tio.c_ospeed);
}

}  // namespace camsim
