#include "link/platform/precise_sleep.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

void precise_sleep_ns(long long nanoseconds) {
    if (nanoseconds <= 0) {
        return;
    }
    // The default slack of 50 us would stretch every pause of the line pacing.
    thread_local const bool slackSet = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)slackSet;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec += static_cast<long>(nanoseconds % 1000000000);
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_nsec -= 1000000000;
        deadline.tv_sec += 1;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
