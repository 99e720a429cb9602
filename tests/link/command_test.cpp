#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "log/activity_log.h"
#include "tests/link/link_fixture.h"

namespace {

using camsim::Bytes;
using camsim::Received;
using namespace std::chrono_literals;

class CommandTest : public LinkTest {
protected:
    std::vector<Received> packets() {
        std::vector<Received> out;
        for (const Received& r : cam_.received()) {
            if (r.kind == Received::Packet) {
                out.push_back(r);
            }
        }
        return out;
    }
    // Control bytes the camera saw, once it has seen as many as expected or
    // five seconds have gone: the host's last ACK may still be on its way
    // when a command returns.
    int controlCount(std::uint8_t byte, int expected) {
        auto count = [&] {
            int n = 0;
            for (const Received& r : cam_.received()) {
                n += r.kind == Received::Control && r.type == byte;
            }
            return n;
        };
        cam_.waitUntil([&] { return count() >= expected; }, 5s);
        return count();
    }
    // A buffer from the record's allocator, as eph_getvar requires.
    unsigned char* allocate(long size) {
        return static_cast<unsigned char*>(
            iob_->realloc_cb(nullptr, static_cast<std::size_t>(size)));
    }
};

TEST_F(CommandTest, SetIntWritesTheValue) {
    ASSERT_EQ(eph_setint(iob_, 33, -2), 0);
    EXPECT_EQ(cam_.getInt(33), -2);
    const auto cmds = cam_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].payload, (Bytes{0x00, 33, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(cmds[0].subtype, 0x43);

    ASSERT_EQ(eph_setnullint(iob_, 83), 0);
    EXPECT_EQ(cam_.commands().back().payload, (Bytes{0x00, 83}));
    EXPECT_TRUE(reports().empty());
}

// The writing commands share the repetition rule; each names itself in the
// report of its third repetition.
struct WriteCommand {
    const char* name;
    int (*run)(eph_iob*);
};
const WriteCommand kWriteCommands[] = {
    {"setint", [](eph_iob* i) { return eph_setint(i, 6, 1); }},
    {"setnullint", [](eph_iob* i) { return eph_setnullint(i, 83); }},
    {"action",
     [](eph_iob* i) {
         const unsigned char arg = 0;
         return eph_action(i, 2, &arg, 1);
     }},
    {"setvar",
     [](eph_iob* i) {
         const unsigned char data[] = "x";
         return eph_setvar(i, 29, data, 1);
     }},
    // Code 2 keeps the camera at the line's 19200 baud for the cases that follow.
    {"setispeed", [](eph_iob* i) { return eph_setispeed(i, 2); }},
};

TEST_F(CommandTest, RepetitionRule) {
    struct Case {
        const char* what;
        int naks;        // refusals before the answer
        int canAnswers;  // 0x18 answers before that
        int status;
        bool excessive;    // "excessive retries on ..." reported
        std::size_t sent;  // command packets the camera saw
    } cases[] = {
        {"accepted", 0, 0, 0, false, 1},
        {"two refusals", 2, 0, 0, false, 3},
        {"three refusals, fourth accepted", 3, 0, 0, true, 4},
        {"four refusals", 4, 0, 21, true, 4},
        {"cancelled twice", 0, 2, 0, false, 3},
        {"cancel then refusals", 2, 1, 0, true, 4},
    };
    for (const WriteCommand& command : kWriteCommands) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(command.name) + ": " + c.what);
            cam_.clearRecord();
            clearReports();
            if (c.canAnswers) {
                cam_.answerNext(0x18, c.canAnswers);
            }
            cam_.nakNext(c.naks);
            EXPECT_EQ(command.run(iob_), c.status);
            EXPECT_EQ(reported(EPH_ERR_EXCESSIVE_RETRIES,
                               std::string("excessive retries on ") + command.name),
                      c.excessive);
            EXPECT_EQ(cam_.commands().size(), c.sent);
        }
    }
}

TEST_F(CommandTest, AnswerThatEndsTheCommandIsPassedUp) {
    cam_.answerNext(0x11, 1);
    EXPECT_EQ(eph_setint(iob_, 6, 2), 17);
    EXPECT_EQ(cam_.commands().size(), 1u);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(cam_.getInt(6), 0);
    // The speed command alone repeats on it.
    cam_.clearRecord();
    cam_.answerNext(0x11, 1);
    EXPECT_EQ(eph_setispeed(iob_, 5), 0);
    EXPECT_EQ(cam_.commands().size(), 2u);
}

TEST_F(CommandTest, SpeedCommand) {
    ASSERT_EQ(eph_setispeed(iob_, 14400), 0);
    const auto cmds = cam_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].subtype, 0x53);
    EXPECT_EQ(cmds[0].payload, (Bytes{0x00, 17, 0x40, 0x38, 0x00, 0x00}));
}

TEST_F(CommandTest, ActionWaitsForCompletion) {
    // The handler runs on the camera's thread.
    std::atomic<int> runs = 0;
    cam_.setAction(2, [&](const Bytes& args) {
        ++runs;
        return args == Bytes{0};
    });
    cam_.setActionTime(300ms);
    const unsigned char arg = 0;
    ASSERT_EQ(eph_action(iob_, 2, &arg, 1), 0);
    EXPECT_EQ(runs, 1);
    // The completion byte came, so nothing is left waiting in the line.
    int gotData = 0;
    unsigned char byte;
    EXPECT_EQ(eph_readtimed(iob_, &byte, 1, 0, &gotData), 0);

    // A refused action is repeated and finally returned as the refusal.
    const unsigned char bad = 9;
    EXPECT_EQ(eph_action(iob_, 2, &bad, 1), 21);
    EXPECT_TRUE(reported(EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on action"));
}

TEST_F(CommandTest, ActionArgumentLimit) {
    const Bytes args = pattern(2049);
    ASSERT_EQ(eph_action(iob_, 8, args.data(), 2048), 0);
    const auto cmds = cam_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].payload.size(), 2050u);
    EXPECT_EQ(cmds[0].data, Bytes(args.begin(), args.begin() + 2048));

    cam_.clearRecord();
    EXPECT_EQ(eph_action(iob_, 8, args.data(), 2049), -1);
    EXPECT_TRUE(reported(EPH_ERR_DATA_TOO_LONG, "arg action length 2049"));
    // Nothing went out: the next command is the first thing the camera sees.
    ASSERT_EQ(eph_setint(iob_, 5, 1), 0);
    ASSERT_EQ(cam_.commands().size(), 1u);
    EXPECT_EQ(cam_.received().front().reg, 5);
}

TEST_F(CommandTest, SetVarFitsOnePacket) {
    const Bytes data = pattern(8);
    ASSERT_EQ(eph_setvar(iob_, 29, data.data(), 8), 0);
    const auto sent = packets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].type, 0x1B);
    EXPECT_EQ(sent[0].payload.size(), 10u);
    EXPECT_EQ(cam_.getData(29), data);
    EXPECT_TRUE(progress().empty());

    cam_.clearRecord();
    EXPECT_EQ(eph_setvar(iob_, 29, data.data(), 0), 0);
    ASSERT_EQ(eph_setint(iob_, 5, 1), 0);
    ASSERT_EQ(cam_.commands().size(), 1u);
    EXPECT_EQ(cam_.received().front().reg, 5);
}

TEST_F(CommandTest, SetVarSplitsIntoPackets) {
    const Bytes data = pattern(5000);
    ASSERT_EQ(eph_setvar(iob_, 29, data.data(), 5000), 0);
    const auto sent = packets();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].type, 0x1B);
    EXPECT_EQ(sent[0].payload.size(), 2048u);
    EXPECT_EQ(sent[1].type, 0x02);
    EXPECT_EQ(sent[1].subtype, 0);
    EXPECT_EQ(sent[1].payload.size(), 2048u);
    EXPECT_EQ(sent[2].type, 0x03);
    EXPECT_EQ(sent[2].subtype, 1);
    EXPECT_EQ(sent[2].payload.size(), 906u);
    EXPECT_EQ(progress(), (std::vector<int>{2046, 4094}));
    EXPECT_EQ(cam_.getData(29), data);
}

TEST_F(CommandTest, SetVarSharesItsRepetitionsAmongPackets) {
    // Two refusals of the command packet, one of a data packet: three in all.
    const Bytes data = pattern(3000);
    cam_.nakNext(2);
    std::thread refuseLater([this] {
        // Refuse the first data packet once it is on its way.
        cam_.waitReceived(3, 5s);
        cam_.nakNext(1);
    });
    EXPECT_EQ(eph_setvar(iob_, 29, data.data(), 3000), 0);
    refuseLater.join();
    EXPECT_EQ(cam_.getData(29), data);
    EXPECT_TRUE(reported(EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on setvar"));
}

TEST_F(CommandTest, GetIntReadsTheValue) {
    cam_.setInt(10, 0x01020304);
    std::int32_t value = -1;
    ASSERT_EQ(eph_getint(iob_, 10, &value), 0);
    EXPECT_EQ(value, 0x01020304);
    cam_.setInt(11, -7);
    ASSERT_EQ(eph_getint(iob_, 11, &value), 0);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(controlCount(0x06, 2), 2);
    EXPECT_TRUE(reports().empty());
}

TEST_F(CommandTest, GetIntRepetitions) {
    cam_.setInt(10, 42);
    struct Case {
        const char* what;
        void (*fault)(camsim::Camera&);
        int status;
        std::int32_t value;
        std::size_t commands;
        int naks;
        bool excessive;
        // The report the fault makes besides, and how it begins.
        int reportCode;
        const char* report;
    } cases[] = {
        {"refused twice", [](camsim::Camera& c) { c.nakNext(2); }, 0, 42, 3, 0, false, 0, nullptr},
        {"cancelled", [](camsim::Camera& c) { c.answerNext(0x18, 1); }, 0, 42, 2, 0, false,
         EPH_ERR_BAD_HEADER, "pkt start got 0x18"},
        {"damaged reply", [](camsim::Camera& c) { c.corruptNextChecksum(1); }, 0, 42, 1, 1, false,
         EPH_ERR_BAD_CRC, "crc received=0x"},
        {"refused four times", [](camsim::Camera& c) { c.nakNext(4); }, 21, 0, 4, 0, true, 0,
         nullptr},
        {"answer that ends it", [](camsim::Camera& c) { c.answerNext(0x11, 1); }, 17, 0, 1, 0,
         false, 0, nullptr},
        {"lost reply", [](camsim::Camera& c) { c.dropNext(1); }, 0, 42, 1, 1, false, ETIMEDOUT,
         "pkt start read error System error 110"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cam_.clearRecord();
        clearReports();
        c.fault(cam_);
        std::int32_t value = -1;
        EXPECT_EQ(eph_getint(iob_, 10, &value), c.status);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(cam_.commands().size(), c.commands);
        EXPECT_EQ(controlCount(0x15, c.naks), c.naks);
        EXPECT_EQ(reported(EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on getint"), c.excessive);
        if (c.report) {
            EXPECT_TRUE(reportedStarting(c.reportCode, c.report));
        }
        failUnclaimedReports();
    }
}

TEST_F(CommandTest, GetIntFromASilentCamera) {
    cam_.setSilent(true);
    std::int32_t value = -1;
    // On the serial line silence is a failed read: three NAKs and reads again.
    EXPECT_EQ(eph_getint(iob_, 10, &value), -1);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(cam_.commands().size(), 1u);
    EXPECT_EQ(controlCount(0x15, 3), 3);
    EXPECT_TRUE(reported(EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on getint"));
    EXPECT_TRUE(reported(ETIMEDOUT, "pkt start read error System error 110"));
}

TEST_F(CommandTest, GetVarGrowsTheBuffer) {
    const Bytes data = pattern(4196);
    cam_.setData(14, data);
    long length = 2048;
    unsigned char* buffer = allocate(length);
    ASSERT_EQ(eph_getvar(iob_, 14, &buffer, &length), 0);
    EXPECT_EQ(length, 4196);
    EXPECT_EQ(Bytes(buffer, buffer + length), data);
    EXPECT_EQ(allocations(), (std::vector<std::size_t>{2048, 4096, 8192}));
    EXPECT_EQ(progress(), (std::vector<int>{2048, 4096, 4196}));
    // One ACK per packet.
    EXPECT_EQ(controlCount(0x06, 3), 3);
    std::free(buffer);

    // A small buffer becomes one data packet's room first.
    cam_.setData(27, bytesOf("SX381"));
    length = 1000;
    buffer = allocate(length);
    ASSERT_EQ(eph_getvar(iob_, 27, &buffer, &length), 0);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(allocations().back(), 2048u);
    std::free(buffer);
}

TEST_F(CommandTest, GetVarSequenceFaults) {
    const Bytes data = pattern(5000, 3);
    cam_.setData(14, data);
    struct Case {
        const char* what;
        void (*fault)(camsim::Camera&);
        int naks;
        int reportCode;
        const char* report;
    } cases[] = {
        {"repeated packet", [](camsim::Camera& c) { c.repeatNext(1); }, 0, 0, nullptr},
        {"damaged packet", [](camsim::Camera& c) { c.corruptNextChecksum(1); }, 1, EPH_ERR_BAD_CRC,
         "crc received=0x"},
        {"lost packet", [](camsim::Camera& c) { c.dropNext(1); }, 1, ETIMEDOUT,
         "pkt start read error System error 110"},
        {"refused command", [](camsim::Camera& c) { c.nakNext(1); }, 1, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cam_.clearRecord();
        clearReports();
        c.fault(cam_);
        long length = 2048;
        unsigned char* buffer = allocate(length);
        EXPECT_EQ(eph_getvar(iob_, 14, &buffer, &length), 0);
        EXPECT_EQ(length, 5000);
        EXPECT_EQ(Bytes(buffer, buffer + std::min(length, 5000L)), data);
        EXPECT_EQ(controlCount(0x15, c.naks), c.naks);
        if (c.report) {
            EXPECT_TRUE(reportedStarting(c.reportCode, c.report));
        }
        failUnclaimedReports();
        std::free(buffer);
    }
}

TEST_F(CommandTest, GetVarRepeatedPacketIsAcknowledgedAndKeptOnce) {
    const Bytes data = pattern(3000, 5);
    cam_.setData(14, data);
    cam_.repeatNext(1);
    long length = 2048;
    unsigned char* buffer = allocate(length);
    ASSERT_EQ(eph_getvar(iob_, 14, &buffer, &length), 0);
    EXPECT_EQ(Bytes(buffer, buffer + length), data);
    // Packet 0, its repeat, and packet 1.
    EXPECT_EQ(controlCount(0x06, 3), 3);
    EXPECT_EQ(progress(), (std::vector<int>{2048, 3000}));
    std::free(buffer);
}

TEST_F(CommandTest, GetVarWithoutABuffer) {
    long length = 0;
    EXPECT_EQ(eph_getvar(iob_, 14, nullptr, &length), -1);
    EXPECT_TRUE(reported(EPH_ERR_BAD_ARGS, "NULL buffer and no store callback for getvar"));
    EXPECT_TRUE(cam_.commands().empty());

    // With a store callback, each chunk goes there in order.
    static Bytes stored;
    stored.clear();
    iob_->store_cb = [](const unsigned char* chunk, int n) {
        stored.insert(stored.end(), chunk, chunk + n);
        return 0;
    };
    const Bytes data = pattern(4500);
    cam_.setData(14, data);
    unsigned char* none = nullptr;
    EXPECT_EQ(eph_getvar(iob_, 14, &none, &length), 0);
    EXPECT_EQ(stored, data);
    // The temporary buffer was released again.
    EXPECT_EQ(allocations(), (std::vector<std::size_t>{2048, 0}));

    // A store that fails ends the transfer.
    iob_->store_cb = [](const unsigned char*, int) { return 1; };
    EXPECT_EQ(eph_getvar(iob_, 14, &none, &length), -1);

    refuseAllocationsFrom(2048);
    iob_->store_cb = [](const unsigned char*, int) { return 0; };
    EXPECT_EQ(eph_getvar(iob_, 14, &none, &length), -1);
    EXPECT_TRUE(reported(EPH_ERR_NO_MEMORY, "could not alloc 2048 for tmpbuf in getvar"));
}

TEST_F(CommandTest, GetVarRefusedGrowthKeepsTheCallersBuffer) {
    cam_.setData(14, pattern(6000));
    long length = 2048;
    unsigned char* buffer = allocate(length);
    std::memset(buffer, 0x5C, 2048);
    refuseAllocationsFrom(4096);
    EXPECT_EQ(eph_getvar(iob_, 14, &buffer, &length), -1);
    ASSERT_NE(buffer, nullptr);
    // Still the caller's, and still usable.
    buffer[2047] = 1;
    std::free(buffer);
    EXPECT_STREQ(g_szErrorText, "could not realloc 4096");
}

TEST_F(CommandTest, GetVarAnswerThatEndsTheTransfer) {
    cam_.setData(14, pattern(100));
    cam_.answerNext(0x11, 1);
    long length = 2048;
    unsigned char* buffer = allocate(length);
    EXPECT_EQ(eph_getvar(iob_, 14, &buffer, &length), 17);
    EXPECT_EQ(length, 2048);
    std::free(buffer);
}

TEST_F(CommandTest, GetVarFromASilentCamera) {
    cam_.setSilent(true);
    long length = 2048;
    unsigned char* buffer = allocate(length);
    EXPECT_EQ(eph_getvar(iob_, 14, &buffer, &length), -1);
    EXPECT_EQ(controlCount(0x15, 3), 3);
    EXPECT_TRUE(reported(EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on getvar"));
    EXPECT_TRUE(reported(ETIMEDOUT, "pkt start read error System error 110"));
    std::free(buffer);
}

}  // namespace
