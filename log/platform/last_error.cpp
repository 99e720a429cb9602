#include "log/platform/last_error.h"

#include <cstring>

namespace {
// Kept apart from errno: the C library changes errno in calls that succeed,
// and the link reports the error of the platform call that failed.
thread_local int t_lastError = 0;
thread_local char t_text[256];
}  // namespace

int sys_lasterror() {
    return t_lastError;
}

void sys_setlasterror(int error) {
    t_lastError = error;
}

const char* sys_errortext(int error) {
    // The GNU strerror_r may return a static string instead of filling t_text.
    const char* text = strerror_r(error, t_text, sizeof t_text);
    return text ? text : "";
}
