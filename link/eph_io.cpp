#include <algorithm>
#include <cstdint>
#include <vector>

#include "eph.h"
#include "platform/last_error.h"
#include "platform/serial_port.h"
#include "usb/usb_transport.h"

namespace {

constexpr long kPieceDelay[3] = {1250, 1250, 1500};
constexpr long kControlDelay = 2000;
constexpr long kHeaderTimeout = 1000000;

// Reads until want bytes have come or a read returns 0 or less. Returns the
// last read's result (the count of that read, or 0 / -1) and the total in
// *total.
int readAll(eph_iob* iob, unsigned char* buffer, long want, long timeout_us, long* total,
            int* got_data) {
    *total = 0;
    int rc = 0;
    while (*total < want) {
        rc = eph_readtimed(iob, buffer + *total, static_cast<int>(want - *total), timeout_us,
                           got_data);
        if (rc <= 0) {
            return rc;
        }
        *total += rc;
    }
    return rc;
}

// Reads a fixed part of a packet and reports how it failed. Returns 0, -1 or
// -2. The report texts differ per part, so they come in as formats.
struct PartTexts {
    const char* error;    // "... error %s", or with " (got %d)"
    bool errorHasCount;   // the error text also gives the bytes read so far
    bool errorOnlyDebug;  // the read error is reported only at debug level
    const char* timeout;  // "... timeout (%ld)"
    const char* other;    // "... %d ... %d": count and data flag
};

int readPart(eph_iob* iob, unsigned char* buffer, long want, long timeout_us,
             const PartTexts& texts) {
    long total = 0;
    int gotData = 0;
    const int rc = readAll(iob, buffer, want, timeout_us, &total, &gotData);
    if (total == want) {
        return 0;
    }
    if (rc < 0) {
        if (!texts.errorOnlyDebug || iob->debug) {
            const int error = sys_lasterror();
            if (texts.errorHasCount) {
                eph_error(iob, error, texts.error, eph_syserrtext(error), static_cast<int>(total));
            } else {
                eph_error(iob, error, texts.error, eph_syserrtext(error));
            }
        }
        return -1;
    }
    if (rc == 0 && !gotData) {
        eph_error(iob, EPH_ERR_TIMEOUT, texts.timeout, timeout_us);
        return -2;
    }
    eph_error(iob, EPH_ERR_UNEXPECTED_READ, texts.other, static_cast<int>(total), gotData);
    return -1;
}

void writeControl(eph_iob* iob, unsigned char byte, const char* what) {
    eph_usleep(kControlDelay);
    if (eph_writebytes(iob->port, &byte, 1) != 0) {
        const int error = sys_lasterror();
        eph_error(iob, error, what, eph_syserrtext(error));
    }
}

}  // namespace

int eph_writebytes(int port, const unsigned char* data, int count) {
    if (g_bUseUsb) {
        return usb_write(g_hUsb, data, count);
    }
    std::uint32_t written = 0;
    const bool ok =
        serial_write(port, data, count > 0 ? static_cast<std::uint32_t>(count) : 0, &written);
    return ok && written == static_cast<std::uint32_t>(count) ? 0 : 1;
}

int eph_writepkt(eph_iob* iob, int type, int subtype, const unsigned char* data, long length) {
    if (static_cast<unsigned long>(length) > static_cast<unsigned long>(EPH_MAX_PKT_PAYLOAD)) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG, "trying to write %ld in one pkt", length);
        return -1;
    }
    std::vector<unsigned char> packet(static_cast<std::size_t>(length) + 6);
    packet[0] = static_cast<unsigned char>(type);
    packet[1] = static_cast<unsigned char>(subtype);
    packet[2] = static_cast<unsigned char>(length & 0xFF);
    packet[3] = static_cast<unsigned char>((length >> 8) & 0xFF);
    unsigned sum = 0;
    for (long i = 0; i < length; ++i) {
        packet[4 + i] = data[i];
        sum += data[i];
    }
    packet[4 + length] = static_cast<unsigned char>(sum & 0xFF);
    packet[5 + length] = static_cast<unsigned char>((sum >> 8) & 0xFF);

    if (g_bUseUsb) {
        // One transfer, no pacing: the camera takes whole packets on USB.
        if (usb_write(g_hUsb, packet.data(), static_cast<int>(packet.size())) != 0) {
            if (!g_bQuietWrite) {
                const int error = sys_lasterror();
                eph_error(iob, error, "pkt write error %s", eph_syserrtext(error));
            }
            return -1;
        }
        return 0;
    }

    // Three pieces, each after a pause: the camera's serial input needs time
    // between the type, the header and the rest.
    const long pieceStart[3] = {0, 1, 4};
    const long pieceLength[3] = {1, 3, length + 2};
    for (int i = 0; i < 3; ++i) {
        eph_usleep(kPieceDelay[i]);
        if (eph_writebytes(iob->port, packet.data() + pieceStart[i],
                           static_cast<int>(pieceLength[i])) != 0) {
            const int error = sys_lasterror();
            eph_error(iob, error, "pkt write chunk %d(%d) error %s", i,
                      static_cast<int>(pieceLength[i]), eph_syserrtext(error));
            return -1;
        }
    }
    return 0;
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

namespace {

// On USB a packet is one transfer. Its length field and checksum are not
// looked at: the transfer itself delimits the packet.
int readUsbPacket(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length) {
    std::vector<unsigned char> transfer(kUsbMaxTransfer);
    const int n = usb_read(g_hUsb, transfer.data(), kUsbMaxTransfer, 1000);
    if (n >= 1) {
        header[0] = transfer[0];
    }
    if (n >= 2) {
        header[1] = transfer[1];
    }
    if (n < 6) {
        return -1;
    }
    const unsigned long payload = static_cast<unsigned long>(n - 6);
    const unsigned long capacity = *length > 0 ? static_cast<unsigned long>(*length) : 0;
    if (payload > capacity) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG,
                  "length in pkt header %lu bigger than buffer size %lu", payload, capacity);
        return -1;
    }
    std::copy(transfer.begin() + 4, transfer.begin() + 4 + static_cast<long>(payload), buffer);
    *length = static_cast<long>(payload);
    return 0;
}

}  // namespace

int eph_readpkt(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                long timeout_us) {
    if (g_bUseUsb) {
        return readUsbPacket(iob, header, buffer, length);
    }
    unsigned char start = 0;
    int gotData = 0;
    const int rc = eph_readtimed(iob, &start, 1, timeout_us, &gotData);
    if (rc < 0) {
        const int error = sys_lasterror();
        eph_error(iob, error, "pkt start read error %s", eph_syserrtext(error));
        return -1;
    }
    if (rc == 0 && !gotData) {
        eph_error(iob, EPH_ERR_TIMEOUT, "pkt start read timeout (%ld)", timeout_us);
        return -2;
    }
    if (rc != 1) {
        eph_error(iob, EPH_ERR_UNEXPECTED_READ, "pkt start read %d, expected 1", rc);
        return -1;
    }
    header[0] = start;
    if (start != PKT_DATA && start != PKT_LAST) {
        if (start != EPH_NAK && start != EPH_DC1) {
            eph_error(iob, EPH_ERR_BAD_HEADER, "pkt start got 0x%02x", start);
        }
        return start;
    }

    unsigned char rest[3];
    int status = readPart(iob, rest, 3, kHeaderTimeout,
                          {"pkt hdr read error %s (got %d)", true, false,
                           "pkt hdr read timeout (%ld)", "pkt hdr read return %d rc %d"});
    if (status != 0) {
        return status;
    }
    header[1] = rest[0];
    const unsigned long announced = rest[1] | (static_cast<unsigned long>(rest[2]) << 8);
    const unsigned long capacity = *length > 0 ? static_cast<unsigned long>(*length) : 0;
    if (announced > capacity) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG,
                  "length in pkt header %lu bigger than buffer size %lu", announced, capacity);
        return -1;
    }

    status = readPart(iob, buffer, static_cast<long>(announced), iob->data_timeout,
                      {"pkt data read error %s", false, true, "pkt data read timeout (%ld)",
                       "pkt read return %d, rc %d"});
    if (status != 0) {
        return status;
    }
    unsigned counted = 0;
    for (unsigned long i = 0; i < announced; ++i) {
        counted += buffer[i];
    }
    counted &= 0xFFFF;

    unsigned char crc[2];
    status = readPart(iob, crc, 2, kHeaderTimeout,
                      {"pkt crc read error %s", false, false, "pkt crc read timeout (%ld)",
                       "pkt crc read return %d rc %d"});
    if (status != 0) {
        return status;
    }
    const unsigned received = crc[0] | (crc[1] << 8);
    if (received != counted) {
        eph_error(iob, EPH_ERR_BAD_CRC, "crc received=0x%04x counted=0x%04x", received, counted);
        return -1;
    }
    *length = static_cast<long>(announced);
    return 0;
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
