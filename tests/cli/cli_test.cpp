// tulk-cli as a script runs it: its own process, on the serial line of a
// simulated camera (a pseudo-terminal), with a settings store and a save
// folder of its own for each test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "camera/registers.h"
#include "sim/camsim.h"
#include "tests/cli/platform/child_process.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Text(const camsim::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Waits for the condition, giving up after a minute: a limit for a test that
// hangs, not a measure of speed.
template <typename Condition>
bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The number in the text right after the words, or -1.
long NumberAfter(const std::string& text, const std::string& words) {
    const auto at = text.find(words);
    if (at == std::string::npos) {
        return -1;
    }
    const std::string rest = text.substr(at + words.size());
    const auto digits = rest.find_first_not_of("0123456789");
    return digits == 0 ? -1 : std::stol(rest.substr(0, digits));
}

// A progress line "NAME  done/total bytes  R kB/s  T left" for the picture.
bool ProgressShown(const std::string& text, const std::string& name) {
    for (auto at = text.find(name + "  "); at != std::string::npos;
         at = text.find(name + "  ", at + 1)) {
        std::string line = text.substr(at + name.size() + 2);
        line = line.substr(0, line.find_first_of("\r\n"));
        const auto slash = line.find('/');
        const auto bytes = line.find(" bytes  ");
        const auto rate = line.find(" kB/s  ");
        const auto left = line.find(" left");
        if (NumberAfter(line, "") >= 0 && slash != std::string::npos && slash < bytes &&
            bytes != std::string::npos && rate != std::string::npos && bytes < rate &&
            left != std::string::npos && rate < left) {
            return true;
        }
    }
    return false;
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tulk-cli-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* sub : {"config", "state", "run", "home", "pictures"}) {
            fs::create_directories(root_ / sub);
        }
        fs::permissions(root_ / "run", fs::perms::owner_all);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        setenv("HOME", (root_ / "home").c_str(), 1);
        folder_ = root_ / "pictures";

        camera_.setModel("SR981");
        camera_.generatePictures(3, 64, 48);
        camera_.setInt(C990_RESOLUTION, 11);
        camera_.setInt(C990_APERTURE, 2);
        camera_.setInt(C990_COLOURMODE, 2);
        camera_.setInt(C990_BATTERY, 0);
        camera_.setInt(C990_FLASH, 3);
        camera_.setInt(WHITEBAL, 5);
        camera_.setInt(C990_IMAGEADJ, 1);
        camera_.setInt(C990_METERING, 5);
        camera_.setInt(C990_FOCUSMODE, 3);
        const std::string tty = camera_.startSerial();
        ASSERT_FALSE(tty.empty());
        setenv("TULK_COM1", tty.c_str(), 1);
    }
    void TearDown() override {
        camera_.stop();
        unsetenv("TULK_COM1");
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The camera on COM1 at 115200, pictures into the test's folder.
    std::vector<std::string> Args(std::vector<std::string> more) const {
        std::vector<std::string> args{"--port", "1",        "--speed",
                                      "115200", "--folder", folder_.string()};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                        bool terminal = false) {
        auto child = std::make_unique<ChildProcess>();
        EXPECT_TRUE(child->Start(TULK_CLI, args, (root_ / "out").string(), (root_ / "err").string(),
                                 terminal));
        return child;
    }
    Result Finish(ChildProcess& child) {
        Result result;
        result.code = child.Wait(std::chrono::seconds(120));
        result.out = ReadFile(root_ / "out");
        result.err = child.Terminal().empty() ? ReadFile(root_ / "err") : child.Terminal();
        return result;
    }
    Result Run(const std::vector<std::string>& args) {
        auto child = Start(args);
        return Finish(*child);
    }

    // Command packets the camera received: command 0 set, 2 action, 4 getvar.
    int Count(int command, int reg) const {
        int n = 0;
        for (const auto& c : camera_.commands()) {
            n += c.command == command && c.reg == reg;
        }
        return n;
    }
    std::vector<std::int32_t> Writes(int reg) const {
        std::vector<std::int32_t> values;
        for (const auto& c : camera_.commands()) {
            if (c.command == 0 && c.reg == reg) {
                values.push_back(c.value);
            }
        }
        return values;
    }
    // The camera was signed off, and nothing came after it.
    bool SignedOff() const {
        const auto commands = camera_.commands();
        return !commands.empty() && commands.back().command == 2 &&
               commands.back().reg == C990_SIGNOFF;
    }
    // The folder's files but a time lapse's journal ("tulk-run-*.jsonl"),
    // which Journals() finds.
    std::vector<std::string> FolderFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("tulk-run-", 0) != 0) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Journals() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("tulk-run-", 0) == 0 && entry.path().extension() == ".jsonl") {
                names.push_back(name);
            }
        }
        return names;
    }
    std::string PictureBytes(int number) const {
        return Text(camera_.pictures().at(static_cast<std::size_t>(number - 1)).jpeg);
    }

    fs::path root_;
    fs::path folder_;
    camsim::Camera camera_;
};

TEST_F(CliTest, SummaryShowsCountsAndEverySettingByItsListName) {
    const Result text = Run(Args({"--summary"}));
    ASSERT_EQ(text.code, 0) << text.err;
    for (const char* line :
         {"Model: SR981\n", "Pictures: 3\n", "Frames left: 97\n", "Battery: 100\n",
          "Resolution: Normal\n", "Aperture: Medium\n", "Colour Mode: B/W\n", "Flash: RedEye\n",
          "White Balance: Flash\n", "Image Adjust: More Contrast\n", "Metering Mode: Matrix\n",
          "Focus: Infinity\n", "Zoom: 1\n"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line << " in\n" << text.out;
    }
    EXPECT_NE(text.out.find("Avail memory: "), std::string::npos);
    EXPECT_TRUE(SignedOff());

    const Result json = Run(Args({"--summary", "--json"}));
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_NE(json.out.find("\"Pictures\": 3, \"Frames left\": 97"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"Colour Mode\": \"B/W\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
}

TEST_F(CliTest, UsbAndTheDemoCameraServeAsWell) {
    ASSERT_FALSE(camera_.startUsb(0).empty());
    camera_.clearRecord();
    const Result usb = Run({"--usb", "--summary"});
    ASSERT_EQ(usb.code, 0) << usb.err;
    EXPECT_NE(usb.out.find("Pictures: 3\n"), std::string::npos) << usb.out;
    ASSERT_FALSE(camera_.commands().empty());
    EXPECT_EQ(camera_.commands().front().via, camsim::Received::Usb);
    camera_.stop();

    // The window's demo camera: six pictures, on COM1.
    const Result demo = Run({"--demo", "--summary", "--json"});
    ASSERT_EQ(demo.code, 0) << demo.err;
    EXPECT_NE(demo.out.find("\"Model\": \"SR981\", \"Pictures\": 6"), std::string::npos)
        << demo.out;
}

// The demo camera is this process's alone: another program's camera on the
// USB socket the demo would take is never touched by it.
TEST_F(CliTest, TheDemoCameraNeverDrivesAnotherProgramsCamera) {
    ASSERT_FALSE(camera_.startUsb(0).empty());
    camera_.clearRecord();
    const Result demo = Run({"--demo", "--usb", "--delete-all", "--yes"});
    EXPECT_EQ(demo.code, 0) << demo.err;
    EXPECT_TRUE(camera_.commands().empty());
    EXPECT_EQ(camera_.pictures().size(), 3u);
}

// What the options refuse, and what they take with a word.
TEST_F(CliTest, SpeedsAndIntervalsTheCameraCannotKeep) {
    const Result speed = Run(Args({"--speed", "12345", "--summary"}));
    EXPECT_EQ(speed.code, 2);
    EXPECT_NE(speed.err.find("9600, 19200, 38400, 57600 or 115200"), std::string::npos)
        << speed.err;
    EXPECT_TRUE(camera_.commands().empty());
    const Result interval = Run(Args({"--frames", "1", "--interval", "50"}));
    EXPECT_EQ(interval.code, 0) << interval.err;
    EXPECT_NE(interval.err.find("an interval of 50 ms is raised to 100 ms"), std::string::npos)
        << interval.err;
}

// The save folder gone in the middle of a run: the picture stays on the
// camera, and the exit code says it was the folder.
TEST_F(CliTest, ASaveFolderGoneMidRunExitsWithTheFoldersCode) {
    auto child =
        Start(Args({"--frames", "2", "--interval", "1500", "--save-every-time", "--delete-after"}));
    ASSERT_TRUE(WaitFor([&] { return !ReadFile(root_ / "out").empty(); }));
    fs::remove_all(folder_);
    const Result result = Finish(*child);
    EXPECT_EQ(result.code, 4) << result.err;
    EXPECT_NE(result.err.find(folder_.string()), std::string::npos) << result.err;
    EXPECT_EQ(Count(2, ERASELAST), 1);
    EXPECT_EQ(camera_.pictures().size(), 4u);
}

// A hook that a signal ended is said to be so, not "could not be run".
TEST_F(CliTest, AHookEndedByASignalIsSaidSo) {
    const Result result = Run(Args({"--get-last", "--hook", "kill -TERM $$"}));
    EXPECT_EQ(result.code, 6);
    EXPECT_NE(result.err.find("the hook was ended by signal 15"), std::string::npos) << result.err;
}

TEST_F(CliTest, CaptureTakesOnePictureWithTheFocusModeAroundIt) {
    const Result result = Run(Args({"--capture"}));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(camera_.pictures().size(), 4u);
    EXPECT_EQ(Count(2, C990_C2_SNAPSHOT), 1);
    EXPECT_EQ(Writes(C990_FOCUSMODE), (std::vector<std::int32_t>{3, 3}));
    // Nothing is downloaded.
    EXPECT_TRUE(FolderFiles().empty());
    EXPECT_EQ(Count(4, C990_FRAMEDATA), 0);
}

TEST_F(CliTest, GetAllSavesEveryPictureAndNewOnlyThoseNotThere) {
    const Result all = Run(Args({"--get-all"}));
    ASSERT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(FolderFiles(),
              (std::vector<std::string>{"DSCN0001.JPG", "DSCN0002.JPG", "DSCN0003.JPG"}));
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(ReadFile(folder_ / ("DSCN000" + std::to_string(n) + ".JPG")), PictureBytes(n));
    }
    EXPECT_EQ(all.out, (folder_ / "DSCN0001.JPG").string() + "\n" +
                           (folder_ / "DSCN0002.JPG").string() + "\n" +
                           (folder_ / "DSCN0003.JPG").string() + "\n");

    fs::remove(folder_ / "DSCN0002.JPG");
    camera_.clearRecord();
    const Result fresh = Run(Args({"--get-all", "--new"}));
    ASSERT_EQ(fresh.code, 0) << fresh.err;
    EXPECT_EQ(fresh.out, (folder_ / "DSCN0002.JPG").string() + "\n");
    EXPECT_EQ(Count(4, C990_FRAMEDATA), 1);
    EXPECT_EQ(ReadFile(folder_ / "DSCN0002.JPG"), PictureBytes(2));
}

TEST_F(CliTest, GetLastSavesTheNewestAndDeleteLastErasesIt) {
    const Result last = Run(Args({"--capture", "--get-last"}));
    ASSERT_EQ(last.code, 0) << last.err;
    EXPECT_EQ(FolderFiles(), std::vector<std::string>{"DSCN0004.JPG"});
    EXPECT_EQ(ReadFile(folder_ / "DSCN0004.JPG"), PictureBytes(4));

    const Result erased = Run(Args({"--delete-last"}));
    ASSERT_EQ(erased.code, 0) << erased.err;
    EXPECT_EQ(camera_.pictures().size(), 3u);
}

TEST_F(CliTest, DeleteAllWantsYes) {
    const Result refused = Run(Args({"--delete-all"}));
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
    // Not even connected.
    EXPECT_TRUE(camera_.commands().empty());
    EXPECT_EQ(camera_.pictures().size(), 3u);

    const Result erased = Run(Args({"--delete-all", "--yes"}));
    ASSERT_EQ(erased.code, 0) << erased.err;
    EXPECT_TRUE(camera_.pictures().empty());
    EXPECT_EQ(Count(2, ERASEALL), 1);
}

TEST_F(CliTest, SetWritesTheValueOfTheListEntry) {
    struct Case {
        const char* set;
        int reg;
        std::vector<std::int32_t> written;
    };
    const Case cases[] = {
        {"White Balance=Preset", WHITEBAL, {6}},
        {"metering-mode=spot af", C990_METERING, {6}},
        {"Focus=Infinity", C990_FOCUSMODE, {1, 3}},
        {"ColourMode=B/W", C990_COLOURMODE, {2}},
        {"Resolution=XGA Fine", C990_RESOLUTION, {9}},
        {"Flash=Slow", C990_FLASH, {4}},
    };
    for (const Case& c : cases) {
        camera_.clearRecord();
        const Result result = Run(Args({"--set", c.set}));
        EXPECT_EQ(result.code, 0) << c.set << ": " << result.err;
        EXPECT_EQ(Writes(c.reg), c.written) << c.set;
    }
    camera_.clearRecord();
    ASSERT_EQ(Run(Args({"--set", "Viewfinder=Previous"})).code, 0);
    ASSERT_EQ(Count(2, LCDMODE), 1);
    for (const auto& command : camera_.commands()) {
        if (command.command == 2 && command.reg == LCDMODE) {
            EXPECT_EQ(command.data, camsim::Bytes{8});
        }
    }
}

TEST_F(CliTest, GetPrintsTheEntryTheListShows) {
    const Result result = Run(Args({"--get", "flash", "--set", "Flash=Off", "--get", "Flash"}));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "RedEye\nOff\n");
    const Result json = Run(Args({"--get", "zoom", "--json"}));
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out, "{\"Zoom\": 1}\n");
}

TEST_F(CliTest, ACommandLineThatCannotBeCarriedOutSendsNothing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--set", "Flash=Sometimes"},
             {"--set", "Sharpness=High"},
             {"--get", "Viewfinder"},
             {"--frobnicate"},
             {"--interval", "500"},
             {"--frames", "2", "--ftp"},
             {"--port", "1", "--usb", "--summary"},
             {},
         }) {
        const Result result = Run(args.empty() ? std::vector<std::string>{} : Args(args));
        EXPECT_EQ(result.code, 2) << (args.empty() ? "" : args[0]) << ": " << result.err;
        EXPECT_NE(result.err.find("tulk-cli: "), std::string::npos);
    }
    EXPECT_TRUE(camera_.commands().empty());
}

TEST_F(CliTest, AResolutionTheModelDoesNotNameIsNotWritten) {
    const Result result = Run(Args({"--set", "Resolution=3:2 Fine"}));
    EXPECT_EQ(result.code, 2) << result.err;
    EXPECT_TRUE(Writes(C990_RESOLUTION).empty());
    EXPECT_NE(ReadFile(root_ / "state" / "tulk" / "tulk.log").find("Bad res setting"),
              std::string::npos);
    EXPECT_TRUE(SignedOff());
}

TEST_F(CliTest, ExitCodesTellWhatFailed) {
    // No FTP settings.
    EXPECT_EQ(Run(Args({"--frames", "1", "--interval", "100", "--save-every-time", "--ftp"})).code,
              5);
    // A refused capture.
    camera_.setAction(C990_C2_SNAPSHOT, [](const camsim::Bytes&) { return false; });
    EXPECT_EQ(Run(Args({"--capture"})).code, 1);
    // A save folder that is a file.
    std::ofstream(root_ / "file") << "x";
    auto args = Args({"--get-all"});
    args[5] = (root_ / "file").string();
    EXPECT_EQ(Run(args).code, 4);
    // A hook that fails: the picture is saved all the same.
    EXPECT_EQ(Run(Args({"--get-last", "--hook", "exit 7"})).code, 6);
    // (the time lapse's picture, found there with the same bytes)
    EXPECT_EQ(FolderFiles(), std::vector<std::string>{"DSCN0004.JPG"});
    // No camera on the line.
    camera_.stop();
    setenv("TULK_COM1", (root_ / "no-such-tty").c_str(), 1);
    const Result none = Run(Args({"--summary"}));
    EXPECT_EQ(none.code, 3);
    EXPECT_NE(none.err.find("no camera answered on COM1"), std::string::npos) << none.err;
}

TEST_F(CliTest, HelpListsTheExitCodes) {
    const Result help = Run({"--help"});
    ASSERT_EQ(help.code, 0);
    for (const char* text : {"--get-all", "--interval MS", "--hook CMD", "TULK_PICTURE", "130",
                             "White Balance: \"Auto\", \"Sunny\""}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}

TEST_F(CliTest, TheHookRunsAfterEachPictureWithItsPath) {
    const fs::path log = root_ / "hook.log";
    const std::string hook =
        "test -s \"$TULK_PICTURE\" && echo \"$TULK_PICTURE\" >> " + log.string();
    const Result result = Run(Args({"--get-all", "--hook", hook}));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(ReadFile(log), result.out);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3);
}

TEST_F(CliTest, ATimeLapseDropsTicksThatComeDuringAPicture) {
    // Each snapshot keeps the camera busy for six intervals.
    camera_.setActionTime(C990_C2_SNAPSHOT, std::chrono::milliseconds(600));
    const Result result =
        Run(Args({"--interval", "100", "--frames", "3", "--save-every-time", "--delete-after"}));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(Count(2, C990_C2_SNAPSHOT), 3);
    // At least the five ticks inside each snapshot.
    EXPECT_GE(NumberAfter(result.err, "3 of 3 pictures taken, "), 15) << result.err;
    EXPECT_NE(result.err.find(" ticks dropped"), std::string::npos) << result.err;
    // Each picture saved, then erased.
    EXPECT_EQ(FolderFiles(),
              (std::vector<std::string>{"DSCN0004.JPG", "DSCN0005.JPG", "DSCN0006.JPG"}));
    EXPECT_EQ(Count(2, ERASELAST), 3);
    EXPECT_EQ(camera_.pictures().size(), 3u);
    // And the run's journal beside them, which standard error names.
    ASSERT_EQ(Journals().size(), 1u);
    EXPECT_NE(result.err.find("journal: " + (folder_ / Journals()[0]).string()), std::string::npos)
        << result.err;
}

TEST_F(CliTest, SigintEndsAfterThePictureInHandAndSignsOff) {
    // Two pictures of many packets each, at the line's real rate; the three
    // there already are skipped.
    camera_.setPacing(true);
    camera_.addPicture(camsim::Picture{});
    camera_.addPicture(camsim::Picture{});
    ASSERT_GT(PictureBytes(4).size(), 8u * 2048u);
    for (int n = 1; n <= 3; ++n) {
        std::ofstream(folder_ / ("DSCN000" + std::to_string(n) + ".JPG"), std::ios::binary)
            << PictureBytes(n);
    }
    camera_.clearRecord();
    auto child = Start(Args({"--get-all", "--new"}));
    // The host has taken a few of the picture's data packets.
    auto acksIntoTransfer = [this] {
        int acks = -1;
        for (const auto& r : camera_.received()) {
            if (r.kind == camsim::Received::Packet && r.command == 4 && r.reg == C990_FRAMEDATA) {
                acks = 0;
            } else if (acks >= 0 && r.kind == camsim::Received::Control && r.type == 0x06) {
                ++acks;
            }
        }
        return acks;
    };
    ASSERT_TRUE(WaitFor([&] { return acksIntoTransfer() >= 3 || !child->Running(); }));
    ASSERT_TRUE(child->Running());
    child->Signal(kSigInt);
    const Result result = Finish(*child);
    EXPECT_EQ(result.code, 130) << result.err;
    EXPECT_EQ(Count(4, C990_FRAMEDATA), 1);
    // The picture in hand whole, and no part of any other in the folder.
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"DSCN0001.JPG", "DSCN0002.JPG",
                                                       "DSCN0003.JPG", "DSCN0004.JPG"}));
    EXPECT_EQ(ReadFile(folder_ / "DSCN0004.JPG"), PictureBytes(4));
    EXPECT_TRUE(SignedOff());
}

TEST_F(CliTest, AReaderThatWentAwayDoesNotCutTheRunShort) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(TULK_CLI, Args({"--get-all"}), "", (root_ / "err").string()));
    EXPECT_EQ(child.Wait(std::chrono::seconds(120)), 0) << ReadFile(root_ / "err");
    EXPECT_EQ(FolderFiles().size(), 3u);
    EXPECT_TRUE(SignedOff());
}

TEST_F(CliTest, ProgressShowsOnATerminalOnly) {
    camera_.setPacing(true);
    camera_.addPicture(camsim::Picture{});  // 640 x 480, seconds at 115200
    auto child = Start(Args({"--get-last"}), true);
    const Result shown = Finish(*child);
    ASSERT_EQ(shown.code, 0) << shown.err;
    EXPECT_TRUE(ProgressShown(shown.err, "DSCN0004.JPG")) << shown.err;

    const Result quiet = Run(Args({"--get-last"}));
    ASSERT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find("bytes"), std::string::npos) << quiet.err;
}

// pyftpdlib on 127.0.0.1, serving home to one user.
class FtpServer {
public:
    explicit FtpServer(const fs::path& dir) : dir_(dir) {
        fs::create_directories(Home());
        started_ = process_.Start(
            "/usr/bin/python3",
            {TULK_FTP_SERVER, Home().string(), "camera", "s3cret", (dir_ / "port").string()},
            (dir_ / "ftp.out").string(), (dir_ / "ftp.err").string());
    }
    ~FtpServer() {
        process_.Signal(kSigTerm);
        process_.Wait(std::chrono::seconds(10));
    }
    // The port, once the server listens; empty when it never does.
    std::string Port() {
        if (!started_ ||
            !WaitFor([this] { return fs::exists(dir_ / "port") || !process_.Running(); })) {
            return {};
        }
        return ReadFile(dir_ / "port");
    }
    fs::path Home() const { return dir_ / "home"; }

private:
    fs::path dir_;
    ChildProcess process_;
    bool started_ = false;
};

TEST_F(CliTest, ATimeLapsePublishesEachPictureToTheWindowsFtpServer) {
    FtpServer server(root_);
    const std::string port = server.Port();
    ASSERT_FALSE(port.empty());
    for (const auto& [name, value] :
         {std::pair{"FTPSite", "127.0.0.1:" + port}, std::pair{"FTPName", std::string("camera")},
          std::pair{"FTPPass", std::string("s3cret")}, std::pair{"FTPDir", std::string("")}}) {
        std::string text = value;
        ASSERT_EQ(SettingString(name, &text, 1), 0);
    }
    const Result result =
        Run(Args({"--interval", "100", "--frames", "2", "--save-every-time", "--ftp"}));
    ASSERT_EQ(result.code, 0) << result.err;
    // One remote file, the second picture's bytes; nothing half sent.
    std::vector<std::string> remote;
    for (const auto& entry : fs::directory_iterator(server.Home())) {
        remote.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(remote, std::vector<std::string>{"lastpic.jpg"});
    EXPECT_EQ(ReadFile(server.Home() / "lastpic.jpg"), PictureBytes(5));

    // A server that refuses the login: the pictures are saved all the same.
    std::string wrong = "wrong";
    ASSERT_EQ(SettingString("FTPPass", &wrong, 1), 0);
    const Result refused =
        Run(Args({"--interval", "100", "--frames", "1", "--save-every-time", "--ftp"}));
    EXPECT_EQ(refused.code, 5) << refused.err;
    EXPECT_NE(refused.err.find("publishing"), std::string::npos) << refused.err;
    // Standard output carries only the pictures' paths.
    EXPECT_NE(refused.err.find("ERROR!  "), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out.find("ERROR!"), std::string::npos) << refused.out;
    EXPECT_EQ(FolderFiles().size(), 3u);
}

}  // namespace
