#include <cerrno>
#include <cstdint>

#include "eph.h"
#include "platform/last_error.h"
#include "platform/serial_port.h"

int eph_readtimed(eph_iob* iob, unsigned char* buffer, int count, long timeout_us, int* got_data) {
    if (count <= 0) {
        return 0;
    }
    // A positive time-out becomes a total time-out of at least one second; a
    // zero time-out asks for what is waiting, at once.
    eph_commtimeouts wanted = iob->cur_timeouts;
    if (timeout_us > 0) {
        std::uint32_t ms = static_cast<std::uint32_t>(timeout_us / 1000);
        wanted.ReadIntervalTimeout = 0;
        wanted.ReadTotalTimeoutMultiplier = 0;
        wanted.ReadTotalTimeoutConstant = ms < 1000 ? 1000 : ms;
    } else {
        wanted.ReadIntervalTimeout = EPH_MAXDWORD;
        wanted.ReadTotalTimeoutMultiplier = 0;
        wanted.ReadTotalTimeoutConstant = 0;
    }
    if (wanted.ReadIntervalTimeout != iob->cur_timeouts.ReadIntervalTimeout ||
        wanted.ReadTotalTimeoutMultiplier != iob->cur_timeouts.ReadTotalTimeoutMultiplier ||
        wanted.ReadTotalTimeoutConstant != iob->cur_timeouts.ReadTotalTimeoutConstant) {
        iob->cur_timeouts = wanted;
        if (!serial_settimeouts(iob->port, &iob->cur_timeouts)) {
            const int error = sys_lasterror();
            eph_error(iob, error, "SetCommTimeouts set error %s", eph_syserrtext(error));
            return -1;
        }
    }
    *got_data = 0;
    std::uint32_t got = 0;
    const bool ok = serial_read(iob->port, buffer, static_cast<std::uint32_t>(count), &got);
    if (!ok) {
        // The read's own error stays, so that a vanished device is not
        // mistaken for a silent camera.
        return -1;
    }
    if (got == 0 && timeout_us > 0) {
        sys_setlasterror(ETIMEDOUT);
        return -1;
    }
    sys_setlasterror(0);
    *got_data = got > 0 ? 1 : 0;
    return static_cast<int>(got);
}
