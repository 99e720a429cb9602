#include "camera/picture_steps.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/link_buffer.h"
#include "camera/registers.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"

namespace {

constexpr long kNameSize = 256;
constexpr long kModelSize = 2048;

}  // namespace

bool CameraActionOnLink(eph_iob* iob, int action, unsigned char arg, const char* failedLine) {
    std::lock_guard lock(LinkLock());
    if (eph_action(iob, action, &arg, 1) != 0) {
        WriteLog("TulkDlg", __LINE__, failedLine);
        return false;
    }
    return true;
}

bool CaptureOnLink(eph_iob* iob, std::int32_t focusMode) {
    // No count first: the sound trigger's picture must not wait for it. A
    // lost answer is then left as it is, never sent again.
    return CaptureChecked(iob, focusMode, nullptr, false) == CameraChange::Done;
}

namespace {

// The action sent once; 0 is a change the camera answered, a refusal is
// none, anything else leaves it unknown.
int ActionOnce(eph_iob* iob, int action) {
    const unsigned char arg = 0;
    return eph_actiononce(iob, action, &arg, 1);
}

bool Refused(int status) {
    return status == EPH_NAK || status == EPH_CAN || status == EPH_DC1;
}

// After an answer that did not come: the line is drained so that the count
// is read on a clean line.
int CountAfterLostAnswer(eph_iob* iob) {
    if (eph_drain(iob) != 0) {
        return -1;
    }
    return GetFrameCount(iob);
}

}  // namespace

CameraChange CountShowsCapture(eph_iob* iob, int countBefore) {
    std::lock_guard lock(LinkLock());
    const int now = GetFrameCount(iob);
    if (now < 0 || countBefore < 0) {
        return CameraChange::Unknown;
    }
    return now > countBefore ? CameraChange::Done : CameraChange::NotDone;
}

CameraChange CaptureChecked(eph_iob* iob, std::int32_t focusMode, int* countBefore,
                            bool countFirst) {
    std::lock_guard lock(LinkLock());
    const int before = countFirst ? GetFrameCount(iob) : -1;
    if (countBefore) {
        *countBefore = before;
    }
    CameraChange change = CameraChange::NotDone;
    for (int attempt = 0; attempt < 2 && change == CameraChange::NotDone; ++attempt) {
        eph_setint(iob, C990_FOCUSMODE, focusMode);
        const int status = ActionOnce(iob, C990_C2_SNAPSHOT);
        if (status == 0) {
            change = CameraChange::Done;
            break;
        }
        WriteLog("TulkDlg", __LINE__, "C990_C2_SNAPSHOT failed");
        if (Refused(status)) {
            break;
        }
        const int after = CountAfterLostAnswer(iob);
        if (after < 0 || before < 0) {
            return CameraChange::Unknown;
        }
        if (after > before) {
            WriteLog("TulkDlg", __LINE__,
                     "the snapshot's answer was lost, but the picture was taken");
            change = CameraChange::Done;
        }
    }
    // The camera forgets the focus mode with every capture, taken or not.
    eph_setint(iob, C990_FOCUSMODE, focusMode);
    return change;
}

CameraChange EraseLastChecked(eph_iob* iob) {
    std::lock_guard lock(LinkLock());
    const int before = GetFrameCount(iob);
    if (before <= 0) {
        return CameraChange::NotDone;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int status = ActionOnce(iob, ERASELAST);
        if (status == 0) {
            return CameraChange::Done;
        }
        WriteLog("TulkDlg", __LINE__, "ERASELAST failed");
        if (Refused(status)) {
            return CameraChange::NotDone;
        }
        const int after = CountAfterLostAnswer(iob);
        if (after < 0) {
            return CameraChange::Unknown;
        }
        if (after < before) {
            WriteLog("TulkDlg", __LINE__,
                     "the erase's answer was lost, but the picture was erased");
            return CameraChange::Done;
        }
    }
    return CameraChange::NotDone;
}

CameraChange EraseAfterDownload(eph_iob* iob, std::string* why) {
    if (!LastDownloadChecked()) {
        const char* reason = "not erased from the camera: its transfer was doubtful";
        WriteLog("TulkDlg", __LINE__, reason);
        if (why) {
            *why = reason;
        }
        return CameraChange::NotDone;
    }
    const CameraChange erased = EraseLastChecked(iob);
    if (erased != CameraChange::Done && why) {
        *why = erased == CameraChange::Unknown ? "the camera stopped answering the erase"
                                               : "the camera did not erase it";
    }
    return erased;
}

bool ReadPictureName(eph_iob* iob, std::string* name) {
    std::lock_guard lock(LinkLock());
    LinkBuffer buffer(iob, kNameSize);
    if (!buffer.data) {
        return false;
    }
    long length = kNameSize;
    if (eph_getvar(iob, C990_FRAMENAME, &buffer.data, &length) != 0) {
        return false;
    }
    *name = PlainPictureName(buffer.data, length);
    return true;
}

std::string MadeUpName(const char* format, int number) {
    char name[32];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

int DownloadNumberedPicture(eph_iob* iob, int number, const std::string& folder,
                            std::string* saved) {
    std::lock_guard lock(LinkLock());
    std::string name;
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        WriteLog("TulkDlg", __LINE__, "Failed to get current frame number");
    } else if (!ReadPictureName(iob, &name)) {
        WriteLog("TulkDlg", __LINE__, "Failed to get name from camera");
    }
    const std::string madeUp = MadeUpName("dscn%04d.jpg", number);
    if (name.empty()) {
        name = madeUp;
    }
    char line[300];
    std::snprintf(line, sizeof line, "Downloading pic %i (%s)\r\n", number, name.c_str());
    debug_output(line);
    return DownloadPicture(iob, (folder + name).c_str(), number, (folder + madeUp).c_str(), saved);
}

bool PictureAlreadyDownloaded(eph_iob* iob, int number, const std::string& folder) {
    std::lock_guard lock(LinkLock());
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        return false;
    }
    std::string name;
    if (!ReadPictureName(iob, &name)) {
        return false;
    }
    // A name we would not use is looked for under the one the download gives.
    if (name.empty()) {
        name = MadeUpName("dscn%04d.jpg", number);
    }
    // The name's bytes as they are: a name that is no valid text is still
    // the name the download saved.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(folder + name), error)) {
        return false;
    }
    char line[300];
    std::snprintf(line, sizeof line, "Skipping pic %i (%s)\r\n", number, name.c_str());
    debug_output(line);
    return true;
}

int DownloadNewestPicture(eph_iob* iob, const std::string& folder, std::string* saved) {
    std::lock_guard lock(LinkLock());
    const int count = GetFrameCount(iob);
    if (count == 0) {
        return -1;
    }
    // No picture is selected first: after a capture the camera has the new
    // one selected.
    std::string name;
    if (!ReadPictureName(iob, &name)) {
        WriteLog("TulkDlg", __LINE__, "Failed to get name from camera");
    }
    const std::string madeUp = MadeUpName("dsn%04d.jpg", count);
    if (name.empty()) {
        name = madeUp;
    }
    return DownloadPicture(iob, (folder + name).c_str(), count, (folder + madeUp).c_str(), saved);
}

std::string ReadCameraModel(eph_iob* iob) {
    std::lock_guard lock(LinkLock());
    LinkBuffer buffer(iob, kModelSize);
    if (!buffer.data) {
        return {};
    }
    long length = kModelSize;
    if (eph_getvar(iob, C990_CAMERAID, &buffer.data, &length) != 0 || length <= 0) {
        return {};
    }
    // An answer longer than the window's buffer is cut as the window cuts it.
    const long n = length < kModelSize - 1 ? length : kModelSize - 1;
    const char* text = reinterpret_cast<const char*>(buffer.data);
    return std::string(text, strnlen(text, static_cast<std::size_t>(n)));
}

std::int32_t ReadAvailMemory(eph_iob* iob) {
    std::lock_guard lock(LinkLock());
    std::int32_t value = 0;
    if (eph_getint(iob, AVAILMEM, &value) == -1) {
        return 0;
    }
    return value;
}
