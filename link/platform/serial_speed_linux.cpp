// Kept apart: <asm/termbits.h> and <termios.h> cannot meet in one file.
#include "link/platform/serial_speed_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool serial_apply_any_speed(int fd, unsigned iflag, unsigned oflag, unsigned cflag, unsigned lflag,
                            const unsigned char* cc, int ncc, unsigned speed) {
    struct termios2 t2 {};
    t2.c_iflag = iflag;
    t2.c_oflag = oflag;
    t2.c_cflag = (cflag & ~CBAUD) | BOTHER;
    t2.c_lflag = lflag;
    for (int i = 0; i < ncc && i < NCCS; ++i) {
        t2.c_cc[i] = cc[i];
    }
    t2.c_ispeed = speed;
    t2.c_ospeed = speed;
    return ioctl(fd, TCSETS2, &t2) == 0;
}

unsigned serial_read_any_speed(int fd) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) {
        return 0;
    }
    return t2.c_ospeed;
}
