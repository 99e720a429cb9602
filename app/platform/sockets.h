// Getting the platform ready for the network connections the program makes
// (FTP publishing).
#pragma once

// 0 when the sockets layer is ready, -1 when it cannot be made ready.
int InitSockets();
