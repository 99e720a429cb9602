#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/registers.h"
#include "log/activity_log.h"
#include "sim/camsim.h"

namespace fs = std::filesystem;
using camsim::Bytes;

namespace {

std::mutex g_allocMutex;
std::vector<std::size_t> g_allocations;
void* recordingRealloc(void* p, std::size_t size) {
    {
        std::lock_guard lock(g_allocMutex);
        g_allocations.push_back(size);
    }
    if (size == 0) {
        std::free(p);
        return nullptr;
    }
    return std::realloc(p, size);
}

// A camera on a pseudo-terminal, connected as g_iob, with a folder of the
// test's own for the log and the files, and the message boxes it asked for.
class CameraOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/tulk-ops-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        temp_ = dir;
        setenv("XDG_STATE_HOME", (temp_ / "state").c_str(), 1);
        CloseLog();
        ForgetSaveFailures();
        fs::create_directories(temp_ / "pictures");
        const std::string device = cam_.startSerial();
        ASSERT_FALSE(device.empty());
        setenv("TULK_COM9", device.c_str(), 1);
        g_bUseUsb = 0;
        g_iob = eph_open(9, 115200);
        ASSERT_NE(g_iob, nullptr);
        SetMessageBoxHook([this](const char*, const char* text, int) {
            boxes_.push_back(text);
            return IDOK;
        });
        cam_.clearRecord();
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        if (g_iob) {
            eph_close(g_iob, 1);
            eph_free(g_iob);
            g_iob = nullptr;
        }
        cam_.stop();
        unsetenv("TULK_COM9");
        CloseLog();
        fs::remove_all(temp_);
    }
    static std::string readFile(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    bool logged(const std::string& text) const {
        return readFile(LogFilePath()).find(text) != std::string::npos;
    }
    // Files in the pictures folder, hidden ones included.
    std::vector<std::string> pictureFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(temp_ / "pictures")) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    camsim::Camera cam_;
    fs::path temp_;
    std::vector<std::string> boxes_;
};

TEST_F(CameraOpsTest, FrameCountIsTheLargerCounter) {
    struct Case {
        int second, first;
        bool refuseSecond, refuseFirst;
        int count;
    } cases[] = {
        {12, 7, false, false, 12}, {3, 9, false, false, 9}, {12, 7, true, false, 7},
        {12, 7, false, true, 12},  {12, 7, true, true, -1},
    };
    for (const auto& c : cases) {
        cam_.setInt(C990_NUMFRAMES2, c.second);
        cam_.setInt(C990_NUMFRAMES, c.first);
        cam_.setRefused(C990_NUMFRAMES2, c.refuseSecond);
        cam_.setRefused(C990_NUMFRAMES, c.refuseFirst);
        EXPECT_EQ(GetFrameCount(g_iob), c.count);
    }
    cam_.setRefused(C990_NUMFRAMES2, false);
    cam_.setRefused(C990_NUMFRAMES, false);
}

TEST_F(CameraOpsTest, FramesLeft) {
    cam_.setInt(C990_FRAMESLEFT, 41);
    EXPECT_EQ(GetFramesLeft(), 41);
    cam_.setRefused(C990_FRAMESLEFT, true);
    EXPECT_EQ(GetFramesLeft(), 0);
}

TEST_F(CameraOpsTest, ZoomBothWays) {
    struct Case {
        double zoom;
        int status;
        Bytes sent;  // empty: nothing sent
    } cases[] = {
        {3.0, 0, {0x1D, 0, 0, 0, 0x0A, 0, 0, 0}},
        {1.0, 0, {9, 0, 0, 0, 0x0A, 0, 0, 0}},
        {0.05, 0, {0, 0, 0, 0, 0x0A, 0, 0, 0}},
        {0, -1, {}},
        {-1.5, -1, {}},
        {std::nan(""), -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zoom);
        cam_.clearRecord();
        EXPECT_EQ(SetZoom(c.zoom), c.status);
        if (c.sent.empty()) {
            EXPECT_TRUE(cam_.commands().empty());
        } else {
            EXPECT_EQ(cam_.getData(C990_ZOOM), c.sent);
        }
    }
    cam_.setData(C990_ZOOM, {0x1E, 0, 0, 0, 0x0A, 0, 0, 0});
    EXPECT_EQ(GetZoom(), 30);
    cam_.setRefused(C990_ZOOM, true);
    // Refused: the camera's NAK comes back as a refusal, not a failure.
    EXPECT_EQ(GetZoom(), 30);
    cam_.setSilent(true);
    EXPECT_EQ(GetZoom(), 100);
    cam_.setSilent(false);
    EXPECT_TRUE(logged("warning : Get Zoom failed\r\n"));
}

TEST_F(CameraOpsTest, ShutterSpeed) {
    EXPECT_EQ(SetShutterSpeed(250), 0);
    EXPECT_EQ(cam_.getInt(SHUTTERSPEED), 250);
    cam_.answerNext(0x11, 1);
    EXPECT_EQ(SetShutterSpeed(125), 17);
    EXPECT_EQ(cam_.getInt(SHUTTERSPEED), 250);
}

TEST_F(CameraOpsTest, PreviewToFile) {
    const Bytes jpeg = [] {
        Bytes b{0xFF, 0xD8};
        for (int i = 0; i < 5000; ++i) {
            b.push_back(static_cast<std::uint8_t>(i * 13));
        }
        b.push_back(0xFF);
        b.push_back(0xD9);
        return b;
    }();
    cam_.setAction(C990_C2_PREVIEW, [&](const Bytes&) {
        cam_.setData(C990_FRAMEDATA, jpeg);
        cam_.setInt(C990_LENGTHFRAME, static_cast<std::int32_t>(jpeg.size()));
        return true;
    });
    const fs::path file = temp_ / "pictures/preview00.jpg";
    ASSERT_EQ(SavePreviewToFile(file.c_str()), 0);
    EXPECT_EQ(readFile(file), std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(cam_.getInt(C990_CURRENTFRAME), 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(pictureFiles(), std::vector<std::string>{"preview00.jpg"});
}

TEST_F(CameraOpsTest, PreviewFailures) {
    const std::string box = "Failed to save preview file to disk!, probably out of disk space";
    struct Case {
        const char* what;
        std::function<void(camsim::Camera&)> fault;
        std::string path;
        std::string log;
    } cases[] = {
        {"preview refused",
         [](camsim::Camera& c) {
             c.setAction(C990_C2_PREVIEW, [](const Bytes&) { return false; });
         },
         "pictures/preview01.jpg", "warning : C990_C2_PREVIEW failed"},
        {"no such folder", [](camsim::Camera&) {}, "missing/preview01.jpg",
         "warning : Failed to open preview file for write ("},
        {"empty preview", [](camsim::Camera& c) { c.setData(C990_FRAMEDATA, {}); },
         "pictures/preview01.jpg", "warning : Write failed"},
        {"length unreadable", [](camsim::Camera& c) { c.setRefused(C990_LENGTHFRAME, true); },
         "pictures/preview01.jpg", "warning : C990_LENGTHFRAME failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.clear();
        cam_.setAction(C990_C2_PREVIEW, nullptr);
        cam_.setData(C990_FRAMEDATA, {0xFF, 0xD8, 0xFF, 0xD9});
        cam_.setRefused(C990_LENGTHFRAME, false);
        // An older preview under the name would pass for the new one.
        std::ofstream(temp_ / "pictures/preview01.jpg") << "old";
        c.fault(cam_);
        EXPECT_EQ(SavePreviewToFile((temp_ / c.path).c_str()), -1);
        EXPECT_TRUE(logged(c.log));
        EXPECT_EQ(boxes_, std::vector<std::string>{box});
        if (c.path.rfind("pictures/", 0) == 0) {
            EXPECT_TRUE(pictureFiles().empty());
        }
    }
}

// --- download ------------------------------------------------------------

Bytes jpegWithTime(unsigned long stamp, std::size_t filler) {
    const std::string text =
        std::string("SIMCAM\0\0\0", 9) + "TimeDate=" + std::to_string(stamp) + "\nShutter=125\n";
    Bytes b;
    b.reserve(text.size() + filler + 10);
    for (std::size_t v : {std::size_t{0xFF}, std::size_t{0xD8}, std::size_t{0xFF},
                          std::size_t{0xEC}, (text.size() + 2) >> 8, (text.size() + 2) & 0xFF}) {
        b.push_back(static_cast<std::uint8_t>(v));
    }
    for (char c : text) {
        b.push_back(static_cast<std::uint8_t>(c));
    }
    b.push_back(0xFF);
    b.push_back(0xDA);
    for (std::size_t i = 0; i < filler; ++i) {
        b.push_back(static_cast<std::uint8_t>(i % 251));
    }
    b.push_back(0xFF);
    b.push_back(0xD9);
    return b;
}

Bytes summaryOf(long length, unsigned long stamp) {
    Bytes s(32, 0);
    s[0] = length & 0xFF;
    s[1] = (length >> 8) & 0xFF;
    s[2] = (length >> 16) & 0xFF;
    s[20] = stamp & 0xFF;
    s[21] = (stamp >> 8) & 0xFF;
    s[22] = (stamp >> 16) & 0xFF;
    s[23] = (stamp >> 24) & 0xFF;
    return s;
}

std::tm localMtime(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(stat(p.c_str(), &st), 0);
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    return local;
}

TEST_F(CameraOpsTest, DownloadDatesThePicture) {
    constexpr unsigned long kSummaryStamp = 1000000000;  // 2001-09-09 01:46:40
    constexpr unsigned long kFileStamp = 978307200;      // 2001-01-01 00:00:00
    const Bytes picture = jpegWithTime(kFileStamp, 9000);
    const long length = static_cast<long>(picture.size());
    struct Case {
        const char* what;
        std::int32_t reg12;
        Bytes summary;
        bool refuseSummary;
        int year, month, day, hour, minute;
    } cases[] = {
        {"from the summary", static_cast<std::int32_t>(length), summaryOf(length, kSummaryStamp),
         false, 101, 8, 9, 1, 46},
        {"summary disagrees", static_cast<std::int32_t>(length),
         summaryOf(length + 1, kSummaryStamp), false, 101, 0, 1, 0, 0},
        {"length zero", 0, summaryOf(length, kSummaryStamp), false, 101, 8, 9, 1, 46},
        {"negative length", static_cast<std::int32_t>(-length), summaryOf(length, kSummaryStamp),
         false, 101, 8, 9, 1, 46},
        {"no summary", static_cast<std::int32_t>(length), {}, true, 101, 0, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cam_.setData(C990_FRAMEDATA, picture);
        cam_.setInt(C990_LENGTHFRAME, c.reg12);
        cam_.setInt(C990_LENGTHTHUMB, 0);
        cam_.setData(C990_PICSUMMARY, c.summary);
        cam_.setRefused(C990_PICSUMMARY, c.refuseSummary);
        const fs::path file = temp_ / "pictures/DSCN0001.JPG";
        fs::remove(file);
        ASSERT_EQ(DownloadPicture(g_iob, file.c_str(), 1), 0);
        EXPECT_EQ(readFile(file), std::string(picture.begin(), picture.end()));
        const std::tm t = localMtime(file);
        EXPECT_EQ(t.tm_year, c.year);
        EXPECT_EQ(t.tm_mon, c.month);
        EXPECT_EQ(t.tm_mday, c.day);
        EXPECT_EQ(t.tm_hour, c.hour);
        EXPECT_EQ(t.tm_min, c.minute);
        EXPECT_EQ(pictureFiles(), std::vector<std::string>{"DSCN0001.JPG"});
        EXPECT_EQ(cam_.getInt(C990_CURRENTFRAME), 1);
    }
    cam_.setRefused(C990_PICSUMMARY, false);
    EXPECT_TRUE(logged("warning : time taken "));
}

TEST_F(CameraOpsTest, DownloadBufferComesSizedFromTheLengths) {
    const Bytes picture = jpegWithTime(978307200, 100000 - 60);
    const auto length = static_cast<std::int32_t>(picture.size());
    cam_.setData(C990_FRAMEDATA, picture);
    cam_.setInt(C990_LENGTHFRAME, length);
    cam_.setInt(C990_LENGTHTHUMB, 5000);
    cam_.setData(C990_PICSUMMARY, summaryOf(length, 1000000000));
    g_allocations.clear();
    g_iob->realloc_cb = recordingRealloc;
    const fs::path file = temp_ / "pictures/big.jpg";
    ASSERT_EQ(DownloadPicture(g_iob, file.c_str(), 1), 0);
    // The data buffer is asked for once at its full size and never grows.
    ASSERT_FALSE(g_allocations.empty());
    EXPECT_EQ(g_allocations[0], 32u);
    EXPECT_EQ(std::count(g_allocations.begin(), g_allocations.end(), 108544u), 1);
    EXPECT_EQ(*std::max_element(g_allocations.begin(), g_allocations.end()), 108544u);
    EXPECT_EQ(fs::file_size(file), picture.size());
}

// A camera that announces the largest lengths and then sends little: the
// download never asks for more memory than what came (and a first buffer),
// and saves nothing.
TEST_F(CameraOpsTest, AnnouncedLengthsReserveNothing) {
    const Bytes picture = jpegWithTime(978307200, 3000);
    cam_.setData(C990_FRAMEDATA, picture);
    cam_.setInt(C990_LENGTHFRAME, 0x7fffffff);
    cam_.setInt(C990_LENGTHTHUMB, 0x7fffffff);
    cam_.setData(C990_PICSUMMARY, summaryOf(0x7fffff, 1));
    g_allocations.clear();
    g_iob->realloc_cb = recordingRealloc;
    const fs::path file = temp_ / "pictures/liar.jpg";
    EXPECT_EQ(DownloadPicture(g_iob, file.c_str(), 1), -1);
    ASSERT_FALSE(g_allocations.empty());
    EXPECT_LE(*std::max_element(g_allocations.begin(), g_allocations.end()),
              std::size_t(DownloadBufferSize(1L << 20)));
    EXPECT_TRUE(pictureFiles().empty());
    EXPECT_TRUE(
        logged("warning : Read " + std::to_string(picture.size()) + " of 2147483647 bytes"));
}

TEST_F(CameraOpsTest, FailedDownloadsLeaveNoFile) {
    const Bytes picture = jpegWithTime(978307200, 20000);
    const fs::path file = temp_ / "pictures/DSCN0002.JPG";
    struct Case {
        const char* what;
        std::function<void(camsim::Camera&)> fault;
        std::string log;
        bool box;
    } cases[] = {
        {"transfer refused", [](camsim::Camera& c) { c.setRefused(C990_FRAMEDATA, true); },
         "warning : Read\r\n", false},
        {"no picture selected", [](camsim::Camera& c) { c.setRefused(C990_CURRENTFRAME, true); },
         "warning : current frame\r\n", false},
        {"length unreadable", [](camsim::Camera& c) { c.setRefused(C990_LENGTHFRAME, true); },
         "warning : length frame\r\n", false},
        {"thumb unreadable", [](camsim::Camera& c) { c.setRefused(C990_LENGTHTHUMB, true); },
         "warning : length thumb\r\n", false},
        {"nothing received", [](camsim::Camera& c) { c.setData(C990_FRAMEDATA, {}); },
         "warning : Read 0 of " + std::to_string(picture.size()) + " bytes\r\n", false},
        // The camera ends the transfer early: 102 bytes of the picture and
        // its last packet.
        {"transfer ends early",
         [&picture](camsim::Camera& c) {
             c.setData(C990_FRAMEDATA, Bytes(picture.begin(), picture.begin() + 102));
         },
         "warning : Read 102 of " + std::to_string(picture.size()) + " bytes\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.clear();
        for (int reg : {C990_FRAMEDATA, C990_CURRENTFRAME, C990_LENGTHFRAME, C990_LENGTHTHUMB}) {
            cam_.setRefused(reg, false);
        }
        cam_.setData(C990_FRAMEDATA, picture);
        cam_.setInt(C990_LENGTHFRAME, static_cast<std::int32_t>(picture.size()));
        cam_.setData(C990_PICSUMMARY, summaryOf(static_cast<long>(picture.size()), 1));
        c.fault(cam_);
        EXPECT_EQ(DownloadPicture(g_iob, file.c_str(), 2), -1);
        EXPECT_TRUE(logged(c.log));
        EXPECT_TRUE(pictureFiles().empty());
        EXPECT_EQ(boxes_.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes_[0].rfind("Failed to save image! Check disk space!\n\n", 0), 0u);
        }
    }
}

TEST_F(CameraOpsTest, WriteThatFailsLeavesNoFile) {
    const Bytes picture = jpegWithTime(978307200, 60000);
    cam_.setData(C990_FRAMEDATA, picture);
    cam_.setInt(C990_LENGTHFRAME, static_cast<std::int32_t>(picture.size()));
    cam_.setData(C990_PICSUMMARY, summaryOf(static_cast<long>(picture.size()), 1));
    const fs::path file = temp_ / "pictures/DSCN0003.JPG";
    // A disk that fills up part-way: no file of this process may grow past
    // 20000 bytes. The log is smaller than that.
    WriteLog("camera_ops", 1, "before the disk fills");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int status = DownloadPicture(g_iob, file.c_str(), 3);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(status, -1);
    EXPECT_TRUE(pictureFiles().empty());
    // The folder and the reason, once.
    EXPECT_EQ(boxes_, std::vector<std::string>{"Failed to save image! Check disk space!\n\n" +
                                               (temp_ / "pictures").string() + ": File too large"});
    EXPECT_TRUE(logged("warning : " + file.string() + "\r\n"));

    // The same picture downloads whole once there is room.
    ASSERT_EQ(DownloadPicture(g_iob, file.c_str(), 3), 0);
    EXPECT_EQ(readFile(file), std::string(picture.begin(), picture.end()));
}

// A picture of a name already in the folder with other bytes takes the next
// free name; the same bytes again leave the file that has them as it is.
TEST_F(CameraOpsTest, DownloadNeverReplacesAnotherPicture) {
    struct Case {
        const char* name;
        unsigned long stamp;
        std::vector<std::string> files;
        std::string logLine;
    } cases[] = {
        {"DSCN0001.JPG", 978307200, {"DSCN0001.JPG"}, "saved as DSCN0001.JPG"},
        {"DSCN0001.JPG", 978307201, {"DSCN0001-1.JPG", "DSCN0001.JPG"}, "saved as DSCN0001-1.JPG"},
        {"DSCN0001.JPG",
         978307202,
         {"DSCN0001-1.JPG", "DSCN0001-2.JPG", "DSCN0001.JPG"},
         "saved as DSCN0001-2.JPG"},
        // The bytes of the second picture again.
        {"DSCN0001.JPG",
         978307201,
         {"DSCN0001-1.JPG", "DSCN0001-2.JPG", "DSCN0001.JPG"},
         "already saved as DSCN0001-1.JPG"},
        {"NOEXT",
         978307200,
         {"DSCN0001-1.JPG", "DSCN0001-2.JPG", "DSCN0001.JPG", "NOEXT"},
         "saved as NOEXT"},
        {"NOEXT",
         978307203,
         {"DSCN0001-1.JPG", "DSCN0001-2.JPG", "DSCN0001.JPG", "NOEXT", "NOEXT-1"},
         "saved as NOEXT-1"},
    };
    std::map<std::string, std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stamp));
        const Bytes picture = jpegWithTime(c.stamp, 3000);
        cam_.setData(C990_FRAMEDATA, picture);
        cam_.setInt(C990_LENGTHFRAME, static_cast<std::int32_t>(picture.size()));
        cam_.setInt(C990_LENGTHTHUMB, 0);
        cam_.setData(C990_PICSUMMARY, summaryOf(static_cast<long>(picture.size()), c.stamp));
        const fs::path file = temp_ / "pictures" / c.name;
        ASSERT_EQ(DownloadPicture(g_iob, file.c_str(), 1), 0);
        auto names = pictureFiles();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.files);
        const fs::path folder = temp_ / "pictures";
        const auto space = c.logLine.rfind(' ');
        EXPECT_TRUE(logged(c.logLine.substr(0, space + 1) +
                           (folder / c.logLine.substr(space + 1)).string() + "\r\n"));
        // Every file keeps the bytes it was first written with.
        for (const auto& name : names) {
            const std::string bytes = readFile(temp_ / "pictures" / name);
            auto [at, added] = expected.emplace(name, bytes);
            if (!added) {
                EXPECT_EQ(at->second, bytes) << name;
            }
        }
        const std::string wanted(picture.begin(), picture.end());
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return readFile(temp_ / "pictures" / name) == wanted;
        }));
    }
}

TEST_F(CameraOpsTest, DownloadIntoAMissingFolder) {
    cam_.setData(C990_FRAMEDATA, jpegWithTime(1, 100));
    cam_.setInt(C990_LENGTHFRAME, 10);
    const fs::path file = temp_ / "nowhere/DSCN0004.JPG";
    EXPECT_EQ(DownloadPicture(g_iob, file.c_str(), 4), -1);
    EXPECT_TRUE(logged("warning : " + file.string() + "\r\n"));
    const std::string told =
        "Failed to save image!\n\n" + (temp_ / "nowhere").string() + ": No such file or directory";
    EXPECT_EQ(boxes_, std::vector<std::string>{told});
    // The same failure again is only logged, until the next piece of work.
    EXPECT_EQ(DownloadPicture(g_iob, file.c_str(), 4), -1);
    EXPECT_EQ(boxes_.size(), 1u);
    ForgetSaveFailures();
    EXPECT_EQ(DownloadPicture(g_iob, file.c_str(), 4), -1);
    EXPECT_EQ(boxes_, (std::vector<std::string>{told, told}));
}

}  // namespace
