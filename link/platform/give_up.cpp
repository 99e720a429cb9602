#include "link/platform/give_up.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace {

// Longer than the camera is ever quiet while it works (a capture, a busy
// answer), far shorter than the link's own time-outs.
constexpr auto kLongestSilence = std::chrono::seconds(3);

std::atomic<bool> g_bQuitting{false};
std::atomic<bool> g_bGaveUp{false};
std::atomic<std::int64_t> g_nLongestSilenceUs{0};
// When the quit began and when the camera last sent a byte (steady clock).
std::atomic<std::chrono::steady_clock::rep> g_nQuitSince{0};
std::atomic<std::chrono::steady_clock::rep> g_nLastHeard{0};

// The wait wakes this often to see whether it is cut short.
constexpr auto kSlice = std::chrono::milliseconds(100);

}  // namespace

void link_set_quitting(bool quitting) {
    g_nQuitSince = std::chrono::steady_clock::now().time_since_epoch().count();
    g_bQuitting = quitting;
    g_bGaveUp = false;
}

void link_heard() {
    g_nLastHeard = std::chrono::steady_clock::now().time_since_epoch().count();
}

bool link_wait_cut(std::chrono::steady_clock::time_point began) {
    if (const std::int64_t limit = g_nLongestSilenceUs;
        limit > 0 && std::chrono::steady_clock::now() - began >= std::chrono::microseconds(limit)) {
        return true;
    }
    if (!g_bQuitting) {
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::rep quiet = std::max(g_nQuitSince.load(), g_nLastHeard.load());
    const Clock::time_point now = Clock::now();
    if (g_bGaveUp || now - began >= kLongestSilence ||
        now - Clock::time_point(Clock::duration(quiet)) >= kLongestSilence) {
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
