// The wrappers take the place of the link's device calls at link time
// (--wrap): the link itself is unchanged and still reads the real socket or
// terminal; the names below are the calls' own (mangled) names, so a change
// of their signatures fails the link rather than passing untraced.
#include "tests/fuzz/host_trace.h"

#include <atomic>
#include <cstdint>

#include "link/platform/usb_device.h"

bool RealUsbRead(UsbDevice* device, unsigned char* buffer, std::uint32_t count, std::uint32_t* got,
                 int timeout_ms,
                 const std::atomic<bool>*
                     cancel) __asm__("__real__Z11usbdev_readP9UsbDevicePhjPjiPKSt6atomicIbE");
bool RealUsbWrite(UsbDevice* device, const unsigned char* data,
                  std::uint32_t count) __asm__("__real__Z12usbdev_writeP9UsbDevicePKhj");
bool RealSerialRead(int fd, unsigned char* buffer, std::uint32_t count,
                    std::uint32_t* got) __asm__("__real__Z11serial_readiPhjPj");
bool RealSerialWrite(int fd, const unsigned char* data, std::uint32_t count,
                     std::uint32_t* written) __asm__("__real__Z12serial_writeiPKhjPj");

bool TracedUsbRead(UsbDevice* device, unsigned char* buffer, std::uint32_t count,
                   std::uint32_t* got, int timeout_ms,
                   const std::atomic<bool>*
                       cancel) __asm__("__wrap__Z11usbdev_readP9UsbDevicePhjPjiPKSt6atomicIbE");
bool TracedUsbWrite(UsbDevice* device, const unsigned char* data,
                    std::uint32_t count) __asm__("__wrap__Z12usbdev_writeP9UsbDevicePKhj");
bool TracedSerialRead(int fd, unsigned char* buffer, std::uint32_t count,
                      std::uint32_t* got) __asm__("__wrap__Z11serial_readiPhjPj");
bool TracedSerialWrite(int fd, const unsigned char* data, std::uint32_t count,
                       std::uint32_t* written) __asm__("__wrap__Z12serial_writeiPKhjPj");

namespace {

HostWriteHook g_hook = nullptr;

void recordRead(bool ok, const unsigned char* buffer, std::uint32_t got) {
    TraceEvent event;
    event.kind = TraceEvent::Read;
    event.ok = ok;
    // A serial read that fails part-way has still taken what came before.
    event.bytes.assign(buffer, buffer + got);
    HostTrace().push_back(std::move(event));
}

// A write that failed is kept too: it is what the host meant (an ACK it
// could not send still says it took the packet), though no camera heard it.
void recordWrite(bool ok, const unsigned char* data, std::uint32_t count, std::uint32_t delivered) {
    TraceEvent event;
    event.kind = TraceEvent::Write;
    event.ok = ok;
    event.bytes.assign(data, data + count);
    HostTrace().push_back(std::move(event));
    if (g_hook && delivered > 0) {
        g_hook(data, delivered);
    }
}

}  // namespace

std::vector<TraceEvent>& HostTrace() {
    static std::vector<TraceEvent> trace;
    return trace;
}

void TraceProgress(int bytes) {
    TraceEvent event;
    event.kind = TraceEvent::Progress;
    event.progress = bytes;
    HostTrace().push_back(std::move(event));
}

void SetHostWriteHook(HostWriteHook hook) {
    g_hook = hook;
}

bool UntracedUsbRead(UsbDevice* device, unsigned char* buffer, unsigned count, unsigned* got,
                     int timeout_ms) {
    std::uint32_t n = 0;
    const bool ok = RealUsbRead(device, buffer, count, &n, timeout_ms, nullptr);
    *got = n;
    return ok;
}

bool TracedUsbRead(UsbDevice* device, unsigned char* buffer, std::uint32_t count,
                   std::uint32_t* got, int timeout_ms, const std::atomic<bool>* cancel) {
    const bool ok = RealUsbRead(device, buffer, count, got, timeout_ms, cancel);
    recordRead(ok, buffer, *got);
    return ok;
}

bool TracedUsbWrite(UsbDevice* device, const unsigned char* data, std::uint32_t count) {
    const bool ok = RealUsbWrite(device, data, count);
    recordWrite(ok, data, count, ok ? count : 0);
    return ok;
}

bool TracedSerialRead(int fd, unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
    const bool ok = RealSerialRead(fd, buffer, count, got);
    recordRead(ok, buffer, *got);
    return ok;
}

bool TracedSerialWrite(int fd, const unsigned char* data, std::uint32_t count,
                       std::uint32_t* written) {
    const bool ok = RealSerialWrite(fd, data, count, written);
    recordWrite(ok, data, count, *written);
    return ok;
}
