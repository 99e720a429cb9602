#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "link/eph.h"
#include "link/eph_transport.h"
#include "link/platform/give_up.h"
#include "link/usb/usb_transport.h"
#include "log/platform/debug_output.h"
#include "log/platform/last_error.h"

int eph_readtimed(eph_iob* iob, unsigned char* buffer, int count, long timeout_us, int* got_data) {
    if (count <= 0) {
        return 0;
    }
    return iob->transport->readtimed(iob, buffer, count, timeout_us, got_data);
}

// ---------------------------------------------------------------------------
// USB transfers

std::atomic<int> g_bUseUsb{0};
std::atomic<int> g_bThreadedComms{0};
std::atomic<int> g_bQuietWrite{0};
UsbDevice* g_hUsb = nullptr;

void eph_resetswitches() {
    g_bUseUsb = 0;
    g_bThreadedComms = 0;
    g_bQuietWrite = 0;
    g_bFolders = 0;
}

void usb_resetpipes(UsbDevice* device) {
    usbdev_resetpipes(device);
}

int usb_write(UsbDevice* device, const unsigned char* data, int count) {
    const bool ok =
        device && count >= 0 && usbdev_write(device, data, static_cast<std::uint32_t>(count));
    if (!ok) {
        if (!device) {
            sys_setlasterror(ENODEV);
        }
        std::string text = sys_errortext(sys_lasterror());
        text += "\n";
        debug_output(text.c_str());
    }
    if (device) {
        usb_resetpipes(device);
    }
    return ok ? 0 : 1;
}

int usb_readthreaded(UsbDevice* device, unsigned char* buffer, int count, int* got,
                     void* /*overlapped*/, unsigned long timeout_ms) {
    struct Request {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool ok = false;
        int error = 0;
        std::uint32_t got = 0;
        std::atomic<bool> cancel{false};
    } request;
    const int limit = timeout_ms > 0x7FFFFFFFul ? 0x7FFFFFFF : static_cast<int>(timeout_ms);
    std::thread reader;
    try {
        reader = std::thread([&] {
            std::uint32_t n = 0;
            const bool ok = usbdev_read(device, buffer, static_cast<std::uint32_t>(count), &n,
                                        limit, &request.cancel);
            std::lock_guard lock(request.mutex);
            request.ok = ok;
            request.error = sys_lasterror();
            request.got = n;
            request.done = true;
            request.finished.notify_one();
        });
    } catch (const std::system_error& e) {
        // No thread to be had: the read did not happen.
        sys_setlasterror(e.code().value());
        return 0;
    }
    bool late = false;
    {
        std::unique_lock lock(request.mutex);
        if (!request.finished.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [&] { return request.done; })) {
            request.cancel = true;
            late = true;
        }
    }
    // The reader must be done with the caller's buffer before it is given
    // back. A transfer that made it in the moment of the time-out is kept
    // rather than lost.
    reader.join();
    if (!request.ok) {
        sys_setlasterror(late ? ETIMEDOUT : request.error);
        return 0;
    }
    *got = static_cast<int>(request.got);
    return 1;
}

int usb_read(UsbDevice* device, unsigned char* buffer, int count, long timeout_ms) {
    if (!device || count < 0) {
        sys_setlasterror(ENODEV);
        return -1;
    }
    int got = 0;
    bool ok = false;
    if (g_bThreadedComms) {
        ok = usb_readthreaded(device, buffer, count, &got, nullptr,
                              static_cast<unsigned long>(timeout_ms < 0 ? 0 : timeout_ms)) != 0;
    } else {
        std::uint32_t n = 0;
        ok = usbdev_read(device, buffer, static_cast<std::uint32_t>(count), &n,
                         static_cast<int>(timeout_ms), nullptr);
        got = static_cast<int>(n);
    }
    if (!ok) {
        return -1;
    }
    link_heard();
    usb_resetpipes(device);
    return got;
}
