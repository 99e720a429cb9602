// The camera's USB connection as the link sees it: a device opened by
// number, read and written in whole transfers, with a pipe reset.
//
// Device n is the n-th camera found: a SOCK_SEQPACKET socket at
// $XDG_RUNTIME_DIR/tulk/usbscan<n> first (one message is one transfer; this
// is how the simulated camera presents itself), otherwise the n-th
// still-image class interface that libusb finds, through its bulk endpoints.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct UsbDevice;

// Opens device n, or returns null with the thread's last error set.
UsbDevice* usbdev_open(int n);
void usbdev_close(UsbDevice* device);

// Writes one transfer. False (last error set) when it failed or was short.
bool usbdev_write(UsbDevice* device, const unsigned char* data, std::uint32_t count);
// Reads one transfer of at most count bytes. It ends with the transfer, when
// timeout_ms has passed (negative: no limit), or, on the socket, soon after
// *cancel becomes true; only a transfer counts as success (last error
// ETIMEDOUT or ECANCELED otherwise). A transfer longer than count fails with
// EMSGSIZE on the socket.
bool usbdev_read(UsbDevice* device, unsigned char* buffer, std::uint32_t count, std::uint32_t* got,
                 int timeout_ms, const std::atomic<bool>* cancel);
// Clears a stall on both pipes.
void usbdev_resetpipes(UsbDevice* device);

// Where the socket of device n is.
std::string usbdev_socketpath(int n);

// The link's one open USB device (g_hUsb), closed by eph_close.
void usb_closedevice();
