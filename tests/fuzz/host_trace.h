// What the host did on its cable, in its own order: every write, every read
// with what it brought, and every progress report of the link. The fuzz
// targets and the seed recorder link with wrappers around the link's device
// calls (usbdev_read/usbdev_write on USB, serial_read/serial_write on the
// serial line; see CMakeLists.txt), which keep this record and hand each
// write to the camera's side before the host can read again.
#pragma once

#include <cstddef>
#include <vector>

#include "tests/fuzz/camera_replies.h"

struct TraceEvent {
    enum Kind { Write, Read, Progress };
    Kind kind = Write;
    // A read that failed brought nothing (on USB a transfer too long for
    // the read is consumed all the same, unseen); a write that failed is
    // what the host meant to write, which no camera heard.
    bool ok = true;
    Bytes bytes;
    long progress = 0;
};

std::vector<TraceEvent>& HostTrace();

// The link's progress callback of the traced record.
void TraceProgress(int bytes);

// Called after each host write with the bytes that went out (none for a
// write that failed): the camera's
// side answers there, so that its reply is in place before the host's next
// read, as a real camera's is well within the link's time-outs. Null: the
// record only.
using HostWriteHook = void (*)(const unsigned char* data, std::size_t count);
void SetHostWriteHook(HostWriteHook hook);

// The reads of the cable untraced, for the target's own housekeeping.
struct UsbDevice;
bool UntracedUsbRead(UsbDevice* device, unsigned char* buffer, unsigned count, unsigned* got,
                     int timeout_ms);
