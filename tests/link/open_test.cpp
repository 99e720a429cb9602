#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/eph.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"
#include "sim/camsim.h"

namespace fs = std::filesystem;
using camsim::Bytes;
using camsim::Folder;
using camsim::Received;

namespace {

std::mutex g_debugMutex;
std::vector<std::string> g_debug;
void keepDebug(const char* text) {
    std::lock_guard lock(g_debugMutex);
    g_debug.emplace_back(text);
}

// A camera on a pseudo-terminal that Tulk knows as COM1, a state folder of
// the test's own for the activity log, and the link's reports as they reach
// the debug output.
class OpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/tulk-open-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        temp_ = dir;
        setenv("XDG_STATE_HOME", temp_.c_str(), 1);
        CloseLog();
        device_ = cam_.startSerial();
        ASSERT_FALSE(device_.empty());
        setenv("TULK_COM1", device_.c_str(), 1);
        g_bUseUsb = 0;
        g_bThreadedComms = 0;
        {
            std::lock_guard lock(g_debugMutex);
            g_debug.clear();
        }
        set_debug_hook(keepDebug);
    }
    void TearDown() override {
        set_debug_hook(nullptr);
        if (iob_) {
            eph_close(iob_, 1);
            eph_free(iob_);
        }
        cam_.stop();
        unsetenv("TULK_COM1");
        g_bUseUsb = 0;
        g_bThreadedComms = 0;
        CloseLog();
        fs::remove_all(temp_);
    }

    static bool debugHas(const std::string& text) {
        std::lock_guard lock(g_debugMutex);
        for (const auto& line : g_debug) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    static std::string logText() {
        std::ifstream in(LogFilePath());
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    int controlCount(std::uint8_t byte) {
        int n = 0;
        for (const Received& r : cam_.received()) {
            n += r.kind == Received::Control && r.type == byte;
        }
        return n;
    }
    // Whether anyone holds the port.
    bool portFree() {
        const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            return false;
        }
        const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    }

    camsim::Camera cam_;
    eph_iob* iob_ = nullptr;
    std::string device_;
    fs::path temp_;
};

TEST_F(OpenTest, OpensAtEachSpeed) {
    struct Case {
        long speed;
        long code;
        long lineSpeed;
        int dataTimeout;
    } cases[] = {
        {0, 1, 9600, 3133330},          {9600, 1, 9600, 3133330},   {19200, 2, 19200, 2066660},
        {38400, 3, 38400, 1533330},     {57600, 4, 57600, 1355550}, {115200, 5, 115200, 1177770},
        {14400, 14400, 14400, 2422220},
    };
    cam_.setInt(12, 777);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.speed);
        cam_.clearRecord();
        iob_ = eph_open(1, c.speed);
        ASSERT_NE(iob_, nullptr);
        EXPECT_EQ(iob_->data_timeout, c.dataTimeout);
        EXPECT_EQ(cam_.speedCode(), c.code);
        EXPECT_EQ(cam_.lineSpeed(), c.lineSpeed);
        // The camera understands the host only when both are at that speed.
        std::int32_t value = 0;
        EXPECT_EQ(eph_getint(iob_, 12, &value), 0);
        EXPECT_EQ(value, 777);
        eph_close(iob_, 1);
        eph_free(iob_);
        iob_ = nullptr;
        EXPECT_EQ(cam_.lineSpeed(), 19200);
    }
}

TEST_F(OpenTest, CloseSignsOffAndRestoresTheLine) {
    // Settings the port had before Tulk took it.
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    cfsetspeed(&before, B2400);
    before.c_lflag |= ECHO;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    iob_ = eph_open(1, 57600);
    ASSERT_NE(iob_, nullptr);
    EXPECT_FALSE(portFree());
    cam_.clearRecord();
    eph_close(iob_, 1);
    eph_free(iob_);
    iob_ = nullptr;

    const auto cmds = cam_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].command, 2);
    EXPECT_EQ(cmds[0].reg, 4);
    EXPECT_EQ(cmds[0].data, (Bytes{0}));
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B2400);
    EXPECT_TRUE(after.c_lflag & ECHO);
    ::close(fd);
    EXPECT_TRUE(portFree());
}

TEST_F(OpenTest, CloseWithoutSignOffSendsSpeedZero) {
    iob_ = eph_open(1, 38400);
    ASSERT_NE(iob_, nullptr);
    cam_.clearRecord();
    eph_close(iob_, 0);
    eph_free(iob_);
    iob_ = nullptr;
    const auto cmds = cam_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].subtype, 0x53);
    EXPECT_EQ(cmds[0].payload, (Bytes{0x00, 17, 0, 0, 0, 0}));
}

TEST_F(OpenTest, CameraThatNeverAnswers) {
    cam_.setSilent(true);
    EXPECT_EQ(eph_open(1, 115200), nullptr);
    EXPECT_EQ(controlCount(0x00), 4);
    EXPECT_TRUE(cam_.commands().empty());
    EXPECT_TRUE(portFree());
    EXPECT_NE(logText().find("warning : failed to initialize\r\n"), std::string::npos);
}

TEST_F(OpenTest, RefusedSpeedSwitch) {
    cam_.nakNext(4);
    EXPECT_EQ(eph_open(1, 115200), nullptr);
    EXPECT_EQ(cam_.commands().size(), 4u);
    EXPECT_TRUE(debugHas("could not switch camera speed 5: System error"));
    EXPECT_TRUE(debugHas("excessive retries on setispeed"));
    EXPECT_TRUE(portFree());
    // Nothing more went to the camera after the refusals.
    EXPECT_EQ(cam_.commands().back().subtype, 0x53);
}

TEST_F(OpenTest, MissingDevice) {
    setenv("TULK_COM1", "/nonexistent/tty", 1);
    EXPECT_EQ(eph_open(1, 9600), nullptr);
    EXPECT_TRUE(debugHas("open /nonexistent/tty error System error 2"));
}

TEST(PortNames, ResolveToDevices) {
    unsetenv("TULK_COM3");
    eph_setportmap({});
    EXPECT_EQ(eph_portdevice(3), "/dev/ttyS2");
    eph_setportmap({{3, "/dev/ttyUSB0"}, {4, ""}});
    EXPECT_EQ(eph_portdevice(3), "/dev/ttyUSB0");
    EXPECT_EQ(eph_portdevice(4), "/dev/ttyS3");
    setenv("TULK_COM3", "/dev/pts/9", 1);
    EXPECT_EQ(eph_portdevice(3), "/dev/pts/9");
    unsetenv("TULK_COM3");
    eph_setportmap({});
}

// --- the folder walk -------------------------------------------------------

Folder folder(const std::string& name, int pictures, std::vector<Folder> children = {}) {
    return Folder{name, pictures, std::move(children)};
}

TEST_F(OpenTest, WalkStopsInTheFirstFolderWithPictures) {
    struct Case {
        const char* what;
        Folder root;
        std::string ends;
    } cases[] = {
        {"first deep folder", folder("", 0, {folder("A", 0, {folder("B", 3)}), folder("C", 5)}),
         "\\A\\B"},
        {"padded name", folder("", 0, {folder("DCIM    ", 0, {folder("100CAM  ", 2)})}),
         "\\DCIM\\100CAM"},
        {"root pictures do not stop it", folder("", 4), "\\"},
        {"no pictures anywhere", folder("", 0, {folder("A", 0), folder("B", 0)}), "\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cam_.setFolders(c.root);
        cam_.clearRecord();
        iob_ = eph_open(1, 115200);
        ASSERT_NE(iob_, nullptr);
        EXPECT_EQ(g_bFolders.load(), 1);
        EXPECT_EQ(cam_.currentFolder(), c.ends);
        eph_close(iob_, 1);
        eph_free(iob_);
        iob_ = nullptr;
    }
}

TEST_F(OpenTest, WalkNeverVisitsBeyondTheFirstFind) {
    cam_.setFolders(folder("", 0, {folder("A", 0, {folder("B", 3)}), folder("C", 5)}));
    iob_ = eph_open(1, 115200);
    ASSERT_NE(iob_, nullptr);
    for (const Received& r : cam_.commands()) {
        if (r.command == 3 && r.reg == 84) {
            EXPECT_NE(r.data, (Bytes{'C'}));
        }
    }
}

TEST_F(OpenTest, TreeDeeperThanTenLevelsFailsTheOpen) {
    Folder deepest = folder("L12", 0);
    for (int level = 11; level >= 1; --level) {
        deepest = folder("L" + std::to_string(level), 0, {deepest});
    }
    cam_.setFolders(folder("", 0, {deepest}));
    testing::internal::CaptureStderr();
    iob_ = eph_open(1, 115200);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(iob_, nullptr);
    EXPECT_NE(err.find("cannot be that deep (11), error!\n"), std::string::npos);
    EXPECT_NE(logText().find("failed to initialize"), std::string::npos);
    EXPECT_TRUE(portFree());
}

TEST_F(OpenTest, CameraWithoutFoldersAfterOneWithFolders) {
    cam_.setFolders(folder("", 0, {folder("A", 1)}));
    iob_ = eph_open(1, 115200);
    ASSERT_NE(iob_, nullptr);
    EXPECT_EQ(g_bFolders.load(), 1);
    eph_close(iob_, 1);
    eph_free(iob_);

    cam_.clearFolders();
    iob_ = eph_open(1, 115200);
    ASSERT_NE(iob_, nullptr);
    EXPECT_EQ(g_bFolders.load(), 0);
    EXPECT_EQ(cam_.currentFolder(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(eph_chdir(iob_, "\\A"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "no folders on this model\n");
}

TEST_F(OpenTest, ChdirTakesEitherSeparator) {
    cam_.setFolders(folder("", 0, {folder("A", 0, {folder("B", 0)}), folder("C", 0)}));
    iob_ = eph_open(1, 115200);
    ASSERT_NE(iob_, nullptr);
    EXPECT_EQ(eph_chdir(iob_, "/A/B"), 0);
    EXPECT_EQ(cam_.currentFolder(), "\\A\\B");
    EXPECT_EQ(eph_chdir(iob_, "\\C"), 0);
    EXPECT_EQ(cam_.currentFolder(), "\\C");
    testing::internal::CaptureStderr();
    EXPECT_EQ(eph_chdir(iob_, "\\A\\X"), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not chdir to \"X\"\n"),
              std::string::npos);
}

// --- USB -------------------------------------------------------------------

class UsbTest : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        // A runtime folder of the test's own: no other camera is found there.
        runtime_ = temp_ / "runtime";
        fs::create_directories(runtime_);
        previousRuntime_ = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        g_bUseUsb = 1;
    }
    void TearDown() override {
        OpenTest::TearDown();
        if (previousRuntime_.empty()) {
            unsetenv("XDG_RUNTIME_DIR");
        } else {
            setenv("XDG_RUNTIME_DIR", previousRuntime_.c_str(), 1);
        }
    }
    fs::path runtime_;
    std::string previousRuntime_;
};

TEST_F(UsbTest, NoDevice) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(eph_open(0, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "open_usb failed\n");
    EXPECT_NE(logText().find("warning : failed to initialize USB\r\n"), std::string::npos);
}

TEST_F(UsbTest, OpensTheSimulatedCamera) {
    for (int threaded : {0, 1}) {
        SCOPED_TRACE(threaded);
        g_bThreadedComms = threaded;
        ASSERT_FALSE(cam_.startUsb(0).empty());
        cam_.clearRecord();
        cam_.setInt(11, 321);
        iob_ = eph_open(0, 0);
        ASSERT_NE(iob_, nullptr);
        EXPECT_EQ(iob_->port, -1);
        const auto first = cam_.commands().at(0);
        EXPECT_EQ(first.reg, 77);
        EXPECT_EQ(first.value, 32762);

        std::int32_t value = 0;
        EXPECT_EQ(eph_getint(iob_, 11, &value), 0);
        EXPECT_EQ(value, 321);

        const Bytes picture = [] {
            Bytes b(5000);
            for (std::size_t i = 0; i < b.size(); ++i) {
                b[i] = static_cast<std::uint8_t>(i * 7);
            }
            return b;
        }();
        cam_.setData(14, picture);
        long length = 2048;
        auto* buffer = static_cast<unsigned char*>(iob_->realloc_cb(nullptr, 2048));
        ASSERT_EQ(eph_getvar(iob_, 14, &buffer, &length), 0);
        EXPECT_EQ(Bytes(buffer, buffer + length), picture);
        iob_->realloc_cb(buffer, 0);

        // Every setvar on USB ends by disarming the upload word.
        cam_.clearRecord();
        ASSERT_EQ(eph_setvar(iob_, 29, picture.data(), 3000), 0);
        EXPECT_EQ(cam_.getData(29), Bytes(picture.begin(), picture.begin() + 3000));
        const auto last = cam_.commands().back();
        EXPECT_EQ(last.reg, 32);
        EXPECT_EQ(last.value, 0);

        cam_.clearRecord();
        eph_close(iob_, 1);
        eph_free(iob_);
        iob_ = nullptr;
        ASSERT_EQ(cam_.commands().size(), 1u);
        EXPECT_EQ(cam_.commands()[0].reg, 4);
        cam_.stop();
    }
}

TEST_F(UsbTest, ShortAnswerToGetIntIsRefused) {
    ASSERT_FALSE(cam_.startUsb(0).empty());
    iob_ = eph_open(0, 0);
    ASSERT_NE(iob_, nullptr);
    cam_.clearRecord();
    cam_.answerNext(0x11, 1);
    std::int32_t value = -1;
    EXPECT_EQ(eph_getint(iob_, 11, &value), 17);
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(cam_.waitReceived(2, std::chrono::seconds(2)));
    EXPECT_EQ(controlCount(0x15), 1);
    // No repetitions on USB.
    EXPECT_EQ(cam_.commands().size(), 1u);
}

TEST_F(UsbTest, ReadsTimeOutWithAndWithoutAThread) {
    ASSERT_FALSE(cam_.startUsb(0).empty());
    iob_ = eph_open(0, 0);
    ASSERT_NE(iob_, nullptr);
    for (int threaded : {0, 1}) {
        SCOPED_TRACE(threaded);
        g_bThreadedComms = threaded;
        cam_.setSilent(true);
        cam_.clearRecord();
        std::int32_t value = -1;
        EXPECT_EQ(eph_getint(iob_, 11, &value), 17);
        // The NAK that gives up on the question: on a loaded machine the
        // camera may not have read it yet, and reading it once it speaks
        // again would have it send its last answer once more.
        cam_.waitUntil([&] { return controlCount(0x15) > 0; }, std::chrono::seconds(10));
        ASSERT_EQ(controlCount(0x15), 1);
        cam_.setSilent(false);

        // An action that takes a while: a read that gives up before the
        // completion byte comes must not leave a reader behind that takes it.
        // Long enough that the short read below is over well before it ends,
        // even on a loaded machine.
        cam_.setActionTime(std::chrono::milliseconds(3000));
        const unsigned char action[] = {0x02, 2, 0};
        ASSERT_EQ(eph_writecmd(iob_, action, sizeof action), 0);
        EXPECT_EQ(eph_waitack(iob_, 60000000), 0);
        unsigned char byte = 0;
        int gotData = 1;
        EXPECT_EQ(eph_readtimed(iob_, &byte, 1, 200000, &gotData), 0);
        EXPECT_EQ(gotData, 0);
        EXPECT_EQ(eph_waitcomplete(iob_), 0);
        cam_.setActionTime(std::chrono::milliseconds(0));

        cam_.setInt(11, 99);
        EXPECT_EQ(eph_getint(iob_, 11, &value), 0);
        EXPECT_EQ(value, 99);
    }
}

// A picture's bytes as register 14 sends them, and the doubtful mark the
// transfer leaves: a garbled packet is refused and its true repeat taken; a
// camera that never fills the checksum on USB is read all the same, but
// every such packet marks the record doubtful; one that garbles every copy
// gives nothing.
struct UsbCheckCase {
    const char* name;
    camsim::Fault::Kind fault;
    bool read;
    int doubtful;
};

TEST_F(UsbTest, PacketsAreCheckedByLengthAndChecksum) {
    const UsbCheckCase cases[] = {
        {"garbled once", camsim::Fault::Kind::GarblePacket, true, 0},
        {"checksum never filled", camsim::Fault::Kind::NoChecksum, true, 1},
        {"every copy garbled", camsim::Fault::Kind::GarbleAlways, false, 0},
    };
    Bytes picture(6000);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    for (const UsbCheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        camsim::Camera cam;
        cam.setData(14, picture);
        cam.setInt(11, 77);
        ASSERT_FALSE(cam.startUsb(0).empty());
        eph_iob* iob = eph_open(0, 0);
        ASSERT_NE(iob, nullptr);
        camsim::Fault fault;
        fault.kind = c.fault;
        fault.at = 2;
        cam.addFault(fault);
        iob->doubtful = 0;
        std::int32_t value = 0;
        EXPECT_EQ(eph_getint(iob, 11, &value), 0);
        EXPECT_EQ(value, 77);
        long length = 2048;
        auto* buffer = static_cast<unsigned char*>(iob->realloc_cb(nullptr, 2048));
        const int status = eph_getvar(iob, 14, &buffer, &length);
        if (c.read) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(Bytes(buffer, buffer + length), picture);
        } else {
            EXPECT_NE(status, 0);
        }
        EXPECT_EQ(iob->doubtful, c.doubtful);
        iob->realloc_cb(buffer, 0);
        eph_close(iob, 1);
        eph_free(iob);
    }
}

// An action's answer that never comes: eph_action sends the packet again, as
// the link always has; eph_actiononce does not, as the camera may have done
// it. Only a refusal is sent again.
TEST_F(UsbTest, AnActionOnceIsNotRepeatedWhenItsAnswerIsLost) {
    ASSERT_FALSE(cam_.startUsb(0).empty());
    cam_.generatePictures(1, 32, 24);
    iob_ = eph_open(0, 0);
    ASSERT_NE(iob_, nullptr);
    // The link's minute-long wait for an ACK, cut short for the test.
    link_set_longest_silence(std::chrono::milliseconds(300));
    const unsigned char arg = 0;
    for (const bool once : {true, false}) {
        SCOPED_TRACE(once ? "once" : "blind");
        cam_.clearRecord();
        camsim::Fault fault;
        fault.kind = camsim::Fault::Kind::IgnoreCommand;
        cam_.addFault(fault);
        const int status = once ? eph_actiononce(iob_, 2, &arg, 1) : eph_action(iob_, 2, &arg, 1);
        int sent = 0;
        for (const auto& c : cam_.commands()) {
            sent += c.command == 2 && c.reg == 2;
        }
        EXPECT_EQ(sent, once ? 1 : 2);
        EXPECT_EQ(status == 0, !once);
    }
    cam_.clearRecord();
    cam_.nakNext(1);
    EXPECT_EQ(eph_actiononce(iob_, 2, &arg, 1), 0);
    link_set_longest_silence(std::chrono::microseconds(0));
}

}  // namespace
