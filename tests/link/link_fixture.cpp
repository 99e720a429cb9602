#include "link_fixture.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<Report> g_reports;
std::vector<int> g_progress;
std::vector<std::size_t> g_allocations;
std::size_t g_refuseFrom = 0;

void recordError(int code, const char* message) {
    std::lock_guard lock(g_mutex);
    std::string full = message;
    const auto cut = full.find("\nWindows says : ");
    g_reports.push_back({code, full.substr(0, cut), full});
}

void recordProgress(int bytes) {
    std::lock_guard lock(g_mutex);
    g_progress.push_back(bytes);
}

void* recordRealloc(void* buffer, std::size_t size) {
    {
        std::lock_guard lock(g_mutex);
        g_allocations.push_back(size);
        if (size == 0) {
            std::free(buffer);
            return nullptr;
        }
        if (g_refuseFrom != 0 && size >= g_refuseFrom) {
            return nullptr;
        }
    }
    return std::realloc(buffer, size);
}

}  // namespace

void LinkTest::SetUp() {
    {
        std::lock_guard lock(g_mutex);
        g_reports.clear();
        g_progress.clear();
        g_allocations.clear();
        g_refuseFrom = 0;
    }
    device_ = cam_.startSerial();
    ASSERT_FALSE(device_.empty());
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B19200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    iob_ = eph_new(recordError, recordRealloc, recordProgress, nullptr, 0);
    ASSERT_NE(iob_, nullptr);
    iob_->port = fd;
    iob_->data_timeout = 2066660;  // as for 19200 baud
}

void LinkTest::TearDown() {
    if (iob_) {
        if (iob_->port >= 0) {
            ::close(iob_->port);
        }
        eph_free(iob_);
    }
    cam_.stop();
}

std::vector<Report> LinkTest::reports() {
    std::lock_guard lock(g_mutex);
    return g_reports;
}

void LinkTest::clearReports() {
    std::lock_guard lock(g_mutex);
    g_reports.clear();
}

bool LinkTest::reported(int code, const std::string& text) {
    std::lock_guard lock(g_mutex);
    for (const Report& r : g_reports) {
        if (r.code == code && r.text == text) {
            return true;
        }
    }
    return false;
}

std::vector<int> LinkTest::progress() {
    std::lock_guard lock(g_mutex);
    return g_progress;
}

std::vector<std::size_t> LinkTest::allocations() {
    std::lock_guard lock(g_mutex);
    return g_allocations;
}

void LinkTest::refuseAllocationsFrom(std::size_t bytes) {
    std::lock_guard lock(g_mutex);
    g_refuseFrom = bytes;
}

camsim::Bytes bytesOf(const std::string& text) {
    return camsim::Bytes(text.begin(), text.end());
}

camsim::Bytes pattern(std::size_t size, unsigned seed) {
    camsim::Bytes out(size);
    unsigned x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}
