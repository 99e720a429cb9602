#include "platform/give_up.h"

#include <atomic>

namespace {

// Longer than the camera is ever quiet while it works (a capture, a busy
// answer), far shorter than the link's own time-outs.
constexpr auto kLongestSilence = std::chrono::seconds(3);

std::atomic<bool> g_bQuitting{false};
std::atomic<bool> g_bGaveUp{false};

}  // namespace

void link_set_quitting(bool quitting) {
    g_bQuitting = quitting;
    g_bGaveUp = false;
}

bool link_wait_cut(std::chrono::steady_clock::time_point began) {
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
