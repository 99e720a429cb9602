#include "app/platform/sockets.h"

#include <csignal>

int InitSockets() {
    // A write to a connection the server has closed must come back as an
    // error, not end the program with SIGPIPE.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0 ? 0 : -1;
}
