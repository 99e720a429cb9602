#include "link/eph.h"
#include "link/platform/precise_sleep.h"

void eph_usleep(long microseconds) {
    if (microseconds > 1000000) {
        // Long pauses count in whole milliseconds.
        precise_sleep_ns((microseconds / 1000) * 1000000LL);
        return;
    }
    precise_sleep_ns(microseconds * 1000LL);
}
