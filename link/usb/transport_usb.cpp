// The USB transport: one transfer is one packet, written without pacing and
// read whole; the device is closed at the end.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "link/eph.h"
#include "link/eph_frame.h"
#include "link/eph_transport.h"
#include "link/usb/usb_transport.h"
#include "log/platform/last_error.h"

namespace {

constexpr int kQuietMs = 300;
constexpr auto kLongestDrain = std::chrono::seconds(60);

int usbWrite(eph_iob* /*iob*/, const unsigned char* data, int count) {
    return usb_write(g_hUsb, data, count);
}

int usbWritePacket(eph_iob* iob, const std::vector<unsigned char>& packet) {
    if (usb_write(g_hUsb, packet.data(), static_cast<int>(packet.size())) != 0) {
        if (!g_bQuietWrite) {
            const int error = sys_lasterror();
            eph_error(iob, error, "pkt write error %s", eph_syserrtext(error));
        }
        return -1;
    }
    return 0;
}

// A failed or late transfer is a reply that did not come.
int usbReadTimed(eph_iob* /*iob*/, unsigned char* buffer, int count, long timeout_us,
                 int* got_data) {
    const int n = usb_read(g_hUsb, buffer, count, timeout_us / 1000);
    *got_data = n >= 0 ? 1 : 0;
    return n >= 0 ? n : 0;
}

// The copy of the last packet refused for its length field or checksum: a
// repeat that comes back byte for byte the same is taken, but marked
// doubtful, since a camera may not fill these fields on USB at all.
std::vector<unsigned char> g_refused;

// One transfer is one packet. Its length field must match the bytes that
// came and its checksum the payload, as on the serial line; a packet that
// fails is refused (-1, and the caller asks for it again).
int usbReadPacket(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                  long /*timeout_us*/) {
    std::vector<unsigned char> transfer(kUsbMaxTransfer);
    const int n = usb_read(g_hUsb, transfer.data(), kUsbMaxTransfer, 1000);
    const unsigned long size = n > 0 ? static_cast<unsigned long>(n) : 0;
    eph_frame frame;
    eph_frame_status status = eph_decodepkt(transfer.data(), size, false, &frame);
    if (n >= 1) {
        header[0] = frame.type;
    }
    if (n >= 2) {
        header[1] = frame.subtype;
    }
    // A control byte, or anything that is no data packet, is no reply.
    if (size < static_cast<unsigned long>(EPH_FRAME_OVERHEAD) ||
        (frame.type != PKT_DATA && frame.type != PKT_LAST)) {
        return -1;
    }
    transfer.resize(size);
    if (status != EPH_FRAME_OK) {
        if (transfer != g_refused) {
            if (status == EPH_FRAME_BAD_CRC) {
                eph_error(iob, EPH_ERR_BAD_CRC, "crc received=0x%04x counted=0x%04x",
                          frame.received_sum, frame.counted_sum);
            } else {
                eph_error(iob, EPH_ERR_UNEXPECTED_READ, "pkt length %lu, transfer of %lu bytes",
                          frame.announced, size);
            }
            g_refused = std::move(transfer);
            return -1;
        }
        status = eph_decodepkt(transfer.data(), size, true, &frame);
        iob->doubtful = 1;
    }
    g_refused.clear();
    const unsigned long capacity = *length > 0 ? static_cast<unsigned long>(*length) : 0;
    if (frame.length > capacity) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG,
                  "length in pkt header %lu bigger than buffer size %lu", frame.length, capacity);
        return -1;
    }
    std::copy(frame.payload, frame.payload + frame.length, buffer);
    *length = static_cast<long>(frame.length);
    return 0;
}

// Clears the pipes, then drops every transfer that still comes until none
// has for a moment.
int usbDrain(eph_iob* /*iob*/) {
    using Clock = std::chrono::steady_clock;
    g_refused.clear();
    if (!g_hUsb) {
        return -1;
    }
    usb_resetpipes(g_hUsb);
    const Clock::time_point began = Clock::now();
    std::vector<unsigned char> dropped(kUsbMaxTransfer);
    while (Clock::now() - began < kLongestDrain) {
        if (usb_read(g_hUsb, dropped.data(), kUsbMaxTransfer, kQuietMs) < 0) {
            return sys_lasterror() == ETIMEDOUT ? 0 : -1;
        }
    }
    return -1;
}

void usbReset(eph_iob* /*iob*/) {}

void usbClose(eph_iob* /*iob*/) {
    usb_closedevice();
}

}  // namespace

const eph_transport eph_usb_transport = {usbWrite, usbWritePacket, usbReadTimed, usbReadPacket,
                                         usbDrain, usbReset,       usbClose};
