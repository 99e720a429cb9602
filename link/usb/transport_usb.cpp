// The USB transport: one transfer is one packet, written without pacing and
// read whole; the device is closed at the end.
#include <algorithm>
#include <vector>

#include "link/eph.h"
#include "link/eph_frame.h"
#include "link/eph_transport.h"
#include "link/usb/usb_transport.h"
#include "log/platform/last_error.h"

namespace {

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

// The transfer delimits the packet: its length field and checksum are not
// looked at.
int usbReadPacket(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                  long /*timeout_us*/) {
    std::vector<unsigned char> transfer(kUsbMaxTransfer);
    const int n = usb_read(g_hUsb, transfer.data(), kUsbMaxTransfer, 1000);
    eph_frame frame;
    const eph_frame_status status =
        eph_decodepkt(transfer.data(), n > 0 ? static_cast<unsigned long>(n) : 0, true, &frame);
    if (n >= 1) {
        header[0] = frame.type;
    }
    if (n >= 2) {
        header[1] = frame.subtype;
    }
    if (status != EPH_FRAME_OK) {
        return -1;
    }
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

void usbReset(eph_iob* /*iob*/) {}

void usbClose(eph_iob* /*iob*/) {
    usb_closedevice();
}

}  // namespace

const eph_transport eph_usb_transport = {usbWrite,      usbWritePacket, usbReadTimed,
                                         usbReadPacket, usbReset,       usbClose};
