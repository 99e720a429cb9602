// The small camera operations on the open link g_iob: picture counts, the
// preview picture, the shutter speed and the zoom.
#pragma once

#include <mutex>

#include "link/eph.h"

// The one open link, owned by the controller from a successful Connect to
// the next Connect or the end of the program.
extern eph_iob* g_iob;

// The camera link's lock: one camera operation at a time, whichever thread
// asks. Every operation of the camera and controller layers holds it; it is
// recursive so that an operation may call another. It knows which thread
// holds it, so that the controller can check its threading rule: a thread
// that holds the link never waits for the window, and the window thread
// never waits for the link.
class LinkMutex {
public:
    void lock();
    void unlock();
    bool try_lock();

private:
    std::recursive_mutex mutex_;
};
LinkMutex& LinkLock();
// This thread holds the link.
bool LinkHeldByThisThread();
// Called before a thread begins to wait for the link (not when it already
// holds it); the controller installs a check that the caller may wait. Null
// removes it.
using LinkWaitCheck = void (*)();
void SetLinkWaitCheck(LinkWaitCheck check);

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
