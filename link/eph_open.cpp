#include <cstring>

#include "link/eph.h"
#include "link/eph_transport.h"
#include "link/platform/serial_port.h"
#include "log/platform/last_error.h"

namespace {

constexpr long kWakeupSpeed = 19200;
constexpr int kWakeupAttempts = 4;
constexpr long kWakeupPause = 250000;
constexpr long kSettlePause = 100000;

// Reports the failed platform call with the thread's last error, closes the
// port and fails the open.
int failOpen(eph_iob* iob, const char* format) {
    const int error = sys_lasterror();
    eph_error(iob, error, format, eph_syserrtext(error));
    serial_close(iob->port);
    iob->port = -1;
    return -1;
}

}  // namespace

long eph_speedcode(long speed) {
    for (const eph_linespeed& known : EPH_LINE_SPEEDS) {
        if (known.bps == speed) {
            return known.code;
        }
    }
    return speed;
}

long eph_speedofcode(long code) {
    for (const eph_linespeed& known : EPH_LINE_SPEEDS) {
        if (known.code == code) {
            return known.bps;
        }
    }
    return code;
}

int eph_datatimeout(long speed) {
    // 2048 bytes of ten bits each at this speed, and a second more. Very low
    // speeds would overflow; they wait as long as an int allows.
    if (speed <= 0) {
        return 0x7FFFFFFF;
    }
    const long long us = (2048000000LL / speed) * 10 + 1000000;
    return us > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(us);
}

int eph_openport(eph_iob* iob, const char* device, long speed, long /*wakeup_speed*/,
                 long port_speed) {
    if (speed == 0) {
        speed = 9600;
    }
    if (port_speed == 0) {
        port_speed = speed;
    }
    const long code = eph_speedcode(speed);
    iob->data_timeout = eph_datatimeout(speed);

    iob->transport = &eph_serial_transport;
    iob->port = serial_open(device);
    if (iob->port < 0) {
        const int error = sys_lasterror();
        if (std::strlen(device) < 400) {
            eph_error(iob, error, "open %s error %s", device, eph_syserrtext(error));
        }
        return -1;
    }
    if (!serial_getstate(iob->port, &iob->saved_dcb)) {
        return failOpen(iob, "GetCommState error %s");
    }
    char definition[32];
    std::snprintf(definition, sizeof definition, "%ld,n,8,1", kWakeupSpeed);
    eph_dcb dcb{};
    if (!serial_buildstate(definition, &dcb)) {
        return failOpen(iob, "BuildCommDCB error %s");
    }
    if (!serial_setstate(iob->port, &dcb)) {
        return failOpen(iob, "SetCommState error %s");
    }
    if (!serial_gettimeouts(iob->port, &iob->saved_timeouts)) {
        return failOpen(iob, "GetCommTimeouts error %s");
    }
    iob->cur_timeouts = {0, 1, 1000, 0, 0};
    if (!serial_settimeouts(iob->port, &iob->cur_timeouts)) {
        return failOpen(iob, "SetCommTimeouts initial attr error %s");
    }

    // The camera listens at 19200 baud until it is told otherwise.
    for (int attempt = 1;; ++attempt) {
        if (eph_flushinput(iob) != 0) {
            return failOpen(iob, "error flushing input: %s");
        }
        eph_writeinit(iob);
        if (eph_waitsig(iob) == 0) {
            break;
        }
        eph_usleep(kWakeupPause);
        if (attempt == kWakeupAttempts) {
            serial_close(iob->port);
            iob->port = -1;
            return -1;
        }
    }

    if (eph_setispeed(iob, code) != 0) {
        const int error = sys_lasterror();
        eph_error(iob, error, "could not switch camera speed %ld: %s", code, eph_syserrtext(error));
        serial_close(iob->port);
        iob->port = -1;
        return -1;
    }
    if (!serial_setspeed(&dcb, port_speed) || !serial_setstate(iob->port, &dcb)) {
        return failOpen(iob, "SetCommState working attr error %s");
    }
    eph_usleep(kSettlePause);
    return 0;
}

void eph_close(eph_iob* iob, int signoff) {
    if (signoff) {
        const unsigned char none = 0;
        eph_action(iob, 4, &none, 1);
    } else {
        iob->transport->reset(iob);
    }
    iob->transport->close(iob);
}
