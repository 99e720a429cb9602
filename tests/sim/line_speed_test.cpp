// The serial line as a real camera's UART has it: it hears the host only at
// its own speed, wakes only at 19200, and moves with the speed command, the
// sign-off and a quiet line. Also pacing at the line's real rate.
#include <thread>

#include "tests/sim/camera_fixture.h"

namespace simtest {
namespace {

using camsim::Received;
using namespace std::chrono_literals;

Bytes setint(int reg, std::int32_t value) {
    return concat({{0, std::uint8_t(reg)}, le32(value)});
}

class LineSpeedTest : public CameraTest {
protected:
    // The speed command at the host's present speed; once the camera has
    // acknowledged it, the host's end follows to bps.
    void switchTo(std::int32_t code, long bps) {
        host->writePacket(0x1B, 0x53, concat({{0, 17}, le32(code)}));
        ASSERT_EQ(host->readByte(), kAck);
        ASSERT_TRUE(host->setSpeed(bps));
    }

    // Everything recorded since the last clearRecord is garbled, and holds
    // exactly these bytes.
    void expectGarbled(const Bytes& sent) {
        ASSERT_TRUE(cam.waitReceived(1, 3s));
        EXPECT_TRUE(host->quietFor());
        Bytes heard;
        for (const auto& r : cam.received()) {
            EXPECT_EQ(r.kind, Received::Garbled);
            heard.insert(heard.end(), r.payload.begin(), r.payload.end());
        }
        EXPECT_EQ(heard, sent);
    }

    // Waits for the camera's own speed, which an idle line changes with no
    // word to the host.
    bool waitLineSpeed(long bps) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (cam.lineSpeed() != bps) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
};

TEST_F(LineSpeedTest, BytesAtAnotherSpeedAreGarbledAndUnanswered) {
    EXPECT_EQ(cam.lineSpeed(), 19200);
    ASSERT_TRUE(host->setSpeed(38400));
    host->writeByte(0x00);
    expectGarbled({0x00});

    cam.clearRecord();
    const Bytes garbled = packet(0x1B, 0x43, setint(5, 3));
    host->write(garbled);
    expectGarbled(garbled);
    EXPECT_EQ(cam.getInt(5), 0);
    EXPECT_EQ(cam.rawReceived(), garbled);

    ASSERT_TRUE(host->setSpeed(19200));
    EXPECT_EQ(command(setint(5, 3)), kAck);
    EXPECT_EQ(cam.getInt(5), 3);
}

struct SpeedCase {
    const char* name;
    std::int32_t code;
    long bps;
    long wrongBps;  // a speed the camera must not hear afterwards
};
void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.name;
}

class SpeedCommandTest : public LineSpeedTest, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedCommandTest, CameraMovesToTheSpeedOfTheCode) {
    const SpeedCase& c = GetParam();
    switchTo(c.code, c.bps);
    EXPECT_EQ(cam.lineSpeed(), c.bps);
    EXPECT_EQ(command(setint(5, 7)), kAck);
    EXPECT_EQ(cam.getInt(5), 7);

    ASSERT_TRUE(host->setSpeed(c.wrongBps));
    cam.clearRecord();
    const Bytes wrong = packet(0x1B, 0x43, setint(5, 8));
    host->write(wrong);
    expectGarbled(wrong);
    EXPECT_EQ(cam.getInt(5), 7);
}

INSTANTIATE_TEST_SUITE_P(Codes, SpeedCommandTest,
                         ::testing::Values(SpeedCase{"code1_9600", 1, 9600, 19200},
                                           SpeedCase{"code2_19200", 2, 19200, 9600},
                                           SpeedCase{"code3_38400", 3, 38400, 19200},
                                           SpeedCase{"code4_57600", 4, 57600, 19200},
                                           SpeedCase{"code5_115200", 5, 115200, 19200},
                                           // No termios constant: termios2 on both ends.
                                           SpeedCase{"bps_14400", 14400, 14400, 19200},
                                           SpeedCase{"bps_250000", 250000, 250000, 115200}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineSpeedTest, WakesOnlyAt19200) {
    switchTo(4, 57600);
    cam.clearRecord();
    host->writeByte(0x00);
    EXPECT_TRUE(host->quietFor());
    // Heard, not garbled: the camera is awake at 57600 and says nothing.
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].kind, Received::Control);
    EXPECT_EQ(rec[0].type, 0x00);
    EXPECT_EQ(command(setint(5, 1)), kAck);

    // Code 0 takes it back to the wake-up speed.
    switchTo(0, 19200);
    EXPECT_EQ(cam.lineSpeed(), 19200);
    host->writeByte(0x00);
    EXPECT_EQ(host->readByte(), 0x15);
}

TEST_F(LineSpeedTest, SignOffReturnsTo19200AfterItsCompletion) {
    switchTo(5, 115200);
    cam.setAction(4, [](const Bytes&) { return false; });
    EXPECT_EQ(command({2, 4, 0}), kNak);  // refused: no sign-off
    EXPECT_EQ(cam.lineSpeed(), 115200);

    cam.setAction(4, nullptr);
    cam.setActionTime(500ms);
    host->writeCommand({2, 4, 0});
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.lineSpeed(), 115200);  // not before the action has completed
    EXPECT_EQ(host->readByte(), kComplete);
    // By the time the host has the completion byte, not later.
    EXPECT_EQ(cam.lineSpeed(), 19200);

    cam.clearRecord();
    host->writeByte(0x00);  // still at 115200
    expectGarbled({0x00});
    ASSERT_TRUE(host->setSpeed(19200));
    host->writeByte(0x00);
    EXPECT_EQ(host->readByte(), 0x15);
}

TEST_F(LineSpeedTest, QuietLineTakesTheCameraBackTo19200) {
    switchTo(5, 115200);
    // Not by default.
    EXPECT_TRUE(host->quietFor(300ms));
    EXPECT_EQ(cam.lineSpeed(), 115200);

    cam.setIdleReset(100ms);
    EXPECT_TRUE(waitLineSpeed(19200));
    // As a host that lost the camera mid-session finds it: a wake-up at 19200.
    ASSERT_TRUE(host->setSpeed(19200));
    host->writeByte(0x00);
    EXPECT_EQ(host->readByte(), 0x15);
}

TEST_F(LineSpeedTest, SpeedCommandOnAnotherRegisterKeepsTheSpeed) {
    host->writePacket(0x1B, 0x53, concat({{0, 18}, le32(5)}));
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.lineSpeed(), 19200);
    EXPECT_EQ(command(setint(5, 2)), kAck);
}

TEST_F(LineSpeedTest, RefusedSpeedCommandKeepsTheSpeed) {
    cam.nakNext(1);
    host->writePacket(0x1B, 0x53, concat({{0, 17}, le32(5)}));
    EXPECT_EQ(host->readByte(), kNak);
    EXPECT_EQ(cam.lineSpeed(), 19200);
    EXPECT_EQ(command(setint(5, 2)), kAck);
}

// --- pacing ----------------------------------------------------------------

TEST_F(LineSpeedTest, PacedPacketArrivesWholeInPieces) {
    cam.setPacing(true);
    switchTo(1, 9600);
    const Bytes data = pattern(600);
    cam.setData(14, data);
    host->writeCommand({4, 14});
    const Bytes head = host->readBytes(4);
    ASSERT_EQ(head, (Bytes{0x03, 0, 600 % 256, 600 / 256}));
    const std::size_t before = host->reads();
    const Bytes rest = host->readBytes(602);
    EXPECT_EQ(Bytes(rest.begin(), rest.begin() + 600), data);
    ASSERT_EQ(rest.size(), 602u);
    EXPECT_EQ(rest[600] + 256 * rest[601], sum16(data));
    // Unpaced, the whole packet is in the terminal by the time its header is
    // read; paced, the rest trickles in.
    EXPECT_GT(host->reads() - before, 5u);
}

TEST_F(LineSpeedTest, PacedTransfersAtEachSpeedArriveWhole) {
    cam.setPacing(true);
    const Bytes data = pattern(2500, 9);  // two packets
    cam.setData(14, data);
    for (const auto& [code, bps] : {std::pair{2, 19200L}, {5, 115200L}, {14400, 14400L}}) {
        SCOPED_TRACE(bps);
        switchTo(code, bps);
        host->writeCommand({4, 14});
        EXPECT_EQ(readTransfer(), data);
        host->writeCommand({2, 2, 0});
        EXPECT_EQ(host->readBytes(2), (Bytes{kAck, kComplete}));
    }
}

// The paced schedule runs on across packets when the host answers at once,
// and starts afresh after a pause; either way no byte is lost or moved.
TEST_F(LineSpeedTest, PacedPacketsArriveWholeAfterQuickAndSlowAnswers) {
    cam.setPacing(true);
    cam.setMaxPacket(300);
    switchTo(5, 115200);
    const Bytes data = pattern(1400, 5);  // five packets, the last one short
    cam.setData(14, data);
    cam.repeatNext(1);  // the first packet twice, back to back
    host->writeCommand({4, 14});
    Bytes got;
    for (std::uint8_t seq = 0; seq < 5; ++seq) {
        SCOPED_TRACE(int(seq));
        auto p = host->readPacket();
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->sumOk);
        EXPECT_EQ(p->seq, seq);
        if (seq == 0) {
            auto copy = host->readPacket();
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->payload, p->payload);
            host->writeByte(kAck);
        }
        got.insert(got.end(), p->payload.begin(), p->payload.end());
        if (seq % 2 == 1)
            std::this_thread::sleep_for(20ms);  // a real pause before this answer
        host->writeByte(kAck);
    }
    EXPECT_EQ(got, data);
    EXPECT_TRUE(host->quietFor(100ms));
}

}  // namespace
}  // namespace simtest
