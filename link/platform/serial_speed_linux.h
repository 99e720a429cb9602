// Line speeds that termios has no constant for (14400 baud, say) go through
// the kernel's termios2 interface on Linux.
#pragma once

// Applies the settings with an arbitrary speed in bits per second.
bool serial_apply_any_speed(int fd, unsigned iflag, unsigned oflag, unsigned cflag, unsigned lflag,
                            const unsigned char* cc, int ncc, unsigned speed);
// The port's output speed in bits per second as the kernel keeps it, or 0.
unsigned serial_read_any_speed(int fd);

// The speed field of c_cflag that says "the speed is in c_ispeed/c_ospeed"
// (BOTHER, which glibc's <termios.h> does not give).
inline constexpr unsigned kAnySpeed = 0010000;
