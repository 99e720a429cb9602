#include "app/LinkHealth.h"

#include <atomic>
#include <cerrno>

#include "link/eph.h"

namespace {

// Counted on the camera thread, or on a USB reader thread of the link.
std::atomic<int> g_platformErrors{0};
std::atomic<int> g_timeouts{0};
std::atomic<int> g_otherReports{0};
int g_jobsTimingOut = 0;

// A camera that misses a reply now and then (a busy card) still works;
// time-outs in this many jobs in a row mean it is gone.
constexpr int kJobsTimingOut = 3;

}  // namespace

void LinkHealthErrorCallback(int code, const char* message) {
    // A serial read that times out reports its errno, ETIMEDOUT.
    if (code == EPH_ERR_TIMEOUT || code == ETIMEDOUT) {
        ++g_timeouts;
    } else if (code > 0 && code < EPH_ERR_DATA_TOO_LONG && code != EINTR && code != EAGAIN) {
        // The platform refused a read or a write: the device is gone.
        ++g_platformErrors;
    } else {
        ++g_otherReports;
    }
    eph_system_error_cb(code, message);
}

void LinkHealthBeginJob() {
    g_platformErrors = 0;
    g_timeouts = 0;
    g_otherReports = 0;
}

LinkState LinkHealthEndJob() {
    if (g_platformErrors > 0) {
        return LinkState::Failing;
    }
    if (g_timeouts > 0) {
        ++g_jobsTimingOut;
        return g_jobsTimingOut >= kJobsTimingOut ? LinkState::Failing : LinkState::Unsure;
    }
    g_jobsTimingOut = 0;
    return g_otherReports > 0 ? LinkState::Unsure : LinkState::Answering;
}

void LinkHealthReset() {
    LinkHealthBeginJob();
    g_jobsTimingOut = 0;
}
