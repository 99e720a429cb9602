#include "link/platform/give_up.h"

#include <atomic>
#include <cstdint>

namespace {

// Longer than the camera is ever quiet while it works (a capture, a busy
// answer), far shorter than the link's own time-outs.
constexpr auto kLongestSilence = std::chrono::seconds(3);

std::atomic<bool> g_bQuitting{false};
std::atomic<bool> g_bGaveUp{false};
std::atomic<std::int64_t> g_nLongestSilenceUs{0};

// The wait wakes this often to see whether it is cut short.
constexpr auto kSlice = std::chrono::milliseconds(100);

}  // namespace

void link_set_quitting(bool quitting) {
    g_bQuitting = quitting;
    g_bGaveUp = false;
}

bool link_wait_cut(std::chrono::steady_clock::time_point began) {
    if (const std::int64_t limit = g_nLongestSilenceUs;
        limit > 0 && std::chrono::steady_clock::now() - began >= std::chrono::microseconds(limit)) {
        return true;
    }
    if (!g_bQuitting) {
        return false;
    }
    if (g_bGaveUp || std::chrono::steady_clock::now() - began >= kLongestSilence) {
        g_bGaveUp = true;
        return true;
    }
    return false;
}

bool link_gave_up() {
    return g_bGaveUp;
}

void link_set_longest_silence(std::chrono::microseconds limit) {
    g_nLongestSilenceUs = limit.count();
}

std::chrono::microseconds link_wait_slice() {
    const std::int64_t limit = g_nLongestSilenceUs;
    return limit > 0 && std::chrono::microseconds(limit) < kSlice ? std::chrono::microseconds(limit)
                                                                  : kSlice;
}
