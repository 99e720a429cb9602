// The camera's side of the cable as the fuzz input plays it: each unit the
// host writes is answered with the next reply of the script, and the reply
// is in place before the host can read again. Once the script is done the
// camera is silent on the serial line; on USB it goes away (its connection
// closed) at the next unit, which the host finds out at once rather than
// after a time-out for each read, and the target opens the link again.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "tests/fuzz/camera_replies.h"
#include "tests/fuzz/platform/pty.h"
#include "tests/fuzz/platform/usb_end.h"

// Splits what the host writes into the units it means: a packet (type,
// subtype, 16-bit little-endian length, payload, 16-bit checksum) or a single
// control byte. The serial link writes a packet in three pieces.
class HostUnits {
public:
    // Adds the bytes; each unit they complete is appended to units.
    void feed(const unsigned char* data, std::size_t count, std::vector<Bytes>* units);
    void clear() { partial_.clear(); }

private:
    Bytes partial_;
};

// The packet types the host writes; any other byte is a control byte.
bool IsHostPacketType(unsigned char byte);

// The camera answers on this cable from now on (installs the host write
// hook of host_trace.h).
void ServeUsbScript(FuzzUsbEnd* end);
void ServeSerialScript(const FuzzLine* line);
// A new script; the host's half-written unit, if any, is forgotten.
void PlayScript(std::deque<Reply> replies);
// The USB camera went away since PlayScript.
bool HungUp();
