// A serial port's line settings as the platform keeps them.
#pragma once

#include <termios.h>

using eph_dcb = struct termios;
