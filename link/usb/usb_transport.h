// The USB transport inside the link: the open device and its transfers.
#pragma once

#include <atomic>

#include "link/platform/usb_device.h"

// The open USB device of the link, null when none.
extern UsbDevice* g_hUsb;
// While set, a failed packet write is not reported: probing devices that
// are not the camera must stay quiet.
extern std::atomic<int> g_bQuietWrite;

// Largest transfer: one packet of the largest payload.
inline constexpr int kUsbMaxTransfer = 32768;

// 0 when all bytes were written, 1 otherwise; the pipes are reset after.
int usb_write(UsbDevice* device, const unsigned char* data, int count);
// One transfer of at most count bytes within timeout_ms: the count read, or
// -1. With g_bThreadedComms on, the read runs on a reader thread.
int usb_read(UsbDevice* device, unsigned char* buffer, int count, long timeout_ms);
// Reads on a thread of its own; non-zero when the read succeeded in time.
// The thread is done with the buffer when this returns.
int usb_readthreaded(UsbDevice* device, unsigned char* buffer, int count, int* got,
                     void* overlapped, unsigned long timeout_ms);
void usb_resetpipes(UsbDevice* device);
