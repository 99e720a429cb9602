// The cable under the link: the primitives that differ between the serial
// line and USB, one table each. A record starts on the serial table (a port
// opened with eph_openport); eph_open chooses by g_bUseUsb, read once, and
// the USB open puts the USB table in. Everything above (packets, commands,
// folders) calls through the record's table.
#pragma once

#include "link/eph.h"

struct eph_transport {
    // Writes the bytes; 0 when all went out, 1 otherwise.
    int (*write)(eph_iob* iob, const unsigned char* data, int count);
    // Sends one encoded packet, paced as the cable needs; 0, or -1 reported.
    int (*writepkt)(eph_iob* iob, const std::vector<unsigned char>& packet);
    // eph_readtimed on this cable.
    int (*readtimed)(eph_iob* iob, unsigned char* buffer, int count, long timeout_us,
                     int* got_data);
    // eph_readpkt on this cable.
    int (*readpkt)(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                   long timeout_us);
    // eph_drain on this cable.
    int (*drain)(eph_iob* iob);
    // Closing without a sign-off: puts the camera's line back as the cable
    // needs for the next wake-up.
    void (*reset)(eph_iob* iob);
    // Gives the cable back as it was found.
    void (*close)(eph_iob* iob);
};

extern const eph_transport eph_serial_transport;
extern const eph_transport eph_usb_transport;

// The record's cable is the USB device.
inline bool eph_onusb(const eph_iob* iob) {
    return iob->transport == &eph_usb_transport;
}
