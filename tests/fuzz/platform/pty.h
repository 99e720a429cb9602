// A pseudo-terminal standing in for the camera's serial line.
#pragma once

struct FuzzLine {
    int camera = -1;  // the master side: what the camera would send goes in here
    int host = -1;    // the slave side, raw, as the link's port
};

// Opens the pair, both ends non-blocking; false when that fails.
bool OpenFuzzLine(FuzzLine* line);
// Puts the bytes on the line for the host to read, as many as fit.
void SendToHost(const FuzzLine& line, const unsigned char* data, long count);
// Throws away whatever the host sent and the camera has not read.
void DrainFromHost(const FuzzLine& line);
// Throws away whatever the host has not read yet.
void DrainToHost(const FuzzLine& line);
