#include "log/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/platform/debug_output.h"
#include "log/platform/last_error.h"

namespace fs = std::filesystem;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLog();
        char dir[] = "/tmp/tulk-log-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        state_ = dir;
        // A state folder that does not exist yet: the log makes it.
        setenv("XDG_STATE_HOME", (state_ / "state").c_str(), 1);
    }
    void TearDown() override {
        CloseLog();
        fs::remove_all(state_);
    }
    std::string logText() const {
        std::ifstream in(state_ / "state/tulk/tulk.log", std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // The log without the header of its run.
    std::string body() const {
        const std::string text = logText();
        const auto at = text.find("\r\n\r\n");
        return at == std::string::npos ? text : text.substr(at + 4);
    }
    fs::path state_;
};

TEST_F(LogTest, FirstLineOfARunFollowsTheHeader) {
    WriteLog("TulkDlg", 120, "zoom failed");
    const std::string text = logText();
    ASSERT_EQ(text.rfind("\r\nLog started : ", 0), 0u) << text;
    // The date is ctime's: "Www Mmm dd hh:mm:ss yyyy\n".
    const auto dateEnd = text.find('\n', 16);
    ASSERT_NE(dateEnd, std::string::npos);
    EXPECT_EQ(dateEnd - 16, 24u) << text;
    EXPECT_EQ(text.substr(dateEnd + 1), "\r\n\r\nLog (120) : warning : zoom failed\r\n");
    EXPECT_EQ(LogFilePath(), (state_ / "state/tulk/tulk.log").string());
}

TEST_F(LogTest, LineForms) {
    struct Case {
        int line;
        const char* message;
        const char* written;
    } cases[] = {
        {120, "zoom failed", "Log (120) : warning : zoom failed\r\n"},
        {0, "abc", "abc\n"},
        {77, "RegDump 5 = 3", "RegDump 5 = 3\n"},
        {-4, "negative", "Log (-4) : warning : negative\r\n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        WriteLog("camera_ops", c.line, c.message);
        expected += c.written;
    }
    EXPECT_EQ(body(), expected);
}

TEST_F(LogTest, EveryLineIsInTheFileWhenWriteLogReturns) {
    WriteLog("TulkDlg", 1, "one");
    EXPECT_EQ(body(), "Log (1) : warning : one\r\n");
    WriteLog("TulkDlg", 2, "two");
    EXPECT_EQ(body(), "Log (1) : warning : one\r\nLog (2) : warning : two\r\n");
}

TEST_F(LogTest, EachRunAppendsWithAHeaderOfItsOwn) {
    WriteLog("", 0, "first run");
    CloseLog();
    WriteLog("", 0, "second run");
    const std::string text = logText();
    const auto firstHeader = text.find("\r\nLog started : ");
    const auto secondHeader = text.rfind("\r\nLog started : ");
    ASSERT_EQ(firstHeader, 0u);
    ASSERT_NE(secondHeader, firstHeader);
    const auto first = text.find("\r\n\r\nfirst run\n");
    const auto second = text.find("\r\n\r\nsecond run\n");
    EXPECT_LT(first, secondHeader);
    EXPECT_GT(second, secondHeader);
    EXPECT_NE(second, std::string::npos);
}

TEST_F(LogTest, OverlongMessageIsCutNotOverrun) {
    const std::string huge(6000, 'x');
    WriteLog("TulkDlg", 9, huge.c_str());
    const std::string line = body();
    EXPECT_EQ(line.size(), kErrorTextSize - 1);
    EXPECT_EQ(line.rfind("Log (9) : warning : xxx", 0), 0u);
}

TEST_F(LogTest, UnwritableFolderLosesNothingButTheFile) {
    // A file where the folder should be: the log cannot open, and a later
    // call tries again once the way is clear.
    fs::create_directories(state_ / "state");
    std::ofstream(state_ / "state/tulk") << "in the way";
    WriteLog("TulkDlg", 3, "lost to the file");
    fs::remove(state_ / "state/tulk");
    WriteLog("TulkDlg", 4, "kept");
    EXPECT_EQ(body(), "Log (4) : warning : kept\r\n");
}

TEST_F(LogTest, HexDumpRows) {
    const unsigned char five[] = {0x00, 0x01, 0x0a, 0xff, 0x10};
    HexDumpToLog(five, 0);
    HexDumpToLog(five, sizeof five);
    std::vector<unsigned char> many(45);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<unsigned char>(i);
    }
    HexDumpToLog(many.data(), many.size());
    std::string rows = "00 01 0a ff 10 \n";
    for (std::size_t row = 0; row < 3; ++row) {
        std::string line;
        for (std::size_t i = row * 20; i < std::min<std::size_t>(45, row * 20 + 20); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", static_cast<unsigned>(i));
            line += hex;
        }
        rows += line + "\n";
    }
    // The five bytes after the last full row make a row of their own.
    EXPECT_EQ(body(), rows);
}

TEST_F(LogTest, ErrorTextIsPerThread) {
    EXPECT_STREQ(g_szErrorText, "No Error");
    std::snprintf(g_szErrorText, kErrorTextSize, "main thread %d", 1);
    std::string other;
    std::thread([&] {
        other = g_szErrorText;
        std::snprintf(g_szErrorText, kErrorTextSize, "worker");
    }).join();
    EXPECT_EQ(other, "No Error");
    EXPECT_STREQ(g_szErrorText, "main thread 1");
}

TEST_F(LogTest, ConcurrentWritersKeepLinesWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                std::snprintf(g_szErrorText, kErrorTextSize, "thread %d line %d", t, i);
                WriteLog("TulkDlg", 10 + t, g_szErrorText);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::istringstream lines(body());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        int lineNo = 0, t = 0, i = 0;
        ASSERT_EQ(
            std::sscanf(line.c_str(), "Log (%d) : warning : thread %d line %d\r", &lineNo, &t, &i),
            3)
            << line;
        EXPECT_EQ(lineNo, 10 + t);
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    // One header only: the file was opened once.
    const std::string text = logText();
    EXPECT_EQ(text.find("Log started"), text.rfind("Log started"));
}

std::vector<std::string>* g_debug = nullptr;
void captureDebug(const char* text) {
    g_debug->push_back(text);
}

TEST_F(LogTest, EchoesTheLastSystemErrorAndTheLineToTheDebugOutput) {
    std::vector<std::string> seen;
    g_debug = &seen;
    set_debug_hook(captureDebug);
    sys_setlasterror(ENOENT);
    WriteLog("TulkDlg", 5, "no file");
    set_debug_hook(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], sys_errortext(ENOENT));
    EXPECT_EQ(seen[1], "Log (5) : warning : no file\r\n");
}

TEST_F(LogTest, MessageBoxGoesThroughTheHook) {
    std::string caption, text;
    int type = -1;
    SetMessageBoxHook([&](const char* c, const char* t, int ty) {
        caption = c;
        text = t;
        type = ty;
        return IDCANCEL;
    });
    EXPECT_EQ(ShowMessage("Disk full", MB_OKCANCEL), IDCANCEL);
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(caption, "Tulk Message");
    EXPECT_EQ(text, "Disk full");
    EXPECT_EQ(type, MB_OKCANCEL);
    EXPECT_EQ(ShowMessage("no box yet", MB_OKCANCEL), IDOK);
}

}  // namespace
