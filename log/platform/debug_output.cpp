#include "log/platform/debug_output.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<DebugHook> g_hook{nullptr};

bool debugEnabled() {
    static const bool enabled = std::getenv("TULK_DEBUG") != nullptr;
    return enabled;
}
}  // namespace

void debug_output(const char* text) {
    if (DebugHook hook = g_hook.load()) {
        hook(text);
    }
    if (debugEnabled()) {
        std::fputs(text, stderr);
    }
}

void set_debug_hook(DebugHook hook) {
    g_hook.store(hook);
}
