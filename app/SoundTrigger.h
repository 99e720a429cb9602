// The sound trigger's state, shared by the window thread (the wait) and the
// capture thread (the level analyser); each value is read and written whole.
#pragma once

#include <atomic>
#include <cstdint>

class CBuffer;

// Peak of the buffer being analysed; capture thread to window.
extern std::atomic<std::int16_t> g_nSoundPeak;
// The slider's level; window to capture thread. 32767 at start-up.
extern std::atomic<std::int16_t> g_nSoundThreshold;
// The trigger fired (its picture taken); cleared by the window before a wait.
extern std::atomic<std::int16_t> g_bSoundTriggered;
// A wait is in progress.
extern std::atomic<std::int32_t> g_bTriggerRunning;
// The user asked the running wait to end.
extern std::atomic<std::int32_t> g_bTriggerStop;

// The level analyser: the highest positive sample of the buffer, with the
// negative ones overwritten by 0; at the threshold it takes the picture, on
// the capture thread, and marks the trigger fired. Buffers after that are not
// looked at.
void SoundLevelCallback(CBuffer* buffer, void* owner);
