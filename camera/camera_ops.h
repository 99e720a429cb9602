// The small camera operations on the open link g_iob: picture counts, the
// preview picture, the shutter speed and the zoom.
#pragma once

#include <mutex>

#include "eph.h"

// The one open link, owned by the controller from a successful Connect to
// the next Connect or the end of the program.
extern eph_iob* g_iob;

// One camera operation at a time on the link, whichever thread asks. Every
// operation of the camera and controller layers holds it; it is recursive
// so that an operation may call another.
std::recursive_mutex& LinkLock();

// The larger of the two picture counters; a counter that cannot be read
// counts as -1.
int GetFrameCount(eph_iob* iob);
// The camera's room for more pictures, 0 when it cannot be read.
int GetFramesLeft();
// Has the camera take a preview picture and writes it to the file. The
// file is written whole or not at all. 0 or -1 (with a message box).
int SavePreviewToFile(const char* path);
// Writes the shutter speed register; the link status.
int SetShutterSpeed(long value);
// The zoom times ten; 100 when the read fails.
int GetZoom();
// Sends a zoom factor (in tenths, denominator 10); -1 without sending when
// the factor is not above 0.
int SetZoom(double zoom);
