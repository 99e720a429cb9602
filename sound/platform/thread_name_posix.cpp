#include "sound/platform/thread_name.h"

#include <pthread.h>

void SetThreadName(const char* name) {
    pthread_setname_np(pthread_self(), name);
}
