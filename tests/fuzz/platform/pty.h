// A pseudo-terminal standing in for the camera's serial line.
#pragma once

#include <cstddef>
#include <vector>

struct FuzzLine {
    int camera = -1;  // the master side: what the camera would send goes in here
    int host = -1;    // the slave side, raw, as the link's port
};

// Opens the pair, both ends non-blocking; false when that fails.
bool OpenFuzzLine(FuzzLine* line);
// Puts the bytes on the line for the host to read, as many as fit; how
// many that was.
long SendToHost(const FuzzLine& line, const unsigned char* data, long count);
// Throws away whatever the host sent and the camera has not read.
void DrainFromHost(const FuzzLine& line);
// Throws away whatever the host has not read yet.
void DrainToHost(const FuzzLine& line);
// Reads what the host wrote, waiting up to timeout_ms for count bytes (the
// terminal passes them on a moment after the write); what came.
std::vector<unsigned char> ReceiveFromHost(const FuzzLine& line, std::size_t count, int timeout_ms);
// The bytes waiting at the host's end, as far as the terminal counts them.
std::size_t WaitingForHost(const FuzzLine& line);
// Waits up to timeout_ms until count bytes wait at the host's end (the
// terminal's count goes no higher than its buffer, 4095). False when they
// do not.
bool WaitUntilHostCanRead(const FuzzLine& line, std::size_t count, int timeout_ms);
