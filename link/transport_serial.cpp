// The serial transport: bytes on the port, packets in three paced pieces,
// reads with the port's time-outs, and the port's settings put back at
// close.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "link/eph.h"
#include "link/eph_frame.h"
#include "link/eph_transport.h"
#include "link/platform/give_up.h"
#include "link/platform/serial_port.h"
#include "log/platform/last_error.h"

namespace {

constexpr long kPieceDelay[3] = {1250, 1250, 1500};
constexpr long kHeaderTimeout = 1000000;
// A drain waits this much longer than a packet takes, for the camera's
// pause between packets; it looks every slice and gives up after a minute
// of bytes that keep coming.
constexpr auto kDrainMargin = std::chrono::milliseconds(250);
constexpr long kDrainSlice = 20000;
constexpr auto kLongestDrain = std::chrono::seconds(60);

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

int serialWrite(eph_iob* iob, const unsigned char* data, int count) {
    return eph_writebytes(iob->port, data, count);
}

// Three pieces, each after a pause: the camera's serial input needs time
// between the type, the header and the rest.
int serialWritePacket(eph_iob* iob, const std::vector<unsigned char>& packet) {
    const long length = static_cast<long>(packet.size()) - EPH_FRAME_OVERHEAD;
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

// A positive time-out becomes a total time-out of at least one second; a
// zero time-out asks for what is waiting, at once.
int serialReadTimed(eph_iob* iob, unsigned char* buffer, int count, long timeout_us,
                    int* got_data) {
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
    if (got > 0) {
        link_heard();
    }
    *got_data = got > 0 ? 1 : 0;
    return static_cast<int>(got);
}

// The start byte, the rest of the header, the payload and the checksum,
// each read with its own time-out and report; then the decoder judges the
// whole.
int serialReadPacket(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                     long timeout_us) {
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
        // A zero byte passed up as its value would read as success: a packet
        // taken that never came.
        return start != 0 ? start : -1;
    }

    std::vector<unsigned char> packet(EPH_FRAME_HEADER);
    packet[0] = start;
    int status = readPart(iob, packet.data() + 1, 3, kHeaderTimeout,
                          {"pkt hdr read error %s (got %d)", true, false,
                           "pkt hdr read timeout (%ld)", "pkt hdr read return %d rc %d"});
    if (status != 0) {
        return status;
    }
    header[1] = packet[1];
    // Nothing is read, nor room made, for more than the caller can take.
    const unsigned long announced = eph_announced(packet.data());
    const unsigned long capacity = *length > 0 ? static_cast<unsigned long>(*length) : 0;
    if (announced > capacity) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG,
                  "length in pkt header %lu bigger than buffer size %lu", announced, capacity);
        return -1;
    }
    packet.resize(EPH_FRAME_OVERHEAD + announced);
    status = readPart(iob, packet.data() + EPH_FRAME_HEADER, static_cast<long>(announced),
                      iob->data_timeout,
                      {"pkt data read error %s", false, true, "pkt data read timeout (%ld)",
                       "pkt read return %d, rc %d"});
    if (status != 0) {
        return status;
    }
    status = readPart(iob, packet.data() + EPH_FRAME_HEADER + announced, 2, kHeaderTimeout,
                      {"pkt crc read error %s", false, false, "pkt crc read timeout (%ld)",
                       "pkt crc read return %d rc %d"});
    if (status != 0) {
        return status;
    }
    eph_frame frame;
    if (eph_decodepkt(packet.data(), packet.size(), false, &frame) != EPH_FRAME_OK) {
        eph_error(iob, EPH_ERR_BAD_CRC, "crc received=0x%04x counted=0x%04x", frame.received_sum,
                  frame.counted_sum);
        return -1;
    }
    std::copy(frame.payload, frame.payload + frame.length, buffer);
    *length = static_cast<long>(frame.length);
    return 0;
}

// Reads what is waiting, a slice at a time, until nothing has come for
// longer than a whole data packet takes at the line's speed: the camera may
// be part-way through a packet, or pausing between the packets of a
// transfer it has not given up yet.
int serialDrain(eph_iob* iob) {
    using Clock = std::chrono::steady_clock;
    const auto packetTime = std::chrono::microseconds(
        iob->data_timeout > kHeaderTimeout ? iob->data_timeout - kHeaderTimeout : 0);
    const auto quietEnough = packetTime + kDrainMargin;
    const Clock::time_point began = Clock::now();
    Clock::time_point lastByte = began;
    unsigned char dropped[256];
    for (;;) {
        int gotData = 0;
        const int rc = eph_readtimed(iob, dropped, sizeof dropped, 0, &gotData);
        const Clock::time_point now = Clock::now();
        if (rc < 0) {
            return -1;
        }
        if (rc > 0) {
            lastByte = now;
        } else if (now - lastByte >= quietEnough) {
            return 0;
        }
        if (now - began >= kLongestDrain) {
            return -1;
        }
        if (rc == 0) {
            eph_usleep(kDrainSlice);
        }
    }
}

void serialReset(eph_iob* iob) {
    eph_setispeed(iob, 0);
}

void serialClose(eph_iob* iob) {
    if (iob->port < 0) {
        return;
    }
    if (!serial_setstate(iob->port, &iob->saved_dcb)) {
        const int error = sys_lasterror();
        eph_error(iob, error, "SetCommState reset attr error %s", eph_syserrtext(error));
    }
    if (!serial_settimeouts(iob->port, &iob->saved_timeouts)) {
        const int error = sys_lasterror();
        eph_error(iob, error, "SetCommTimeouts reset attr error %s", eph_syserrtext(error));
    }
    serial_close(iob->port);
    iob->port = -1;
}

}  // namespace

const eph_transport eph_serial_transport = {serialWrite,      serialWritePacket, serialReadTimed,
                                            serialReadPacket, serialDrain,       serialReset,
                                            serialClose};

int eph_writebytes(int port, const unsigned char* data, int count) {
    std::uint32_t written = 0;
    const bool ok =
        serial_write(port, data, count > 0 ? static_cast<std::uint32_t>(count) : 0, &written);
    return ok && written == static_cast<std::uint32_t>(count) ? 0 : 1;
}
