#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "camera/download.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes app12(const std::string& text) {
    const std::size_t length = text.size() + 2;
    Bytes out;
    out.reserve(text.size() + 4);
    for (unsigned char b :
         {0xFF, 0xEC, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)}) {
        out.push_back(b);
    }
    for (char c : text) {
        out.push_back(static_cast<unsigned char>(c));
    }
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        for (unsigned char b : p) {
            out.push_back(b);
        }
    }
    return out;
}

std::string found(const Bytes& data) {
    const unsigned char* start = data.data();
    long length = static_cast<long>(data.size());
    if (FindJpegApp12(&start, &length) != 0) {
        EXPECT_EQ(start, nullptr);
        EXPECT_EQ(length, 0);
        return "<none>";
    }
    EXPECT_GE(start, data.data());
    EXPECT_LE(start + length, data.data() + data.size());
    return std::string(reinterpret_cast<const char*>(start), static_cast<std::size_t>(length));
}

TEST(Jpeg, FindsTheApp12Segment) {
    const std::string block = std::string("Title\0\0\0", 8) + "TimeDate=978307200\n";
    const Bytes soi{0xFF, 0xD8};
    const Bytes app0{0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'};
    struct Case {
        const char* what;
        Bytes data;
        std::string expected;
    } cases[] = {
        {"after other segments", join({soi, app0, app12(block), {0xFF, 0xD9}}), block},
        {"fill bytes before the marker", join({soi, {0xFF, 0xFF}, app12(block)}), block},
        {"last byte of the segment kept", join({soi, app12("TimeDate=12")}), "TimeDate=12"},
        {"no segment", join({soi, app0, {0xFF, 0xD9}}), "<none>"},
        {"length runs off the end", join({soi, {0xFF, 0xEC, 0x10, 0x00, 'a', 'b'}}), "<none>"},
        {"marker in the last byte", join({soi, {0xFF, 0xEC}}), "<none>"},
        {"length byte cut", join({soi, {0xFF, 0xEC, 0x00}}), "<none>"},
        {"ends in fill bytes", join({soi, {0xFF, 0xFF, 0xFF}}), "<none>"},
        {"other segment runs off the end", join({soi, {0xFF, 0xE1, 0xFF, 0xF0, 1}}), "<none>"},
        {"empty", {}, "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(found(c.data), c.expected);
    }
}

TEST(Jpeg, FindKeyValue) {
    struct Case {
        const char* what;
        std::string block;
        bool found;
        std::string value;  // to the block's end
    } cases[] = {
        {"after the title", std::string("Cam\0\0", 5) + "Other=1\nTimeDate=978307200\n", true,
         "978307200\n"},
        {"no title", "TimeDate=5\n", true, "5\n"},
        {"only a title", std::string("TimeDate=7\0\0", 12), true, std::string("7\0\0", 3)},
        {"first matching line lacks =", std::string("T\0", 2) + "TimeDateX=1\nTimeDate=2\n", false,
         ""},
        {"missing", std::string("T\0", 2) + "Shutter=3\n", false, ""},
        {"key at the very end", std::string("T\0", 2) + "TimeDate", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const char* v = FindKeyValue("TimeDate", c.block.data(), static_cast<long>(c.block.size()));
        if (c.found) {
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(std::string(v, c.block.data() + c.block.size()), c.value);
        } else {
            EXPECT_EQ(v, nullptr);
        }
    }
}

TEST(Download, BufferSize) {
    EXPECT_EQ(DownloadBufferSize(105000), 108544);
    EXPECT_EQ(DownloadBufferSize(2048), 4096);
    EXPECT_EQ(DownloadBufferSize(2049), 6144);
    EXPECT_EQ(DownloadBufferSize(1), 4096);
}

TEST(Download, CameraClockShowsAsLocalWallClock) {
    for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        SCOPED_TRACE(zone);
        setenv("TZ", zone, 1);
        long long when = 0;
        ASSERT_TRUE(CameraTimeToLocal(978307200ul, &when));
        const std::time_t t = static_cast<std::time_t>(when);
        std::tm local{};
        localtime_r(&t, &local);
        EXPECT_EQ(local.tm_year, 101);
        EXPECT_EQ(local.tm_mon, 0);
        EXPECT_EQ(local.tm_mday, 1);
        EXPECT_EQ(local.tm_hour, 0);
        EXPECT_EQ(local.tm_min, 0);
    }
    unsetenv("TZ");
    tzset();
    long long when = 0;
    EXPECT_FALSE(CameraTimeToLocal(0xFFFFFFFFul, &when));
    EXPECT_FALSE(CameraTimeToLocal(0x80000000ul, &when));
}

}  // namespace
