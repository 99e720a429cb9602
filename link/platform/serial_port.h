// The serial port of the platform, as the link layer expects it: a port
// opened exclusively by name, line settings built from "<speed>,n,8,1",
// five time-outs in milliseconds that govern reads and writes, reads that
// return within their time-out with what has arrived, and the thread's last
// error (sys_lasterror) after every call that fails.
#pragma once

#include <cstdint>

#include "link/eph.h"

// Returns the file descriptor of the open port, or -1.
int serial_open(const char* device);
bool serial_close(int fd);

bool serial_getstate(int fd, eph_dcb* dcb);
// Fills dcb from a definition such as "19200,n,8,1" (raw 8-bit bytes, no
// parity, one stop bit, no flow control, the speed in bits per second).
bool serial_buildstate(const char* definition, eph_dcb* dcb);
bool serial_setstate(int fd, const eph_dcb* dcb);
// The line speed of a settings record, in bits per second.
long serial_speed(const eph_dcb* dcb);
bool serial_setspeed(eph_dcb* dcb, long speed);

bool serial_gettimeouts(int fd, eph_commtimeouts* timeouts);
bool serial_settimeouts(int fd, const eph_commtimeouts* timeouts);

// Reads up to count bytes under the port's read time-outs:
//  - interval MAXDWORD, multiplier and constant 0: returns at once with what
//    is waiting;
//  - otherwise the read ends when count bytes have come, when the total
//    time-out (multiplier * count + constant, 0 = none) has passed, or when
//    the interval time-out (0 = none) has passed between two bytes.
// A time-out is not a failure: *got tells how many bytes came.
bool serial_read(int fd, unsigned char* buffer, std::uint32_t count, std::uint32_t* got);
// Writes all bytes unless the write time-out passes first.
bool serial_write(int fd, const unsigned char* data, std::uint32_t count, std::uint32_t* written);
