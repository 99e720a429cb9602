#include "LinkHealth.h"

#include "eph.h"

namespace {

// Camera thread only, but the link's callback may run on a USB reader
// thread: atomics.
std::atomic<int> g_systemErrors{0};
std::atomic<int> g_timeouts{0};
int g_jobsTimingOut = 0;

// A silent camera times out in one job now and then (a busy card); in
// this many jobs in a row it is gone.
constexpr int kJobsTimingOut = 2;

}  // namespace

void LinkHealthErrorCallback(int code, const char* message) {
    if (code == EPH_ERR_TIMEOUT) {
        ++g_timeouts;
    } else if (code > 0 && code < EPH_ERR_DATA_TOO_LONG) {
        // An errno value: the platform refused a read or a write.
        ++g_systemErrors;
    }
    eph_system_error_cb(code, message);
}

void LinkHealthBeginJob() {
    g_systemErrors = 0;
    g_timeouts = 0;
}

bool LinkHealthEndJob() {
    if (g_systemErrors > 0) {
        return true;
    }
    g_jobsTimingOut = g_timeouts > 0 ? g_jobsTimingOut + 1 : 0;
    return g_jobsTimingOut >= kJobsTimingOut;
}

void LinkHealthReset() {
    g_systemErrors = 0;
    g_timeouts = 0;
    g_jobsTimingOut = 0;
}
