// Misbehaviour on request: every fault the link's error paths are tested with.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/sim/camera_fixture.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

Bytes setint(int reg, std::int32_t value) {
    return concat({{0, std::uint8_t(reg)}, le32(value)});
}

TEST_F(CameraTest, NakNextRefusesPacketsWithoutActingOnThem) {
    cam.nakNext(2);
    EXPECT_EQ(command(setint(5, 1)), kNak);
    EXPECT_EQ(cam.getInt(5), 0);
    EXPECT_EQ(command(setint(5, 2)), kNak);
    EXPECT_EQ(command(setint(5, 3)), kAck);
    EXPECT_EQ(cam.getInt(5), 3);
    EXPECT_EQ(cam.commands().size(), 3u);  // refused packets are still recorded
}

TEST_F(CameraTest, AnswerFaultsApplyInTheOrderSet) {
    cam.answerNext(0x11, 1);
    cam.nakNext(1);
    cam.answerNext(0x18, 2);
    const int expected[] = {0x11, kNak, 0x18, 0x18, kAck};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(command(setint(5, i + 1)), expected[i]) << i;
    EXPECT_EQ(cam.getInt(5), 5);
}

TEST_F(CameraTest, AnswerFaultReplacesAReply) {
    cam.setInt(12, 77);
    cam.answerNext(0x18, 1);
    host->writeCommand({1, 12});
    EXPECT_EQ(host->readByte(), 0x18);
    EXPECT_TRUE(host->quietFor());  // no data packet behind it
    host->writeCommand({1, 12});
    auto p = host->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payload, le32(77));
}

TEST_F(CameraTest, AnswerFaultOnADataPacketKeepsTheTransferWhereItWas) {
    const Bytes first = pattern(2046);
    ASSERT_EQ(command(concat({{3, 29}, first})), kAck);
    cam.nakNext(1);
    host->writePacket(0x03, 0, {1, 2});
    EXPECT_EQ(host->readByte(), kNak);
    host->writePacket(0x03, 0, {1, 2});  // the host's repetition
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.getData(29), concat({first, {1, 2}}));
}

TEST_F(CameraTest, CorruptedChecksumsAreSentAgainOnNak) {
    cam.setData(27, pattern(10));
    cam.corruptNextChecksum(2);
    host->writeCommand({4, 27});
    for (int i = 0; i < 2; ++i) {
        auto bad = host->readPacket();
        ASSERT_TRUE(bad);
        EXPECT_FALSE(bad->sumOk) << i;
        EXPECT_EQ(bad->payload, pattern(10)) << i;
        host->writeByte(kNak);
    }
    auto good = host->readPacket();
    ASSERT_TRUE(good);
    EXPECT_TRUE(good->sumOk);
    EXPECT_EQ(good->payload, pattern(10));
}

TEST_F(CameraTest, DroppedPacketIsSentOnTheHostsNak) {
    cam.setInt(12, 42);
    cam.dropNext();
    host->writeCommand({1, 12});
    EXPECT_TRUE(host->quietFor());
    host->writeByte(kNak);  // as the host does when its read times out
    auto p = host->readPacket();
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->sumOk);
    EXPECT_EQ(p->payload, le32(42));
}

TEST_F(CameraTest, RepeatedPacketIsAnsweredTwiceBeforeTheNextOne) {
    const Bytes data = pattern(30);
    cam.setData(14, data);
    cam.setMaxPacket(10);
    cam.repeatNext();
    host->writeCommand({4, 14});
    auto a = host->readPacket();
    auto b = host->readPacket();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->seq, 0);
    EXPECT_EQ(b->seq, 0);
    EXPECT_EQ(a->payload, b->payload);
    host->writeByte(kAck);
    host->writeByte(kAck);  // the host acknowledges the copy as well
    auto p1 = host->readPacket();
    ASSERT_TRUE(p1);
    EXPECT_EQ(p1->seq, 1);
    // Had the copy's ACK been taken for packet 1, this NAK would bring packet 2.
    host->writeByte(kNak);
    auto again = host->readPacket();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->seq, 1);
    host->writeByte(kAck);
    auto p2 = host->readPacket();
    ASSERT_TRUE(p2);
    EXPECT_EQ(p2->seq, 2);
    EXPECT_EQ(p2->type, 0x03);
}

TEST_F(CameraTest, SilentCameraRecordsButNeitherAnswersNorActs) {
    cam.setSilent(true);
    host->writeByte(0x00);
    host->writeCommand(setint(5, 3));
    host->writeCommand({2, 2, 0});
    ASSERT_TRUE(cam.waitReceived(3, 3s));
    EXPECT_TRUE(host->quietFor());
    EXPECT_EQ(cam.getInt(5), 0);

    cam.setSilent(false);
    EXPECT_EQ(command(setint(5, 3)), kAck);
    EXPECT_EQ(cam.getInt(5), 3);
}

TEST_F(CameraTest, SendRawArrivesAsItIs) {
    const Bytes junk = {0x41, 0x00, 0x1B, 0xFF, 0x05};
    cam.sendRaw(junk);
    EXPECT_EQ(host->readBytes(junk.size()), junk);
    EXPECT_TRUE(host->quietFor(100ms));
}

}  // namespace
}  // namespace simtest

// The faults that wait for their own occasions (tulk-camsim's --fault).
namespace simtest {
namespace {

using namespace std::chrono_literals;
using camsim::Fault;
using Kind = Fault::Kind;
using Fired = std::vector<std::pair<Kind, int>>;

Fault fault(Kind kind, int at = 1, int every = 0) {
    Fault f;
    f.kind = kind;
    f.at = at;
    f.every = every;
    return f;
}

TEST_F(CameraTest, FaultFiresOnItsOccasionsAndAResendIsNone) {
    cam.setData(14, pattern(100));
    cam.setMaxPacket(10);
    cam.addFault(fault(Kind::GarblePacket, 2, 3));
    host->writeCommand({4, 14});
    std::vector<int> garbled;
    Bytes data;
    for (int seq = 0;; ++seq) {
        auto p = host->readPacket();
        ASSERT_TRUE(p);
        if (!p->sumOk) {
            garbled.push_back(seq);
            host->writeByte(kNak);
            p = host->readPacket();
            ASSERT_TRUE(p && p->sumOk);
        }
        EXPECT_EQ(p->seq, seq);
        data.insert(data.end(), p->payload.begin(), p->payload.end());
        host->writeByte(kAck);
        if (p->type == 0x03)
            break;
    }
    EXPECT_EQ(data, pattern(100));
    EXPECT_EQ(garbled, (std::vector<int>{1, 4, 7}));
    EXPECT_EQ(cam.firedFaults(),
              (Fired{{Kind::GarblePacket, 2}, {Kind::GarblePacket, 5}, {Kind::GarblePacket, 8}}));
}

TEST_F(CameraTest, OnlyPictureTransfersAreOccasionsForThePictureFaults) {
    cam.setData(15, pattern(30));
    cam.setMaxPacket(10);
    cam.addFault(fault(Kind::GarbleAlways));
    cam.addFault(fault(Kind::StallMidTransfer));
    host->writeCommand({4, 15});
    EXPECT_EQ(readTransfer(), pattern(30));
    EXPECT_EQ(cam.firedFaults(), Fired{});
}

TEST_F(CameraTest, FirstFaultOfAnOccasionTakesItFromTheOthers) {
    cam.generatePictures(1, 16, 16);
    cam.addFault(fault(Kind::Restart));
    cam.addFault(fault(Kind::LoseAnswer));
    host->writeCommand({2, 2});
    ASSERT_TRUE(cam.waitUntil([&] { return !cam.firedFaults().empty(); }, 3s));
    // The snapshot that restarted the camera was no occasion for lose-answer:
    // the next one is its first.
    host->writeCommand({2, 2});
    host->writeCommand({1, 10});
    auto count = host->readPacket();
    ASSERT_TRUE(count);
    EXPECT_EQ(count->payload, le32(2));  // taken once, unanswered
    EXPECT_EQ(cam.firedFaults(), (Fired{{Kind::Restart, 1}, {Kind::LoseAnswer, 1}}));
}

TEST_F(CameraTest, StalledCameraNeitherSendsNorReadsThenCarriesOn) {
    const Bytes data = pattern(40);
    cam.setData(14, data);
    cam.setMaxPacket(10);
    Fault stall = fault(Kind::StallMidTransfer);
    stall.duration = 1000ms;
    cam.addFault(stall);
    host->writeCommand({4, 14});
    for (int seq = 0; seq < 2; ++seq) {
        auto p = host->readPacket();
        ASSERT_TRUE(p && p->sumOk);
        EXPECT_EQ(p->seq, seq);
        if (seq == 0)
            host->writeByte(kAck);
    }
    // Frozen after the second of four packets, before the host's answer.
    const std::size_t before = cam.rawReceived().size();
    host->writeByte(kAck);
    const auto grew = [&] { return cam.rawReceived().size() > before; };
    EXPECT_FALSE(cam.waitUntil(grew, 300ms));
    EXPECT_TRUE(cam.waitUntil(grew, 3s));
    for (int seq = 2; seq < 4; ++seq) {
        auto p = host->readPacket();
        ASSERT_TRUE(p && p->sumOk);
        EXPECT_EQ(p->seq, seq);
        EXPECT_EQ(p->payload, Bytes(data.begin() + seq * 10, data.begin() + seq * 10 + 10));
        host->writeByte(kAck);
    }
}

TEST_F(CameraTest, VanishedCameraRunsItsHandlerThenFallsSilent) {
    cam.generatePictures(1, 16, 16);
    int vanished = 0;
    cam.setVanishHandler([&] { ++vanished; });
    cam.addFault(fault(Kind::Vanish));
    host->writeCommand({2, 2});
    ASSERT_TRUE(cam.waitUntil([&] { return !cam.firedFaults().empty(); }, 3s));
    host->writeCommand({1, 10});
    EXPECT_TRUE(host->quietFor());
    EXPECT_EQ(vanished, 1);
    EXPECT_EQ(cam.pictures().size(), 1u);
}

TEST(CameraRecord, NamesFilesPlainlyAndContinuesFromTheHighestNumber) {
    char tmpl[] = "/tmp/tulk-record-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    std::ofstream(dir / "000041-old.JPG") << "x";
    std::ofstream(dir / "notes-000099") << "x";  // no record file
    {
        camsim::Camera camera;
        ASSERT_TRUE(camera.setRecord(dir.string()));
        camsim::Picture p;
        p.jpeg = {1, 2, 3};
        p.name = "../a\nb";
        camera.addPicture(p);
    }
    std::ifstream in(dir / "000042-.._a_b", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              (Bytes{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "a\nb"));

    camsim::Camera camera;  // a file where the folder should be
    EXPECT_FALSE(camera.setRecord((dir / "000041-old.JPG").string()));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simtest
