// A link record on a real pseudo-terminal with a simulated camera at the
// other end, and the error reports the link made.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/eph.h"
#include "sim/camsim.h"

struct Report {
    int code;
    std::string text;  // the report's own message, without the system's text
    std::string full;  // as the error callback received it
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Reports since the start of the test (or the last clearReports). The
    // fixture fails a test that leaves a report unclaimed: reports() claims
    // every report so far and reported() those it finds. clearReports()
    // starts afresh, failing on those still unclaimed.
    static std::vector<Report> reports();
    static void clearReports();
    static void failUnclaimedReports();
    // True when a report with this code and message was made.
    static bool reported(int code, const std::string& text);
    // The same for a report whose message begins with the text.
    static bool reportedStarting(int code, const std::string& text);
    static std::vector<int> progress();
    // Sizes asked of the record's allocator, in order; refuse when asked for
    // at least refuseFrom bytes (0: never).
    static std::vector<std::size_t> allocations();
    // Waits until at least n bytes from the camera wait at the host's end
    // of the line (false after 2 s).
    bool waitWaiting(std::size_t n) const;
    static void refuseAllocationsFrom(std::size_t bytes);

    camsim::Camera cam_;
    eph_iob* iob_ = nullptr;

private:
    static bool claim(int code, const std::string& text, bool prefix);

protected:
    std::string device_;
};

camsim::Bytes bytesOf(const std::string& text);
camsim::Bytes pattern(std::size_t size, unsigned seed = 1);
