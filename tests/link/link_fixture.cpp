#include "tests/link/link_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<Report> g_reports;
// Which of g_reports a test has looked at.
std::vector<bool> g_claimed;
std::vector<int> g_progress;
std::vector<std::size_t> g_allocations;
std::size_t g_refuseFrom = 0;

void recordError(int code, const char* message) {
    std::lock_guard lock(g_mutex);
    std::string full = message;
    const auto cut = full.find("\nWindows says : ");
    g_reports.push_back({code, full.substr(0, cut), full});
    g_claimed.push_back(false);
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
        g_claimed.clear();
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

// A report that no test asked about is a failure the test did not expect,
// even when everything it checked came out right.
void LinkTest::failUnclaimedReports() {
    std::lock_guard lock(g_mutex);
    for (std::size_t i = 0; i < g_reports.size(); ++i) {
        if (!g_claimed[i]) {
            ADD_FAILURE() << "unexpected error report " << g_reports[i].code << ": "
                          << g_reports[i].text;
        }
    }
}

void LinkTest::TearDown() {
    failUnclaimedReports();
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
    g_claimed.assign(g_reports.size(), true);
    return g_reports;
}

void LinkTest::clearReports() {
    failUnclaimedReports();
    std::lock_guard lock(g_mutex);
    g_reports.clear();
    g_claimed.clear();
}

bool LinkTest::reported(int code, const std::string& text) {
    return claim(code, text, false);
}

bool LinkTest::reportedStarting(int code, const std::string& text) {
    return claim(code, text, true);
}

bool LinkTest::claim(int code, const std::string& text, bool prefix) {
    std::lock_guard lock(g_mutex);
    bool found = false;
    for (std::size_t i = 0; i < g_reports.size(); ++i) {
        const std::string& made = g_reports[i].text;
        if (g_reports[i].code == code &&
            (prefix ? made.compare(0, text.size(), text) == 0 : made == text)) {
            g_claimed[i] = true;
            found = true;
        }
    }
    return found;
}

std::vector<int> LinkTest::progress() {
    std::lock_guard lock(g_mutex);
    return g_progress;
}

bool LinkTest::waitWaiting(std::size_t n) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        int waiting = 0;
        if (ioctl(iob_->port, FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) >= n) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // The first byte wakes the poll; the rest of a write follows at once.
        pollfd p{iob_->port, POLLIN, 0};
        if (waiting == 0) {
            ::poll(&p, 1, 100);
        } else {
            ::poll(nullptr, 0, 1);
        }
    }
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
