// What the host took from the camera, read off its trace rather than from
// the link's results: the host's own writes close each exchange (an ACK
// takes the packet read just before it, a NAK refuses it), so the targets
// can hold what the link returns, and what a download saves, to what the
// host acknowledged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/camera_replies.h"
#include "tests/fuzz/host_trace.h"

// One unit the host wrote and what it read until its next one.
struct Step {
    Bytes unit;
    std::vector<Bytes> transfers;  // USB: each transfer read
    Bytes consumed;                // serial: every byte read
    std::vector<long> progress;    // the link's progress reports meanwhile
};

// The steps of the trace's events [from, to). Reads before the first write
// in the range belong to no step and are left out.
std::vector<Step> HostSteps(const std::vector<TraceEvent>& trace, std::size_t from, std::size_t to,
                            bool usb);

// A packet as it came: type, sequence, 16-bit length, payload, checksum.
// `holds` when the length field matches the bytes and the checksum the
// payload. The payload is every byte between header and checksum.
struct Packet {
    bool isPacket = false;  // at least a header and a checksum
    bool holds = false;
    unsigned char type = 0;
    unsigned char sequence = 0;
    Bytes payload;
};
Packet PacketOf(const Bytes& bytes);

// The packet the host read in the step: on USB its last transfer, on the
// serial line every byte it read there; null when it read nothing.
const Bytes* ReadInStep(const Step& step, bool usb);

bool IsAck(const Bytes& unit);
bool IsNak(const Bytes& unit);
// A command packet (0x1B, 0x43) with this command byte and register.
bool IsCommand(const Bytes& unit, int command, int reg);

struct IntTaken {
    bool asked = false;  // the command was written
    bool taken = false;  // and a value acknowledged
    std::int32_t value = 0;
    bool holds = true;  // the value's packet held its length and checksum
    std::string fault;  // the host acknowledged something no value can be
};
// The first getint of reg among the steps.
IntTaken GetintTaken(const std::vector<Step>& steps, int reg, bool usb);

struct VarTaken {
    bool asked = false;
    bool ended = false;  // the last packet (0x03) was acknowledged
    Bytes data;          // the payloads taken as new packets, in order
    bool allHold = true;
    std::string fault;  // acknowledgements out of sequence, progress that
                        // does not add up, a packet taken that cannot be one
};
// The last getvar of reg among the steps, to the next command.
VarTaken GetvarTaken(const std::vector<Step>& steps, int reg, bool usb);

// The host acknowledged a packet whose length field or checksum fails.
bool TookFailingPacket(const std::vector<Step>& steps, bool usb);

// On USB: a transfer of a whole packet's size in the trace's events [from,
// to) that fails its length or checksum and came before, byte for byte, in
// [0, its place) -- the only way the link may take a packet as doubtful.
bool SameFailingTransferAgain(const std::vector<TraceEvent>& trace, std::size_t from,
                              std::size_t to);

// On USB: every packet the host took though its length field or checksum
// fails must be the very transfer it refused just before -- in a getint,
// the reply before it to the same command; in a getvar, the transfer its
// last packet read brought (getints in between do not count). Empty when
// that holds, else the fault.
std::string TakenOnlyAsRepeats(const std::vector<Step>& steps);

// Prints the fault and the host's steps, then aborts, so that libFuzzer
// keeps the input.
void Require(bool holds, const std::string& fault, const std::vector<Step>& steps);
