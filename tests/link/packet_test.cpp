#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/link/link_fixture.h"

namespace {

using camsim::Bytes;
using namespace std::chrono_literals;

class PacketTest : public LinkTest {
protected:
    // What the camera received, once n bytes have come (or 2 s have gone).
    Bytes receivedBytes(std::size_t n) {
        cam_.waitUntil([&] { return cam_.rawReceived().size() >= n; }, 2s);
        return cam_.rawReceived();
    }
};

Bytes packetBytes(int type, int sub, const Bytes& payload) {
    Bytes out;
    out.reserve(payload.size() + 6);
    out.push_back(static_cast<std::uint8_t>(type));
    out.push_back(static_cast<std::uint8_t>(sub));
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    unsigned sum = 0;
    for (auto b : payload) {
        out.push_back(b);
        sum += b;
    }
    out.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    out.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
    return out;
}

TEST_F(PacketTest, WritesFramedPackets) {
    struct Case {
        Bytes payload;
        Bytes wire;
    } cases[] = {
        {{}, {0x1B, 0x43, 0x00, 0x00, 0x00, 0x00}},
        {{0xFF, 0x01}, {0x1B, 0x43, 0x02, 0x00, 0xFF, 0x01, 0x00, 0x01}},
        {{0x01, 0x0A}, {0x1B, 0x43, 0x02, 0x00, 0x01, 0x0A, 0x0B, 0x00}},
    };
    cam_.setSilent(true);
    for (const Case& c : cases) {
        cam_.clearRecord();
        ASSERT_EQ(eph_writecmd(iob_, c.payload.data(), static_cast<long>(c.payload.size())), 0);
        EXPECT_EQ(receivedBytes(c.wire.size()), c.wire);
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(PacketTest, WritesTheLargestPayloadAndRefusesALargerOne) {
    cam_.setSilent(true);
    const Bytes most = pattern(32762);
    ASSERT_EQ(eph_writepkt(iob_, 0x02, 7, most.data(), 32762), 0);
    EXPECT_EQ(receivedBytes(32768), packetBytes(0x02, 7, most));

    cam_.clearRecord();
    const Bytes tooMany = pattern(32763);
    EXPECT_EQ(eph_writepkt(iob_, 0x02, 7, tooMany.data(), 32763), -1);
    EXPECT_TRUE(reported(EPH_ERR_DATA_TOO_LONG, "trying to write 32763 in one pkt"));
    EXPECT_EQ(eph_writecmd(iob_, tooMany.data(), -1), -1);
    EXPECT_TRUE(reported(EPH_ERR_DATA_TOO_LONG, "trying to write -1 in one pkt"));
    // Nothing went out: the next packet is the first thing the camera sees.
    const Bytes small{1, 2};
    ASSERT_EQ(eph_writepkt(iob_, 0x02, 7, small.data(), 2), 0);
    EXPECT_EQ(receivedBytes(8), packetBytes(0x02, 7, small));
}

TEST_F(PacketTest, SpeedCommandCarriesItsSubtype) {
    cam_.setSilent(true);
    const Bytes payload{0x00, 17, 5, 0, 0, 0};
    ASSERT_EQ(eph_writespeedcmd(iob_, payload.data(), 6), 0);
    EXPECT_EQ(receivedBytes(12), packetBytes(0x1B, 0x53, payload));
}

TEST_F(PacketTest, FailedWriteIsReportedWithThePiece) {
    ::close(iob_->port);
    const Bytes payload{1, 2};
    EXPECT_EQ(eph_writecmd(iob_, payload.data(), 2), -1);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].code, EBADF);
    EXPECT_EQ(reports()[0].text, "pkt write chunk 0(1) error System error 9");
    clearReports();
    eph_writeack(iob_);
    EXPECT_TRUE(reported(EBADF, "ack write error System error 9"));
    iob_->port = -1;
}

TEST_F(PacketTest, ControlBytes) {
    cam_.setSilent(true);
    eph_writeinit(iob_);
    eph_writeack(iob_);
    eph_writenak(iob_);
    EXPECT_EQ(receivedBytes(3), (Bytes{0x00, 0x06, 0x15}));
    EXPECT_TRUE(reports().empty());
}

struct ReadCase {
    const char* name;
    Bytes line;  // what the camera sends
    long capacity;
    int status;
    int code;  // the report made, 0 for none
    std::string text;
};

TEST_F(PacketTest, ReadsPackets) {
    Bytes big = packetBytes(0x02, 0, pattern(2049));
    Bytes badSum = packetBytes(0x03, 4, {1, 2, 3});
    badSum[badSum.size() - 2] = 0x07;
    const ReadCase cases[] = {
        {"nak", {0x15}, 16, 21, 0, ""},
        {"dc1", {0x11}, 16, 17, 0, ""},
        {"can", {0x18}, 16, 24, EPH_ERR_BAD_HEADER, "pkt start got 0x18"},
        {"stray", {0x41}, 16, 65, EPH_ERR_BAD_HEADER, "pkt start got 0x41"},
        // Its value, 0, would read as a packet taken.
        {"zero", {0x00}, 16, -1, EPH_ERR_BAD_HEADER, "pkt start got 0x00"},
        {"too long", big, 2048, -1, EPH_ERR_DATA_TOO_LONG,
         "length in pkt header 2049 bigger than buffer size 2048"},
        {"bad sum", badSum, 16, -1, EPH_ERR_BAD_CRC, "crc received=0x0007 counted=0x0006"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        clearReports();
        cam_.sendRaw(c.line);
        unsigned char header[2] = {0, 0};
        std::vector<unsigned char> buffer(static_cast<std::size_t>(c.capacity));
        long length = c.capacity;
        EXPECT_EQ(eph_readpkt(iob_, header, buffer.data(), &length, 1000000), c.status);
        if (c.code == 0) {
            EXPECT_TRUE(reports().empty());
        } else {
            EXPECT_TRUE(reported(c.code, c.text));
        }
        // Whatever the case left in the line goes before the next: up to
        // an end mark the camera sends after it.
        const Bytes mark{0xDE, 0xAD, 0xBE, 0xEF};
        cam_.sendRaw(mark);
        Bytes drained;
        while (drained.size() < mark.size() ||
               !std::equal(mark.begin(), mark.end(), drained.end() - 4)) {
            int gotData = 0;
            unsigned char byte = 0;
            ASSERT_EQ(eph_readtimed(iob_, &byte, 1, 1000000, &gotData), 1);
            drained.push_back(byte);
        }
    }
}

TEST_F(PacketTest, ReadsAGoodPacketWithinCapacity) {
    const Bytes payload = pattern(2048);
    cam_.sendRaw(packetBytes(0x03, 9, payload));
    unsigned char header[2] = {0, 0};
    std::vector<unsigned char> buffer(2048 + 8, 0xEE);
    long length = 2048;
    ASSERT_EQ(eph_readpkt(iob_, header, buffer.data(), &length, 1000000), 0);
    EXPECT_EQ(header[0], 0x03);
    EXPECT_EQ(header[1], 9);
    EXPECT_EQ(length, 2048);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 2048), payload);
    // Nothing past the capacity was touched.
    EXPECT_EQ(buffer[2048], 0xEE);
    EXPECT_TRUE(reports().empty());
}

TEST_F(PacketTest, SilenceIsAReadFailureOnTheSerialLine) {
    unsigned char header[2];
    unsigned char buffer[16];
    long length = sizeof buffer;
    EXPECT_EQ(eph_readpkt(iob_, header, buffer, &length, 1000000), -1);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].code, ETIMEDOUT);
    EXPECT_EQ(reports()[0].text, "pkt start read error System error " + std::to_string(ETIMEDOUT));

    // A packet that stops after its header fails silently at debug level 0
    // and with a report at a higher level.
    for (int debug : {0, 1}) {
        clearReports();
        iob_->debug = debug;
        iob_->data_timeout = 1000000;
        cam_.sendRaw({0x02, 0x00, 0x05, 0x00, 1, 2});
        length = sizeof buffer;
        EXPECT_EQ(eph_readpkt(iob_, header, buffer, &length, 1000000), -1);
        EXPECT_EQ(reports().size(), debug ? 1u : 0u);
        if (debug) {
            EXPECT_EQ(reports()[0].text,
                      "pkt data read error System error " + std::to_string(ETIMEDOUT));
        }
    }
}

TEST_F(PacketTest, Waits) {
    struct Case {
        const char* name;
        Bytes line;
        int (*wait)(eph_iob*);
        int status;
        std::string report;
    } cases[] = {
        {"ack", {0x06}, [](eph_iob* i) { return eph_waitack(i, 1000000); }, 0, ""},
        {"ack got nak", {0x15}, [](eph_iob* i) { return eph_waitack(i, 1000000); }, 21, ""},
        {"ack got can", {0x18}, [](eph_iob* i) { return eph_waitack(i, 1000000); }, 24, ""},
        {"ack got enq",
         {0x05},
         [](eph_iob* i) { return eph_waitack(i, 1000000); },
         5,
         "eph_waitack got 5"},
        {"complete", {0x05}, eph_waitcomplete, 0, ""},
        {"complete got can", {0x18}, eph_waitcomplete, 24, "eph_waitcomplete got 24"},
        {"eot", {0xFF}, eph_waiteot, 0, ""},
        {"eot got dc1", {0x11}, eph_waiteot, 17, ""},
        {"sig after zeros", {0, 0, 0, 0, 0, 0x15}, eph_waitsig, 0, ""},
        {"sig got ack", {0x06}, eph_waitsig, 6, ""},
        {"zeros only", Bytes(201, 0x00), eph_waitsig, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearReports();
        cam_.sendRaw(c.line);
        EXPECT_EQ(c.wait(iob_), c.status);
        if (c.report.empty()) {
            EXPECT_TRUE(reports().empty());
        } else {
            EXPECT_TRUE(reported(EPH_ERR_UNEXPECTED_READ, c.report));
        }
    }
}

TEST_F(PacketTest, WaitSigReportsOnlyAtDebugLevel) {
    iob_->debug = 1;
    cam_.sendRaw({0x06});
    EXPECT_EQ(eph_waitsig(iob_), 6);
    EXPECT_TRUE(reported(EPH_ERR_UNEXPECTED_READ, "eph_waitsig got 6"));
}

TEST_F(PacketTest, FlushDropsOneWaitingByte) {
    EXPECT_EQ(eph_flushinput(iob_), 0);
    EXPECT_TRUE(reports().empty());
    cam_.sendRaw({0x41, 0x42});
    ASSERT_TRUE(waitWaiting(2));
    EXPECT_EQ(eph_flushinput(iob_), 0);
    EXPECT_TRUE(reported(EPH_ERR_UNEXPECTED_READ, "flushinput read 1 expected 0"));
    EXPECT_EQ(eph_waitchar(iob_, 1000000), 0x42);
}

TEST_F(PacketTest, ReadTimedWaitsAtLeastOneSecond) {
    int gotData = 7;
    unsigned char byte = 0;
    EXPECT_EQ(eph_readtimed(iob_, &byte, 0, 500000, &gotData), 0);
    EXPECT_EQ(gotData, 7);  // untouched

    // Asked for half a second, the read still takes a byte that comes later.
    std::thread late([this] {
        std::this_thread::sleep_for(650ms);
        cam_.sendRaw({0x5A});
    });
    EXPECT_EQ(eph_readtimed(iob_, &byte, 1, 500000, &gotData), 1);
    late.join();
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(gotData, 1);
    EXPECT_EQ(iob_->cur_timeouts.ReadTotalTimeoutConstant, 1000u);

    // A poll returns at once with nothing.
    EXPECT_EQ(eph_readtimed(iob_, &byte, 1, 0, &gotData), 0);
    EXPECT_EQ(gotData, 0);
    EXPECT_EQ(iob_->cur_timeouts.ReadIntervalTimeout, EPH_MAXDWORD);
}

}  // namespace
