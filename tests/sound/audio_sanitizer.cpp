// Built into the tests that open the audio input, under the sanitizers only;
// each sanitizer reads only its own hook.
// ALSA's plugins (loaded while PortAudio looks for the default input)
// allocate in their start-up code and keep it after ALSA unloads them again;
// the leak checker then finds it with no owner. It is not ours to free, and
// matching it by ALSA's library needs whole stacks of every allocation.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\n";
}

extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

// Debian's libpulse is not built for ThreadSanitizer: its own atomics and
// lock-free queues, used by the ALSA plugin's threads, read as races.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon\n"
           "race:libpulse.so\n";
}
