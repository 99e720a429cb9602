// The run engine against the simulated camera in this process, on its USB
// socket: the clock's grid and its dropped ticks, the picture step, and a
// camera that goes away and comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_ops.h"
#include "camera/registers.h"
#include "log/activity_log.h"
#include "run/RunEngine.h"
#include "run/sha256.h"
#include "sim/camsim.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The run's link: its work on the run's thread under the link's lock, the
// camera opened again on USB device 0.
class TestCamera : public CRunCamera {
public:
    bool RunOnLink(const std::function<void()>& work) override {
        std::lock_guard lock(LinkLock());
        work();
        return true;
    }
    eph_iob* Link() override { return iob; }
    bool Reopen() override {
        ++reopens;
        if (iob) {
            eph_close(iob, 0);
            eph_free(iob);
        }
        iob = eph_open(0, 0);
        return iob != nullptr;
    }
    eph_iob* iob = nullptr;
    int reopens = 0;
};

// The events a run told, for the test's thread to wait on.
class Heard {
public:
    void Add(const RunEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    bool WaitFor(RunEvent::Kind kind, std::chrono::seconds limit = 60s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return CountLocked(kind) > 0; });
    }
    int Count(RunEvent::Kind kind) {
        std::lock_guard lock(mutex_);
        return CountLocked(kind);
    }
    std::vector<RunEvent> All() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    int CountLocked(RunEvent::Kind kind) const {
        int n = 0;
        for (const RunEvent& e : events_) {
            n += e.kind == kind;
        }
        return n;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RunEvent> events_;
};

class RunEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/tulk-run-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        temp_ = dir;
        fs::create_directories(temp_ / "run");
        fs::permissions(temp_ / "run", fs::perms::owner_all);
        fs::create_directories(temp_ / "pictures");
        setenv("XDG_STATE_HOME", (temp_ / "state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (temp_ / "run").c_str(), 1);
        CloseLog();
        camera_.generatePictures(2, 64, 48);
        camera_.setSnapshotSize(64, 48);
        ASSERT_FALSE(camera_.startUsb(0).empty());
        g_bUseUsb = 1;
        link_.iob = eph_open(0, 0);
        ASSERT_NE(link_.iob, nullptr);
        settings_.folder = (temp_ / "pictures").string() + "/";
        settings_.saveEveryTime = true;
        settings_.deleteAfter = true;
        settings_.longestRetry = 1000ms;
    }
    void TearDown() override {
        if (link_.iob) {
            eph_close(link_.iob, 1);
            eph_free(link_.iob);
        }
        camera_.stop();
        eph_resetswitches();
        CloseLog();
        fs::remove_all(temp_);
    }
    void Start(CRunEngine& engine) {
        engine.Start(settings_, [this](const RunEvent& e) { heard_.Add(e); });
    }
    std::vector<std::string> Saved() {
        std::vector<std::string> paths;
        for (const RunEvent& e : heard_.All()) {
            if (e.kind == RunEvent::PictureSaved) {
                paths.push_back(e.path);
            }
        }
        return paths;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

    fs::path temp_;
    camsim::Camera camera_;
    TestCamera link_;
    RunSettings settings_;
    Heard heard_;
};

// Ticks every 100 ms at a camera that needs 350 ms a picture: the ticks
// that fall within a picture are dropped and counted, pictures are taken
// one at a time, and the run ends with the frames asked, each saved whole
// and erased.
TEST_F(RunEngineTest, DropsTheTicksThatComeDuringAPicture) {
    camera_.setActionTime(C990_C2_SNAPSHOT, 350ms);
    settings_.interval = 100ms;
    settings_.frames = 3;
    CRunEngine engine(link_);
    Start(engine);
    ASSERT_TRUE(heard_.WaitFor(RunEvent::Ended));
    engine.Wait();
    const RunTotals totals = engine.Totals();
    EXPECT_EQ(totals.taken, 3);
    EXPECT_EQ(totals.saved, 3);
    EXPECT_GE(totals.dropped, 6);
    EXPECT_EQ(heard_.Count(RunEvent::TickDropped), totals.dropped);
    EXPECT_EQ(camera_.snapshotTimes().size(), 3u);
    // Each saved picture left the camera; those before the run stayed.
    EXPECT_EQ(camera_.pictures().size(), 2u);
    for (const std::string& path : Saved()) {
        EXPECT_FALSE(ReadFile(path).empty());
    }
    // The ticks keep their grid: never two captures closer than a picture.
    const auto times = camera_.snapshotTimes();
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 350ms);
    }
}

// The camera goes away after the first picture and comes back: the run says
// so, counts the ticks of the outage as missed, opens the link again and
// goes on to its count.
TEST_F(RunEngineTest, LostCameraIsFoundAgain) {
    settings_.interval = 300ms;
    settings_.frames = 3;
    CRunEngine engine(link_);
    Start(engine);
    ASSERT_TRUE(heard_.WaitFor(RunEvent::PictureSaved));
    camera_.stop();
    ASSERT_TRUE(heard_.WaitFor(RunEvent::CameraLost));
    std::this_thread::sleep_for(1500ms);
    ASSERT_FALSE(camera_.startUsb(0).empty());
    ASSERT_TRUE(heard_.WaitFor(RunEvent::CameraBack));
    ASSERT_TRUE(heard_.WaitFor(RunEvent::Ended));
    engine.Wait();
    const RunTotals totals = engine.Totals();
    EXPECT_EQ(totals.taken, 3);
    EXPECT_EQ(totals.outages, 1);
    EXPECT_GE(totals.missed, 3);
    EXPECT_GE(link_.reopens, 1);
    std::string back;
    for (const RunEvent& e : heard_.All()) {
        if (e.kind == RunEvent::CameraBack) {
            back = e.text;
        }
    }
    EXPECT_NE(back.find("camera back at "), std::string::npos) << back;
    EXPECT_NE(back.find(std::to_string(totals.missed) + " ticks missed"), std::string::npos)
        << back;
    EXPECT_EQ(Saved().size(), 3u);
}

// Stop while the camera is lost ends the run at once, without waiting for
// the next look.
TEST_F(RunEngineTest, StopDuringAnOutageEndsTheRun) {
    settings_.interval = 200ms;
    settings_.frames = 0;
    settings_.longestRetry = 30000ms;
    CRunEngine engine(link_);
    Start(engine);
    ASSERT_TRUE(heard_.WaitFor(RunEvent::PictureSaved));
    camera_.stop();
    ASSERT_TRUE(heard_.WaitFor(RunEvent::CameraLost));
    const auto asked = std::chrono::steady_clock::now();
    engine.Stop();
    engine.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    EXPECT_EQ(heard_.Count(RunEvent::Ended), 1);
}

TEST(RunTextTest, DurationsReadAsTheRunsLinesShowThem) {
    EXPECT_EQ(RunDurationText(5s), "5 s");
    EXPECT_EQ(RunDurationText(148s), "2 min 28 s");
    EXPECT_EQ(RunDurationText(3720s), "1 h 2 min");
    EXPECT_EQ(RunDurationText(-3s), "0 s");
}

// Known digests: the empty input, one block, a message across blocks, and
// a million bytes fed in odd pieces.
TEST(Sha256Test, KnownDigests) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        CSha256 sha;
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.input.data());
        std::size_t at = 0;
        for (std::size_t piece = 1; at < c.input.size(); piece = piece * 3 % 257 + 1) {
            const std::size_t take = std::min(piece, c.input.size() - at);
            sha.Add(bytes + at, take);
            at += take;
        }
        EXPECT_EQ(sha.HexDigest(), c.digest) << c.input.size();
    }
}

}  // namespace
