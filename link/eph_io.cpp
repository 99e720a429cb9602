#include "link/eph.h"
#include "link/eph_frame.h"
#include "link/eph_transport.h"
#include "log/platform/last_error.h"

namespace {

constexpr long kControlDelay = 2000;

void writeControl(eph_iob* iob, unsigned char byte, const char* what) {
    eph_usleep(kControlDelay);
    if (iob->transport->write(iob, &byte, 1) != 0) {
        const int error = sys_lasterror();
        eph_error(iob, error, what, eph_syserrtext(error));
    }
}

}  // namespace

int eph_writepkt(eph_iob* iob, int type, int subtype, const unsigned char* data, long length) {
    if (static_cast<unsigned long>(length) > static_cast<unsigned long>(EPH_MAX_PKT_PAYLOAD)) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG, "trying to write %ld in one pkt", length);
        return -1;
    }
    return iob->transport->writepkt(iob, eph_encodepkt(type, subtype, data, length));
}

int eph_writecmd(eph_iob* iob, const unsigned char* data, long length) {
    return eph_writepkt(iob, PKT_CMD, PKT_SUB_CMD, data, length);
}

int eph_writespeedcmd(eph_iob* iob, const unsigned char* data, long length) {
    return eph_writepkt(iob, PKT_CMD, PKT_SUB_SPEED, data, length);
}

void eph_writeinit(eph_iob* iob) {
    writeControl(iob, EPH_INIT, "init write error %s");
}

void eph_writeack(eph_iob* iob) {
    writeControl(iob, EPH_ACK, "ack write error %s");
}

void eph_writenak(eph_iob* iob) {
    writeControl(iob, EPH_NAK, "nak write error %s");
}

int eph_readpkt(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                long timeout_us) {
    return iob->transport->readpkt(iob, header, buffer, length, timeout_us);
}

int eph_flushinput(eph_iob* iob) {
    unsigned char byte = 0;
    int gotData = 0;
    const int rc = eph_readtimed(iob, &byte, 1, 0, &gotData);
    if (rc < 0) {
        const int error = sys_lasterror();
        eph_error(iob, error, "flushinput read error %s", eph_syserrtext(error));
        return -1;
    }
    if (rc > 0) {
        eph_error(iob, EPH_ERR_UNEXPECTED_READ, "flushinput read %d expected 0", rc);
    }
    return 0;
}

int eph_waitchar(eph_iob* iob, long timeout_us) {
    unsigned char byte = 0;
    int gotData = 0;
    const int rc = eph_readtimed(iob, &byte, 1, timeout_us, &gotData);
    if (rc < 0) {
        if (iob->debug) {
            const int error = sys_lasterror();
            eph_error(iob, error, "waitchar read error %s", eph_syserrtext(error));
        }
        return -1;
    }
    if (rc == 0 && !gotData) {
        eph_error(iob, EPH_ERR_TIMEOUT, "waitchar read timeout (%ld)", timeout_us);
        return -2;
    }
    if (rc != 1) {
        eph_error(iob, EPH_ERR_UNEXPECTED_READ, "waitchar read %d expected 1", rc);
        return -1;
    }
    return byte;
}

namespace {

// One wait for a single byte: the wanted byte gives 0, the listed answers
// come back unreported, anything else is reported and returned.
int waitFor(eph_iob* iob, long timeout_us, int wanted, bool passCan, const char* report) {
    const int c = eph_waitchar(iob, timeout_us);
    if (c == wanted) {
        return 0;
    }
    if (c == EPH_DC1 || c == EPH_NAK || (passCan && c == EPH_CAN)) {
        return c;
    }
    eph_error(iob, EPH_ERR_UNEXPECTED_READ, report, c);
    return c;
}

}  // namespace

int eph_waitack(eph_iob* iob, long timeout_us) {
    return waitFor(iob, timeout_us, EPH_ACK, true, "eph_waitack got %d");
}

int eph_waitcomplete(eph_iob* iob) {
    return waitFor(iob, 60000000, EPH_ENQ, false, "eph_waitcomplete got %d");
}

int eph_waiteot(eph_iob* iob) {
    return waitFor(iob, 1000000, EPH_EOT, false, "eph_waiteot got %d");
}

int eph_waitsig(eph_iob* iob) {
    constexpr long kSigTimeout = 3000000;
    int c = eph_waitchar(iob, kSigTimeout);
    for (int extra = 0; c == EPH_INIT && extra < 200; ++extra) {
        c = eph_waitchar(iob, kSigTimeout);
    }
    if (c == EPH_NAK) {
        return 0;
    }
    if (iob->debug) {
        eph_error(iob, EPH_ERR_UNEXPECTED_READ, "eph_waitsig got %d", c);
    }
    // A line that keeps sending zero bytes has not answered: 0 would read as
    // success.
    return c == EPH_INIT ? -1 : c;
}

int eph_drain(eph_iob* iob) {
    return iob->transport->drain(iob);
}
