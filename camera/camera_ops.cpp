#include "camera/camera_ops.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "camera/link_buffer.h"
#include "camera/platform/file_writer.h"
#include "camera/registers.h"
#include "camera/transfer_progress.h"
#include "log/activity_log.h"

eph_iob* g_iob = nullptr;

namespace {

thread_local int t_linkDepth = 0;
std::atomic<LinkWaitCheck> g_linkWaitCheck{nullptr};

}  // namespace

void LinkMutex::lock() {
    if (t_linkDepth == 0) {
        if (const LinkWaitCheck check = g_linkWaitCheck.load()) {
            check();
        }
    }
    mutex_.lock();
    ++t_linkDepth;
}

void LinkMutex::unlock() {
    --t_linkDepth;
    mutex_.unlock();
}

bool LinkMutex::try_lock() {
    if (!mutex_.try_lock()) {
        return false;
    }
    ++t_linkDepth;
    return true;
}

LinkMutex& LinkLock() {
    static LinkMutex lock;
    return lock;
}

bool LinkHeldByThisThread() {
    return t_linkDepth > 0;
}

void SetLinkWaitCheck(LinkWaitCheck check) {
    g_linkWaitCheck = check;
}

namespace {

constexpr long kChunk = 2048;

std::int32_t littleEndian32(const unsigned char* b) {
    return static_cast<std::int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                     (static_cast<std::uint32_t>(b[3]) << 24));
}

// What the last successful zoom read said; a read that fails with another
// status than -1 answers with it.
int g_lastZoom = 0;

}  // namespace

int GetFrameCount(eph_iob* iob) {
    std::lock_guard lock(LinkLock());
    std::int32_t second = 0;
    std::int32_t first = 0;
    if (eph_getint(iob, C990_NUMFRAMES2, &second) != 0) {
        second = -1;
    }
    if (eph_getint(iob, C990_NUMFRAMES, &first) != 0) {
        first = -1;
    }
    return first > second ? first : second;
}

int GetFramesLeft() {
    std::lock_guard lock(LinkLock());
    std::int32_t left = 0;
    eph_getint(g_iob, C990_FRAMESLEFT, &left);
    return left;
}

int SavePreviewToFile(const char* path) {
    std::lock_guard lock(LinkLock());
    bool written = false;
    bool closed = false;
    {
        LinkBuffer buffer(g_iob, kChunk);
        FileWriter file(path);
        std::int32_t length = 0;
        long received = kChunk;
        const unsigned char none = 0;
        // The picture's bytes, announced to whoever shows progress.
        auto receive = [&] {
            CurrentTransfer().Begin(path, length);
            return eph_getvar(g_iob, C990_FRAMEDATA, &buffer.data, &received);
        };
        if (!buffer.data) {
            std::snprintf(g_szErrorText, kErrorTextSize, "could not alloc %lu bytes\n",
                          static_cast<unsigned long>(kChunk));
            WriteLog("camera_ops", __LINE__, g_szErrorText);
        } else if (!file.open()) {
            std::snprintf(g_szErrorText, kErrorTextSize,
                          "Failed to open preview file for write (%s)", path);
            WriteLog("camera_ops", __LINE__, g_szErrorText);
        } else if (eph_action(g_iob, C990_C2_PREVIEW, &none, 1) != 0) {
            WriteLog("camera_ops", __LINE__, "C990_C2_PREVIEW failed");
        } else if (eph_setint(g_iob, C990_CURRENTFRAME, 0) != 0) {
            WriteLog("camera_ops", __LINE__, "C990_CURRENTFRAME failed");
        } else if (eph_getint(g_iob, C990_LENGTHFRAME, &length) != 0) {
            WriteLog("camera_ops", __LINE__, "C990_LENGTHFRAME failed");
        } else if (receive() != 0) {
            WriteLog("camera_ops", __LINE__, "C990_FRAMEDATA failed");
        } else if (!file.write(buffer.data, received)) {
            WriteLog("camera_ops", __LINE__, "Write failed");
        } else {
            written = true;
        }
        if (written) {
            closed = file.commit();
            if (!closed) {
                WriteLog("camera_ops", __LINE__, "Close failed");
            }
        }
        // An earlier preview under this name would pass for the new one.
        if (!closed) {
            file.discard(true);
        }
    }
    if (!written || !closed) {
        ShowMessage("Failed to save preview file to disk!, probably out of disk space",
                    MB_OKCANCEL);
        return -1;
    }
    return 0;
}

int SetShutterSpeed(long value) {
    std::lock_guard lock(LinkLock());
    const int status = eph_setint(g_iob, SHUTTERSPEED, static_cast<std::int32_t>(value));
    if (status == -1) {
        std::snprintf(g_szErrorText, kErrorTextSize, "SHUTTERSPEED failed");
        WriteLog("camera_ops", __LINE__, g_szErrorText);
    }
    return status;
}

int GetZoom() {
    std::lock_guard lock(LinkLock());
    LinkBuffer buffer(g_iob, kChunk);
    if (!buffer.data) {
        WriteLog("camera_ops", __LINE__, "Get Zoom failed");
        return 100;
    }
    long length = kChunk;
    const int status = eph_getvar(g_iob, C990_ZOOM, &buffer.data, &length);
    if (status == -1) {
        WriteLog("camera_ops", __LINE__, "Get Zoom failed");
        return 100;
    }
    if (status == 0 && length >= 4) {
        g_lastZoom = littleEndian32(buffer.data);
    }
    return g_lastZoom;
}

int SetZoom(double zoom) {
    if (!(zoom > 0)) {
        return -1;
    }
    std::lock_guard lock(LinkLock());
    // Factors beyond what the register holds are sent as its largest value.
    const double tenths = 10 * zoom - 0.5;
    const auto numerator =
        tenths >= 2147483647.0 ? std::int32_t{2147483647} : static_cast<std::int32_t>(tenths);
    const auto n = static_cast<std::uint32_t>(numerator);
    const unsigned char data[8] = {static_cast<unsigned char>(n & 0xFF),
                                   static_cast<unsigned char>((n >> 8) & 0xFF),
                                   static_cast<unsigned char>((n >> 16) & 0xFF),
                                   static_cast<unsigned char>((n >> 24) & 0xFF),
                                   10,
                                   0,
                                   0,
                                   0};
    const int status = eph_setvar(g_iob, C990_ZOOM, data, sizeof data);
    if (status == -1) {
        std::snprintf(g_szErrorText, kErrorTextSize, "Zoom failed %g", zoom);
        WriteLog("camera_ops", __LINE__, g_szErrorText);
    }
    return status;
}
