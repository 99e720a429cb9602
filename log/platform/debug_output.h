// The debug trace: texts for developers, never shown to the user and never
// written to the activity log.
#pragma once

// Writes the text to the debug channel: silent unless TULK_DEBUG is set in the
// environment (then standard error), and to the capture hook when one is set.
void debug_output(const char* text);

// Tests capture the debug trace through this hook (null removes it). The hook
// is called from whichever thread writes, so it must be thread-safe.
using DebugHook = void (*)(const char* text);
void set_debug_hook(DebugHook hook);
