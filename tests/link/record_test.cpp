#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/eph.h"
#include "log/platform/debug_output.h"
#include "log/platform/last_error.h"

namespace {

std::vector<std::pair<int, std::string>> g_seen;
void keep(int code, const char* message) {
    g_seen.emplace_back(code, message);
}

std::vector<std::string> g_debug;
void keepDebug(const char* text) {
    g_debug.emplace_back(text);
}

TEST(Record, NewFillsDefaults) {
    eph_iob* iob = eph_new(nullptr, nullptr, nullptr, nullptr, 3);
    ASSERT_NE(iob, nullptr);
    EXPECT_EQ(iob->port, -1);
    EXPECT_EQ(iob->debug, 3);
    EXPECT_EQ(iob->store_cb, nullptr);
    ASSERT_NE(iob->error_cb, nullptr);
    ASSERT_NE(iob->progress_cb, nullptr);
    iob->error_cb(1, "nothing happens");
    iob->progress_cb(10);
    // The default allocator allocates, grows keeping the bytes, and releases.
    auto* p = static_cast<unsigned char*>(iob->realloc_cb(nullptr, 16));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 16);
    p = static_cast<unsigned char*>(iob->realloc_cb(p, 4096));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[15], 0xAB);
    EXPECT_EQ(iob->realloc_cb(p, 0), nullptr);
    eph_free(iob);
}

TEST(Record, ErrorMessages) {
    eph_iob* iob = eph_new(keep, nullptr, nullptr, nullptr, 0);
    struct Case {
        int code;
        const char* format;
        const char* message;
    } cases[] = {
        {EPH_ERR_EXCESSIVE_RETRIES, nullptr, ""},
        {EPH_ERR_BAD_CRC, nullptr, "Bad CRC on packet"},
        {EPH_ERR_DATA_TOO_LONG, nullptr, "Data too long"},
        {42, nullptr, "System error 42"},
        {10010, nullptr, "System error 10010"},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        sys_setlasterror(EACCES);
        eph_error(iob, c.code, c.format);
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_EQ(g_seen[0].first, c.code);
        EXPECT_EQ(g_seen[0].second,
                  std::string(c.message) + "\nWindows says : " + sys_errortext(EACCES) + " : \n");
    }
    g_seen.clear();
    sys_setlasterror(0);
    eph_error(iob, EPH_ERR_BAD_CRC, "crc received=0x%04x counted=0x%04x", 0x12, 0x100);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].second, std::string("crc received=0x0012 counted=0x0100\nWindows says : ") +
                                    sys_errortext(0) + " : \n");
    // A message that fills the buffer is cut, not overrun.
    g_seen.clear();
    const std::string huge(5000, 'y');
    eph_error(iob, 1, "%s", huge.c_str());
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].second, huge.substr(0, 4095));
    eph_free(iob);
}

TEST(Record, SysErrTextIsPerThread) {
    const char* mine = eph_syserrtext(5);
    std::string other;
    std::thread([&] { other = eph_syserrtext(121); }).join();
    EXPECT_STREQ(mine, "System error 5");
    EXPECT_EQ(other, "System error 121");
}

TEST(Record, SystemErrorCallbackKeepsTimeoutsOffStandardError) {
    set_debug_hook(keepDebug);
    struct Case {
        int code;
        bool toStderr;
    } cases[] = {{EPH_ERR_TIMEOUT, false}, {EPH_ERR_BAD_CRC, true}, {5, true}};
    for (const Case& c : cases) {
        g_debug.clear();
        testing::internal::CaptureStderr();
        eph_system_error_cb(c.code, "text");
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string line = "Error " + std::to_string(c.code) + ": text\n";
        ASSERT_EQ(g_debug.size(), 1u);
        EXPECT_EQ(g_debug[0], line);
        EXPECT_EQ(err, c.toStderr ? line : "");
    }
    set_debug_hook(nullptr);
}

TEST(Record, SystemStoreCallbackWritesToItsStream) {
    const unsigned char chunk[] = {1, 2, 3};
    eph_setstorestream(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(eph_system_store_cb(chunk, 3), -1);
    testing::internal::GetCapturedStderr();
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    eph_setstorestream(f);
    EXPECT_EQ(eph_system_store_cb(chunk, 3), 0);
    eph_setstorestream(nullptr);
    EXPECT_EQ(std::ftell(f), 3);
    std::fclose(f);
}

}  // namespace
