#include "camera/download.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "camera/camera_ops.h"
#include "camera/link_buffer.h"
#include "camera/platform/file_writer.h"
#include "camera/registers.h"
#include "camera/transfer_progress.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"
#include "log/platform/last_error.h"

namespace {

constexpr long kSummarySize = 32;
// The longest file name a folder can carry.
constexpr std::size_t kLongestName = 255;

void debugf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debugf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    debug_output(text);
}

std::string ctimeText(std::time_t when) {
    char text[64];
    return ctime_r(&when, text) ? text : "?\n";
}

int fail(int line, const char* text) {
    WriteLog("camera_ops", line, text);
    return -1;
}

thread_local bool t_bLastDownloadChecked = false;
thread_local int t_nLastSaveError = 0;

std::mutex g_saveFailureMutex;
// The last save failure the user was told of since the work began.
std::string g_saveFailureTold;

// Tells the user that a picture could not be written to the path, naming
// the folder and the reason, unless the same was said already since the
// work began: a full disk or a read-only folder fails every picture alike.
void ReportSaveFailure(int line, const std::string& path, int error) {
    t_nLastSaveError = error != 0 ? error : EIO;
    WriteLog("camera_ops", line, path.c_str());
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const bool space = error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO;
    const std::string message =
        std::string(space ? "Failed to save image! Check disk space!" : "Failed to save image!") +
        "\n\n" + folder + ": " + sys_errortext(error);
    {
        std::lock_guard lock(g_saveFailureMutex);
        if (message == g_saveFailureTold) {
            return;
        }
        g_saveFailureTold = message;
    }
    ShowMessage(message.c_str(), MB_OKCANCEL);
}

}  // namespace

int LastSaveError() {
    return t_nLastSaveError;
}

bool LastDownloadChecked() {
    return t_bLastDownloadChecked;
}

void ForgetSaveFailures() {
    std::lock_guard lock(g_saveFailureMutex);
    g_saveFailureTold.clear();
}

long DownloadBufferSize(long length) {
    return ((length - 1) / 2048 + 2) * 2048;
}

bool CameraTimeToLocal(unsigned long stamp, long long* when) {
    if (stamp > 0x7FFFFFFFul) {
        return false;
    }
    tzset();
    const std::time_t camera = static_cast<std::time_t>(stamp);
    std::tm fields{};
    if (!gmtime_r(&camera, &fields)) {
        return false;
    }
    fields.tm_isdst = -1;
    const std::time_t local = std::mktime(&fields);
    if (local == static_cast<std::time_t>(-1)) {
        return false;
    }
    *when = local;
    return true;
}

namespace {

// What the camera says of a picture before it is sent: its length, the
// length with its thumbnail (the transfer), and its time stamp (0 when the
// summary does not give one; all bits set means unknown).
struct PictureLengths {
    long picture = 0;
    long transfer = 0;
    std::uint32_t stamp = 0;
};

// The picture's and the thumbnail's lengths. 0 or -1 (logged).
int ReadLengths(eph_iob* iob, int number, PictureLengths* lengths) {
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        return fail(__LINE__, "current frame");
    }
    std::int32_t frameLength = 0;
    if (eph_getint(iob, C990_LENGTHFRAME, &frameLength) != 0) {
        return fail(__LINE__, "length frame");
    }
    long picture = frameLength;
    if (picture < 0) {
        debugf("Negative frame size (%ld)\r\n", picture);
        picture = -picture;
    }
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        return fail(__LINE__, "current frame");
    }
    std::int32_t thumbLength = 0;
    if (eph_getint(iob, C990_LENGTHTHUMB, &thumbLength) != 0) {
        return fail(__LINE__, "length thumb");
    }
    lengths->picture = picture;
    lengths->transfer = static_cast<long>(thumbLength) + picture;
    return 0;
}

// The time stamp from the picture summary, taken only when the summary's
// length agrees with the picture's (which it gives when the camera gave
// none). -1 when the picture cannot be selected.
int StampFromSummary(eph_iob* iob, int number, LinkBuffer& summary, PictureLengths* lengths) {
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        return -1;
    }
    long summaryLength = kSummarySize;
    std::memset(summary.data, 0, kSummarySize);
    if (eph_getvar(iob, C990_PICSUMMARY, &summary.data, &summaryLength) == 0) {
        const long s = summary.data[0] | (summary.data[1] << 8) | (summary.data[2] << 16);
        if (s != 0 && lengths->picture == 0) {
            debugf(
                "uh-oh, size of frame in reg12 (%ld) is zero, will use size field from picture "
                "summary register (%ld)!\n",
                lengths->picture, s);
            lengths->picture = s;
        }
        if (lengths->picture == s) {
            lengths->stamp = summary.data[20] | (summary.data[21] << 8) | (summary.data[22] << 16) |
                             (static_cast<std::uint32_t>(summary.data[23]) << 24);
        } else {
            debugf(
                "uh-oh, size of frame in reg12 (%ld) does not match size field from picture "
                "summary register (%ld), ignore summary data!\n",
                lengths->picture, s);
        }
    }
    tzset();
    debugf("got timestamp from reg47: %lu , %s\n", static_cast<unsigned long>(lengths->stamp),
           ctimeText(static_cast<std::time_t>(lengths->stamp)).c_str());
    return 0;
}

// The first buffer of a transfer: the lengths are the camera's word only,
// so it starts at most this large and grows with what arrives.
long FirstBufferSize(long transfer) {
    constexpr long kLargestFirstBuffer = 1L << 20;
    const long size =
        DownloadBufferSize(transfer < kLargestFirstBuffer ? transfer : kLargestFirstBuffer);
    return size > 0 ? size : 2048;
}

// The picture's bytes into data; *received gets how many came. 0, or -1
// (logged) when the transfer failed or ended before the picture's announced
// length: nothing of such a transfer is saved.
int TransferPicture(eph_iob* iob, const char* path, int number, const PictureLengths& lengths,
                    LinkBuffer& data, long* received) {
    if (eph_setint(iob, C990_CURRENTFRAME, number) != 0) {
        return fail(__LINE__, "CURRENTFRAME");
    }
    *received = FirstBufferSize(lengths.transfer);
    CurrentTransfer().Begin(path, lengths.transfer);
    if (eph_getvar(iob, C990_FRAMEDATA, &data.data, received) != 0) {
        return fail(__LINE__, "Read");
    }
    if (*received < lengths.picture) {
        std::snprintf(g_szErrorText, kErrorTextSize, "Read %ld of %ld bytes", *received,
                      lengths.picture);
        return fail(__LINE__, g_szErrorText);
    }
    return 0;
}

// The time stamp from the picture's APP12 "TimeDate" value; all bits set
// when it has none. Only the bytes that came are looked at: the rest of the
// buffer is whatever the allocator left there.
std::uint32_t StampFromApp12(const unsigned char* bytes, long received) {
    const unsigned char* segment = bytes;
    long segmentLength = received;
    std::uint32_t stamp = 0xFFFFFFFFu;
    if (FindJpegApp12(&segment, &segmentLength) == 0) {
        const char* value =
            FindKeyValue("TimeDate", reinterpret_cast<const char*>(segment), segmentLength);
        unsigned long parsed = 0;
        // The value may run to the end of the segment: copy it out first.
        if (value) {
            const long offset = value - reinterpret_cast<const char*>(segment);
            std::string text(value, static_cast<std::size_t>(segmentLength - offset));
            if (std::sscanf(text.c_str(), "%lu", &parsed) == 1) {
                stamp = static_cast<std::uint32_t>(parsed);
            }
        }
    }
    debugf("got timestamp from file: %lu\n", static_cast<unsigned long>(stamp));
    return stamp;
}

// Writes the picture whole under path (or the next free name, or the
// fallback), dates it with the stamp and logs it. 0 or -1 (the user is told).
int SavePicture(const char* path, const char* fallbackPath, const unsigned char* bytes,
                long received, std::uint32_t stamp, std::chrono::steady_clock::time_point started,
                std::string* saved) {
    FileWriter file(path);
    if (!file.open()) {
        ReportSaveFailure(__LINE__, path, sys_lasterror());
        return -1;
    }
    if (!file.write(bytes, received)) {
        const int error = sys_lasterror();
        file.discard();
        ReportSaveFailure(__LINE__, path, error);
        return -1;
    }
    // A picture that is not whole on the disk is no picture: a close that
    // fails loses it as surely as a write that fails. Another picture of
    // the same name (a camera whose numbering began again) is kept.
    bool unchanged = false;
    if (!file.commitWithoutReplacing(&unchanged, fallbackPath ? fallbackPath : "")) {
        ReportSaveFailure(__LINE__, path, sys_lasterror());
        return -1;
    }
    ForgetSaveFailures();
    std::snprintf(g_szErrorText, kErrorTextSize, unchanged ? "already saved as %s" : "saved as %s",
                  file.path().c_str());
    WriteLog("camera_ops", __LINE__, g_szErrorText);
    const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - started)
                                               .count());
    long long when = 0;
    if (!unchanged && CameraTimeToLocal(stamp, &when)) {
        SetFileTimes(file.path().c_str(), static_cast<std::time_t>(when));
    }
    std::snprintf(g_szErrorText, kErrorTextSize, "time taken %ld(1000ths) %ld secs\r\n", elapsed,
                  elapsed / 1000);
    WriteLog("camera_ops", __LINE__, g_szErrorText);
    debug_output(g_szErrorText);
    if (saved) {
        *saved = file.path();
    }
    return 0;
}

}  // namespace

int DownloadPicture(eph_iob* iob, const char* path, int number, const char* fallbackPath,
                    std::string* saved) {
    std::lock_guard lock(LinkLock());
    const auto started = std::chrono::steady_clock::now();
    t_bLastDownloadChecked = false;
    t_nLastSaveError = 0;
    iob->doubtful = 0;

    LinkBuffer summary(iob, kSummarySize);
    if (!summary.data) {
        return fail(__LINE__, "failed");
    }
    PictureLengths lengths;
    if (ReadLengths(iob, number, &lengths) != 0 ||
        StampFromSummary(iob, number, summary, &lengths) != 0) {
        return -1;
    }
    const long size = FirstBufferSize(lengths.transfer);
    LinkBuffer data(iob, size);
    if (!data.data) {
        std::snprintf(g_szErrorText, kErrorTextSize, "Not enough memory for %lu",
                      static_cast<unsigned long>(size));
        return fail(__LINE__, g_szErrorText);
    }
    long received = 0;
    if (TransferPicture(iob, path, number, lengths, data, &received) != 0) {
        return -1;
    }
    const std::uint32_t stamp =
        lengths.stamp != 0 ? lengths.stamp : StampFromApp12(data.data, received);
    debugf("taken %s\n", ctimeText(static_cast<std::time_t>(stamp)).c_str());
    const bool checked = iob->doubtful == 0;
    if (!checked) {
        WriteLog("camera_ops", __LINE__,
                 "transfer doubtful: a packet's length or checksum did not hold");
    }
    if (SavePicture(path, fallbackPath, data.data, received, stamp, started, saved) != 0) {
        return -1;
    }
    t_bLastDownloadChecked = checked;
    return 0;
}

std::string PlainPictureName(const unsigned char* bytes, long length) {
    std::string name;
    for (long i = 0; i < length && bytes[i] != 0 && name.size() < kLongestName; ++i) {
        name.push_back(static_cast<char>(bytes[i]));
    }
    // The name becomes a file in the save folder: anything that could
    // reach outside it, or that no file can carry, is not used.
    if (name.empty() || name == "." || name == "..") {
        return {};
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) {
            return {};
        }
    }
    return name;
}

int FindJpegApp12(const unsigned char** start, long* length) {
    const unsigned char* const begin = *start;
    const long size = begin ? *length : 0;
    long at = 0;
    while (at < size) {
        while (at < size && begin[at] != 0xFF) {
            ++at;
        }
        while (at < size && begin[at] == 0xFF) {
            ++at;
        }
        if (at >= size) {
            break;
        }
        const unsigned char marker = begin[at];
        if (marker == 0xD8) {
            continue;
        }
        if (at + 2 >= size) {
            break;
        }
        const long segment = (begin[at + 1] << 8) | begin[at + 2];
        if (marker == 0xEC) {
            // The data follows the length and may not run past the end.
            if (segment < 2 || at + 1 + segment > size) {
                break;
            }
            *start = begin + at + 3;
            *length = segment - 2;
            return 0;
        }
        at += segment;
    }
    *start = nullptr;
    *length = 0;
    return -1;
}

const char* FindKeyValue(const char* key, const char* block, long length) {
    if (!block || length <= 0) {
        return nullptr;
    }
    const char* const end = block + length;
    const char* at = static_cast<const char*>(std::memchr(block, '\0', length));
    if (at) {
        while (at < end && *at == '\0') {
            ++at;
        }
    }
    if (!at || at >= end) {
        at = block;
    }
    const std::size_t keyLength = std::strlen(key);
    while (at < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (!lineEnd) {
            lineEnd = end;
        }
        if (static_cast<std::size_t>(lineEnd - at) >= keyLength &&
            std::memcmp(at, key, keyLength) == 0) {
            const char* after = at + keyLength;
            return after < end && *after == '=' ? after + 1 : nullptr;
        }
        at = lineEnd + 1;
    }
    return nullptr;
}
