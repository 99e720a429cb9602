// The camera's end of the USB cable as the link looks for it: a
// SOCK_SEQPACKET socket at <runtime>/tulk/usbscan0, one message a transfer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct FuzzUsbEnd {
    int listener = -1;
    int camera = -1;  // the connection the host made, once taken
};

// Makes <runtime>/tulk (mode 0700) and listens on usbscan0 in it; false when
// that fails.
bool ListenFuzzUsb(FuzzUsbEnd* end, const std::string& runtime);
// The next message the host sent; false when none waits. The host's
// connection is taken first when it waits to be.
bool ReceiveFromUsbHost(FuzzUsbEnd* end, std::vector<unsigned char>* message);
// One transfer to the host; false when it could not go (no host, or its
// queue is full).
bool SendToUsbHost(const FuzzUsbEnd& end, const unsigned char* data, std::size_t count);

// Closes the host's connection, as a camera that goes away; the next one
// the host makes is taken as ever.
void HangUpUsb(FuzzUsbEnd* end);

// A new private folder under /tmp whose name begins with prefix; empty when
// it cannot be made.
std::string MakePrivateFolder(const std::string& prefix);
// Makes the folder (mode 0700); true when it is there.
bool MakeFolder(const std::string& path);
