// Measures how well eph_usleep holds the line-pacing delays: for each delay,
// the requested and the actual pause (median and 99th percentile) and the
// processor time the sleeping thread used per second of waiting.
//
// Usage: bench_usleep [repetitions per delay, default 2000]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/eph.h"

namespace {

double nowUs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t at =
        std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
    return v[at];
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::atoi(argv[1]) : 2000;
    const long delays[] = {1250, 1500, 2000, 100000};
    std::printf("%-10s %8s %12s %12s %12s %18s\n", "requested", "reps", "median us", "p99 us",
                "median/req", "cpu ms per s wait");
    for (const long delay : delays) {
        // The long pause needs fewer repetitions to say the same.
        const int n = delay >= 100000 ? std::max(10, reps / 100) : reps;
        std::vector<double> actual;
        actual.reserve(static_cast<std::size_t>(n));
        const double cpuStart = nowUs(CLOCK_THREAD_CPUTIME_ID);
        const double wallStart = nowUs(CLOCK_MONOTONIC);
        for (int i = 0; i < n; ++i) {
            const double t0 = nowUs(CLOCK_MONOTONIC);
            eph_usleep(delay);
            actual.push_back(nowUs(CLOCK_MONOTONIC) - t0);
        }
        const double wall = nowUs(CLOCK_MONOTONIC) - wallStart;
        const double cpu = nowUs(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
        const double median = percentile(actual, 0.5);
        std::printf("%-10ld %8d %12.1f %12.1f %12.4f %18.2f\n", delay, n, median,
                    percentile(actual, 0.99), median / static_cast<double>(delay),
                    cpu / wall * 1000.0);
    }
    return 0;
}
