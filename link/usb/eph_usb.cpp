#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/eph.h"
#include "link/eph_transport.h"
#include "link/usb/usb_transport.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"

std::atomic<int> g_bFolders{0};

namespace {

constexpr int kUsbDevices = 100;
constexpr int kMaxDepth = 10;
constexpr std::size_t kPathSize = 256;
constexpr std::size_t kJoinCut = 254;
constexpr long kNameBuffer = 2048;
// Prints the walk as it goes; nothing sets it but a developer.
std::atomic<int> g_bVerbose{0};

}  // namespace

void usb_closedevice() {
    usbdev_close(g_hUsb);
    g_hUsb = nullptr;
}

int open_usb(eph_iob* iob) {
    iob->transport = &eph_usb_transport;
    for (int n = 0; n < kUsbDevices; ++n) {
        g_bQuietWrite = iob->debug == 0;
        g_hUsb = usbdev_open(n);
        if (!g_hUsb) {
            continue;
        }
        if (eph_setint(iob, 77, 32762) == 0) {
            g_bQuietWrite = 0;
            return 0;
        }
        usb_closedevice();
    }
    g_bQuietWrite = 0;
    std::fputs("open_usb failed\n", stderr);
    return -1;
}

eph_iob* eph_open(int port, long speed) {
    char portName[32];
    std::snprintf(portName, sizeof portName, "COM%1d:", port);
    // Progress has nothing to show here: the default does nothing.
    eph_iob* iob = eph_new(eph_system_error_cb, nullptr, nullptr, eph_system_store_cb, 0);
    if (!iob) {
        debug_output("failed to allocate");
        return nullptr;
    }
    // The switch is read once: the record keeps its cable to the end.
    const bool usb = g_bUseUsb != 0;
    if (!usb) {
        const std::string device = eph_portdevice(port);
        if (eph_openport(iob, device.c_str(), speed, 0, 0) != 0) {
            WriteLog("usb/eph_usb", __LINE__, "failed to initialize");
            eph_free(iob);
            return nullptr;
        }
    } else if (open_usb(iob) != 0) {
        WriteLog("usb/eph_usb", __LINE__, "failed to initialize USB");
        eph_free(iob);
        return nullptr;
    }
    if (eph_initfolders(iob) != 0) {
        WriteLog("usb/eph_usb", __LINE__, "failed to initialize");
        // Signed off, the camera listens for the next wake-up.
        eph_close(iob, 1);
        eph_free(iob);
        return nullptr;
    }
    return iob;
}

int eph_initfolders(eph_iob* iob) {
    // Each camera says anew whether it has folders; the last one's answer
    // must not stay.
    g_bFolders = 0;
    eph_setnullint(iob, 83);
    const unsigned char root = '\\';
    if (eph_setvar(iob, 84, &root, 1) == 0) {
        g_bFolders = 1;
    }
    if (g_bFolders && descend(iob, 0, "\\", FolderHasPictures) < 0) {
        return -1;
    }
    return 0;
}

int eph_chdir(eph_iob* iob, const char* path) {
    if (!g_bFolders) {
        std::fputs("no folders on this model\n", stderr);
        return -1;
    }
    char copy[kPathSize];
    std::snprintf(copy, sizeof copy, "%s", path);
    for (char* c = copy; *c; ++c) {
        if (*c == '/') {
            *c = '\\';
        }
    }
    if (copy[0] == '\\') {
        const unsigned char root = '\\';
        if (eph_setvar(iob, 84, &root, 1) != 0) {
            std::fputs("could not chdir to \"\\\"\n", stderr);
            return -1;
        }
    }
    for (char* part = copy; *part;) {
        char* end = std::strchr(part, '\\');
        const std::size_t length = end ? static_cast<std::size_t>(end - part) : std::strlen(part);
        if (length > 0) {
            if (eph_setvar(iob, 84, reinterpret_cast<const unsigned char*>(part),
                           static_cast<long>(length)) != 0) {
                std::fprintf(stderr, "could not chdir to \"%.*s\"\n", static_cast<int>(length),
                             part);
                return -1;
            }
        }
        part += length;
        if (*part == '\\') {
            ++part;
        }
    }
    return 0;
}

int FolderHasPictures(eph_iob* iob, const char* path) {
    std::int32_t count = 0;
    if (eph_getint(iob, 10, &count) != 0) {
        return -1;
    }
    return count != 0 && std::strlen(path) > 1 ? 1 : 0;
}

int descend(eph_iob* iob, int depth, const char* path, eph_each_fn each) {
    if (!g_bFolders) {
        return each(iob, path);
    }
    if (depth > kMaxDepth) {
        std::fprintf(stderr, "cannot be that deep (%d), error!\n", depth);
        return -1;
    }
    if (eph_chdir(iob, path) != 0) {
        std::fprintf(stderr, "chdir to \"%s\" failed\n", path);
        return -1;
    }
    if (const int r = each(iob, path); r != 0) {
        if (g_bVerbose) {
            std::printf("(*each)() returned %d\n", r);
        }
        return r;
    }
    // A count that cannot be read is no subfolders.
    std::int32_t folders = 0;
    eph_getint(iob, 83, &folders);
    if (g_bVerbose) {
        std::printf("descend: %s has %ld folders\n", path, static_cast<long>(folders));
    }
    if (folders <= 0) {
        return 0;
    }
    auto* name = static_cast<unsigned char*>(iob->realloc_cb(nullptr, kNameBuffer));
    if (!name) {
        return -1;
    }
    int result = 0;
    for (std::int32_t i = 1; i <= folders && result == 0; ++i) {
        eph_setint(iob, 83, i);
        long length = kNameBuffer;
        std::memset(name, 0, kNameBuffer);
        eph_getvar(iob, 84, &name, &length);
        if (length < 0 || length > kNameBuffer) {
            length = kNameBuffer;
        }
        // The name ends at its zero or with the reply, whichever comes first.
        const std::size_t nameLength =
            strnlen(reinterpret_cast<const char*>(name), static_cast<std::size_t>(length));
        if (g_bVerbose) {
            std::printf("depth=%4d i=%4ld:\n", depth, static_cast<long>(i));
        }
        std::string child(path, strnlen(path, kJoinCut));
        if (child.empty() || child.back() != '\\') {
            child += '\\';
        }
        child.append(reinterpret_cast<const char*>(name), std::min(nameLength, kJoinCut));
        while (child.size() > 1 && child.back() == ' ') {
            child.pop_back();
        }
        if (child.size() >= kPathSize) {
            child.resize(kPathSize - 1);
        }
        result = descend(iob, depth + 1, child.c_str(), each);
        if (result == 0 && eph_chdir(iob, path) != 0) {
            std::fprintf(stderr, "restore dir to \"%s\" failed\n", path);
            result = -1;
        }
    }
    iob->realloc_cb(name, 0);
    if (result == 0 && g_bVerbose) {
        std::printf("descend: full tree walked through\n");
    }
    return result;
}
