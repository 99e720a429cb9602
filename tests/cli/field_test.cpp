// tulk-cli's time lapse as a rig left alone meets it: the camera is
// tulk-camsim in a process of its own, with faults from its command line
// (stalls, garbled packets, lost answers, restarts, a camera that vanishes),
// stopped and started again while the run goes on. The camera's record (every
// picture it took, every erase) is checked against the save folder: nothing
// garbled is saved, nothing unsaved is erased, no capture is made twice.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run/sha256.h"
#include "tests/cli/platform/child_process.h"
#include "tests/field/camera_record.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using field::ReadFile;

// Waits for the condition; the limit is for a test that hangs, not a
// measure of speed.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit = 90s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

enum class Cable { Serial, Usb };

class FieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tulk-field-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* sub : {"config", "state", "run", "home", "pictures", "record"}) {
            fs::create_directories(root_ / sub);
        }
        fs::permissions(root_ / "run", fs::perms::owner_all);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        setenv("HOME", (root_ / "home").c_str(), 1);
        setenv("TULK_COM1", (root_ / "com1").c_str(), 1);
    }
    void TearDown() override {
        camera_.reset();
        unsetenv("TULK_COM1");
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The camera in its own process, serving the cable, its pictures and
    // erases recorded; ready once it says where it serves.
    void StartCamera(Cable cable, const std::vector<std::string>& faults, int generate = 2) {
        camera_ = std::make_unique<ChildProcess>();
        std::vector<std::string> args{"--generate=" + std::to_string(generate), "--record",
                                      (root_ / "record").string()};
        if (cable == Cable::Serial) {
            args.insert(args.end(), {"--serial", "--pace", "--link", (root_ / "com1").string()});
        } else {
            args.insert(args.end(), {"--usb"});
        }
        for (const std::string& fault : faults) {
            args.insert(args.end(), {"--fault", fault});
        }
        const fs::path out = root_ / ("camsim" + std::to_string(++cameras_) + ".out");
        ASSERT_TRUE(
            camera_->Start(TULK_CAMSIM, args, out.string(), (root_ / "camsim.err").string()));
        ASSERT_TRUE(
            WaitFor([&] { return ReadFile(out).find("serving") != std::string::npos; }, 20s))
            << ReadFile(root_ / "camsim.err");
    }

    std::vector<std::string> CliArgs(Cable cable, std::vector<std::string> more) const {
        std::vector<std::string> args =
            cable == Cable::Serial ? std::vector<std::string>{"--port", "1", "--speed", "115200"}
                                   : std::vector<std::string>{"--usb"};
        args.insert(args.end(), {"--folder", (root_ / "pictures").string()});
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::unique_ptr<ChildProcess> StartCli(const std::vector<std::string>& args) {
        auto cli = std::make_unique<ChildProcess>();
        EXPECT_TRUE(
            cli->Start(TULK_CLI, args, (root_ / "cli.out").string(), (root_ / "cli.err").string()));
        return cli;
    }
    std::string CliErr() const { return ReadFile(root_ / "cli.err"); }

    long Count(const std::string& kind) const { return field::Count(root_ / "record", kind); }
    std::set<std::string> SavedBytes() const {
        std::set<std::string> saved;
        for (const auto& entry : fs::directory_iterator(root_ / "pictures")) {
            if (entry.path().extension() != ".jsonl") {
                saved.insert(ReadFile(entry.path()));
            }
        }
        return saved;
    }
    // The run's journal against the camera's record and the folder: a start
    // and an end, one record a tick from the first to the last, a "taken"
    // tick for each picture the camera took, each saved file with its true
    // size and SHA-256. Returns the records.
    std::vector<field::Record> CheckJournal() const {
        const fs::path path = field::FindJournal(root_ / "pictures");
        EXPECT_FALSE(path.empty()) << "no journal";
        if (path.empty()) {
            return {};
        }
        EXPECT_NE(CliErr().find("journal: " + path.string()), std::string::npos) << CliErr();
        const std::vector<field::Record> records = field::ReadJournal(path);
        EXPECT_GE(records.size(), 2u);
        if (records.size() < 2) {
            return records;
        }
        EXPECT_EQ(records.front().at("record"), "start");
        EXPECT_EQ(records.back().at("record"), "end");
        std::set<long> ticks;
        long taken = 0;
        for (const field::Record& r : records) {
            if (r.at("record") != "tick") {
                continue;
            }
            const long tick = std::stol(r.at("tick"));
            EXPECT_TRUE(ticks.insert(tick).second) << "tick " << tick << " twice";
            taken += r.at("outcome") == "taken";
            if (r.count("file")) {
                std::string sha;
                long long bytes = 0;
                EXPECT_TRUE(FileSha256(r.at("file"), &sha, &bytes)) << r.at("file");
                EXPECT_EQ(sha, r.at("sha256")) << r.at("file");
                EXPECT_EQ(std::to_string(bytes), r.at("bytes")) << r.at("file");
            }
        }
        EXPECT_EQ(ticks.empty() ? 0 : *ticks.rbegin(), static_cast<long>(ticks.size()))
            << "a tick without its record";
        EXPECT_EQ(taken, Count("snapshot")) << CliErr();
        return records;
    }
    // The rules a run keeps whatever the camera did: every file saved is a
    // picture the camera took, byte for byte; every picture erased was
    // saved; every picture the run took is saved or still on the camera.
    // Returns how many of the run's pictures were saved.
    long CheckNothingLost() const {
        const field::Verdict verdict = field::Check(root_ / "record", root_ / "pictures");
        EXPECT_EQ(verdict.strangers, 0) << "a saved file is no picture of the camera";
        EXPECT_EQ(verdict.erasedUnsaved, 0) << "a picture erased but not saved";
        EXPECT_EQ(verdict.lostPictures, 0);
        return verdict.savedOfRun;
    }

    fs::path root_;
    std::unique_ptr<ChildProcess> camera_;
    int cameras_ = 0;
};

struct FaultCase {
    const char* name;
    Cable cable;
    std::vector<std::string> faults;
    long frames;
    // Every picture of the run saved whole (else: some may stay on the camera).
    bool allSaved;
    // Whether anything is erased at all (a doubtful transfer never is).
    bool erases;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FieldFaultTest : public FieldTest, public ::testing::WithParamInterface<FaultCase> {};

// One picture per tick whatever the camera does: exactly the frames asked
// are taken (no capture repeated blindly), and the rules of CheckNothingLost
// hold.
TEST_P(FieldFaultTest, RunKeepsItsPicturesThroughTheFault) {
    const FaultCase& c = GetParam();
    StartCamera(c.cable, c.faults);
    auto cli = StartCli(CliArgs(c.cable, {"--frames", std::to_string(c.frames), "--interval", "500",
                                          "--save-every-time", "--delete-after"}));
    const int code = cli->Wait(180s);
    EXPECT_NE(code, -1) << "the run did not end\n" << CliErr();
    EXPECT_EQ(Count("snapshot"), c.frames) << CliErr();
    const long saved = CheckNothingLost();
    if (c.allSaved) {
        EXPECT_EQ(saved, c.frames) << CliErr();
        EXPECT_EQ(Count("erase"), c.frames) << CliErr();
        EXPECT_EQ(code, 0) << CliErr();
    }
    if (!c.erases) {
        EXPECT_EQ(Count("erase"), 0) << CliErr();
    }
    // The run's count is of pictures the camera took, not of ticks.
    CheckJournal();
    EXPECT_NE(CliErr().find("time lapse: " + std::to_string(Count("snapshot")) + " of " +
                            std::to_string(c.frames) + " pictures taken"),
              std::string::npos)
        << CliErr();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FieldFaultTest,
    ::testing::Values(
        FaultCase{
            "UsbStallMidTransfer", Cable::Usb, {"stall-mid-transfer,at=2,for=6s"}, 4, true, true},
        FaultCase{"SerialStallMidTransfer",
                  Cable::Serial,
                  {"stall-mid-transfer,at=2,for=6s"},
                  3,
                  true,
                  true},
        FaultCase{"UsbGarbledPackets", Cable::Usb, {"garble-packet,at=3,every=7"}, 4, true, true},
        FaultCase{"SerialGarbledPacket", Cable::Serial, {"garble-packet,at=5"}, 2, true, true},
        FaultCase{"UsbEveryCopyGarbled", Cable::Usb, {"garble-always,at=30"}, 3, false, true},
        FaultCase{"UsbChecksumsNeverFilled", Cable::Usb, {"no-checksum"}, 2, false, false},
        FaultCase{"UsbSnapshotAnswerLost",
                  Cable::Usb,
                  {"lose-answer,action=snapshot,at=2"},
                  3,
                  true,
                  true},
        FaultCase{"SerialSnapshotAnswerLost",
                  Cable::Serial,
                  {"lose-answer,action=snapshot,at=2"},
                  2,
                  true,
                  true},
        FaultCase{"UsbSnapshotNeverHeard",
                  Cable::Usb,
                  {"ignore-command,action=snapshot,at=2"},
                  3,
                  true,
                  true},
        FaultCase{
            "UsbEraseAnswerLost", Cable::Usb, {"lose-answer,action=erase,at=2"}, 3, true, true},
        FaultCase{
            "UsbEraseNeverHeard", Cable::Usb, {"ignore-command,action=erase,at=2"}, 3, true, true},
        FaultCase{"UsbCameraRestarts", Cable::Usb, {"restart,at=2"}, 3, true, true},
        FaultCase{"SerialCameraRestarts", Cable::Serial, {"restart,at=2"}, 2, true, true}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// A camera whose every copy of a packet comes garbled leaves nothing: no
// file of that picture, and the picture stays on the camera.
TEST_F(FieldTest, EveryCopyGarbledLeavesNoFileAndNoErase) {
    StartCamera(Cable::Usb, {"garble-always,at=2"});
    auto cli = StartCli(CliArgs(
        Cable::Usb, {"--frames", "1", "--interval", "300", "--save-every-time", "--delete-after"}));
    EXPECT_EQ(cli->Wait(120s), 1) << CliErr();
    EXPECT_EQ(Count("snapshot"), 1);
    EXPECT_EQ(Count("erase"), 0);
    EXPECT_TRUE(SavedBytes().empty());
    CheckNothingLost();
}

// The camera process killed in the middle of a run and started again: the
// run says when it was lost and when it came back, counts the ticks it
// missed, and every later tick yields a picture saved whole.
TEST_F(FieldTest, CameraKilledAndStartedAgain) {
    for (const Cable cable : {Cable::Usb, Cable::Serial}) {
        SCOPED_TRACE(cable == Cable::Usb ? "usb" : "serial");
        StartCamera(cable, {"vanish,at=2"});
        auto cli = StartCli(CliArgs(
            cable, {"--frames", "3", "--interval", "1000", "--save-every-time", "--delete-after"}));
        ASSERT_TRUE(WaitFor([&] { return !camera_->Running(); }));
        ASSERT_TRUE(WaitFor([&] { return CliErr().find("camera lost at ") != std::string::npos; }))
            << CliErr();
        std::this_thread::sleep_for(2s);
        StartCamera(cable, {});
        EXPECT_EQ(cli->Wait(120s), 0) << CliErr();
        const std::string err = CliErr();
        EXPECT_NE(err.find("camera back at "), std::string::npos) << err;
        EXPECT_NE(err.find(" ticks missed"), std::string::npos) << err;
        EXPECT_EQ(Count("snapshot"), 3) << err;
        EXPECT_EQ(CheckNothingLost(), 3) << err;
        // The outage is on record, with each tick it missed.
        long missed = 0;
        long backMissed = -1;
        for (const field::Record& r : CheckJournal()) {
            missed += r.at("record") == "tick" && r.at("outcome") == "missed";
            if (r.at("record") == "camera-back") {
                backMissed = std::stol(r.at("missed"));
            }
        }
        EXPECT_GT(missed, 0);
        EXPECT_EQ(missed, backMissed);
        camera_.reset();
        fs::remove_all(root_ / "record");
        fs::remove_all(root_ / "pictures");
        fs::create_directories(root_ / "record");
        fs::create_directories(root_ / "pictures");
    }
}

// A camera gone for good: the run keeps looking for it and ends on the
// user's word, within five seconds of it.
TEST_F(FieldTest, CameraGoneForGoodEndsOnTheUsersWord) {
    StartCamera(Cable::Usb, {"vanish,at=2"});
    auto cli = StartCli(CliArgs(
        Cable::Usb, {"--frames", "5", "--interval", "300", "--save-every-time", "--delete-after"}));
    ASSERT_TRUE(WaitFor([&] { return CliErr().find("camera lost at ") != std::string::npos; }))
        << CliErr();
    std::this_thread::sleep_for(4s);
    EXPECT_TRUE(cli->Running()) << CliErr();
    const auto asked = std::chrono::steady_clock::now();
    cli->Signal(kSigTerm);
    EXPECT_NE(cli->Wait(30s), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    CheckNothingLost();
}

// One SIGTERM ends a run within five seconds whatever the camera does: here
// it stopped answering in the middle of a picture on the serial line.
TEST_F(FieldTest, ASignalEndsTheRunWithinSecondsOfASilentCamera) {
    StartCamera(Cable::Serial, {});
    auto cli = StartCli(CliArgs(Cable::Serial, {"--frames", "5", "--interval", "1000",
                                                "--save-every-time", "--delete-after"}));
    ASSERT_TRUE(WaitFor([&] { return Count("snapshot") >= 1; }));
    std::this_thread::sleep_for(1500ms);
    camera_->Signal(SIGSTOP);
    std::this_thread::sleep_for(500ms);
    const auto asked = std::chrono::steady_clock::now();
    cli->Signal(kSigTerm);
    EXPECT_EQ(cli->Wait(60s), 130) << CliErr();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s) << CliErr();
    camera_->Signal(SIGCONT);
    // Nothing partial is left.
    for (const auto& entry : fs::directory_iterator(root_ / "pictures")) {
        EXPECT_EQ(entry.path().filename().string().rfind('.', 0), std::string::npos)
            << entry.path();
    }
    CheckNothingLost();
}

// The camera process stopped (SIGSTOP) while a picture flows on the serial
// line at its real rate, and continued later: the link gets back in step
// and the run goes on with every picture saved.
TEST_F(FieldTest, CameraStoppedMidTransferAndContinued) {
    StartCamera(Cable::Serial, {});
    auto cli = StartCli(CliArgs(Cable::Serial, {"--frames", "3", "--interval", "1000",
                                                "--save-every-time", "--delete-after"}));
    // The first picture's transfer has begun once its progress shows.
    ASSERT_TRUE(WaitFor([&] { return Count("snapshot") >= 1; }));
    std::this_thread::sleep_for(1500ms);
    camera_->Signal(SIGSTOP);
    std::this_thread::sleep_for(8s);
    camera_->Signal(SIGCONT);
    EXPECT_EQ(cli->Wait(150s), 0) << CliErr();
    EXPECT_EQ(Count("snapshot"), 3) << CliErr();
    EXPECT_EQ(CheckNothingLost(), 3) << CliErr();
}

}  // namespace
