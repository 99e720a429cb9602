// The calling thread's last system error, as the platform keeps it: an errno
// value set by the platform layer after each call that can fail.
#pragma once

int sys_lasterror();
void sys_setlasterror(int error);
// The platform's text for an error number ("Success" for 0).
const char* sys_errortext(int error);
