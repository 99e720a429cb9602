// The camera's side of the protocol, driven byte by byte from the host's end.
#include <atomic>
#include <mutex>
#include <thread>

#include "tests/sim/camera_fixture.h"

namespace simtest {
namespace {

using camsim::Received;
using namespace std::chrono_literals;

TEST_F(CameraTest, InitByteIsAnsweredWithTheSignature) {
    host->writeByte(0x00);
    EXPECT_EQ(host->readByte(), 0x15);
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].kind, Received::Control);
    EXPECT_EQ(rec[0].type, 0x00);
}

struct SetCase {
    const char* name;
    std::uint8_t subtype;
    Bytes payload;
    int answer;
    int reg;
    std::int32_t valueAfter;
};
void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.name;
}

class SetCommandTest : public CameraTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetCommandTest, AnswersAndStores) {
    const SetCase& c = GetParam();
    host->writePacket(0x1B, c.subtype, c.payload);
    EXPECT_EQ(host->readByte(), c.answer);
    EXPECT_EQ(cam.getInt(c.reg), c.valueAfter);
    const auto cmds = cam.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].subtype, c.subtype);
    EXPECT_EQ(cmds[0].payload, c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetCommandTest,
    ::testing::Values(SetCase{"setint", 0x43, concat({{0, 5}, le32(3)}), kAck, 5, 3},
                      SetCase{"setint_byte_order", 0x43, concat({{0, 1}, le32(0x12345678)}), kAck,
                              1, 0x12345678},
                      SetCase{"setint_negative", 0x43, concat({{0, 1}, le32(-2)}), kAck, 1, -2},
                      SetCase{"setnullint", 0x43, {0, 83}, kAck, 83, 0},
                      SetCase{"speed_command", 0x53, concat({{0, 17}, le32(5)}), kAck, 17, 5},
                      SetCase{"setint_short", 0x43, {0, 5, 1, 2, 3}, kNak, 5, 0},
                      SetCase{"speed_without_value", 0x53, {0, 17}, kNak, 17, 0},
                      SetCase{"unknown_command", 0x43, concat({{9, 5}, le32(3)}), kNak, 5, 0},
                      SetCase{"unknown_subtype", 0x44, concat({{0, 5}, le32(3)}), kNak, 5, 0},
                      SetCase{"empty_payload", 0x43, {}, kNak, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, SetIntIsDecodedInTheRecord) {
    ASSERT_EQ(command(concat({{0, 7}, le32(-40000)})), kAck);
    const auto cmds = cam.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].command, 0);
    EXPECT_EQ(cmds[0].reg, 7);
    EXPECT_EQ(cmds[0].value, -40000);
}

TEST_F(CameraTest, SpeedCommandRemembersTheCode) {
    EXPECT_EQ(cam.speedCode(), -1);
    host->writePacket(0x1B, 0x53, concat({{0, 17}, le32(4)}));
    ASSERT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.speedCode(), 4);
}

TEST_F(CameraTest, BadChecksumIsRefusedAndChangesNothing) {
    Bytes bad = packet(0x1B, 0x43, concat({{0, 5}, le32(3)}));
    bad.back() ^= 0x01;
    host->write(bad);
    EXPECT_EQ(host->readByte(), kNak);
    EXPECT_EQ(cam.getInt(5), 0);
    auto rec = cam.received();
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].kind, Received::BadPacket);
    EXPECT_TRUE(cam.commands().empty());

    // The next good packet is read from its own start.
    EXPECT_EQ(command(concat({{0, 5}, le32(4)})), kAck);
    EXPECT_EQ(cam.getInt(5), 4);
}

TEST_F(CameraTest, ChecksumIsSixteenBits) {
    // 300 bytes of 0xFF: the sum does not fit a byte.
    const Bytes payload = concat({{3, 29}, Bytes(300, 0xFF)});
    const std::uint16_t sum = sum16(payload);
    ASSERT_GT(sum, 0xFF);
    Bytes truncated = packet(0x1B, 0x43, payload);
    truncated[truncated.size() - 1] = 0;  // a sum kept in one byte only
    host->write(truncated);
    EXPECT_EQ(host->readByte(), kNak);
    host->writeCommand(payload);
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.getData(29), Bytes(300, 0xFF));
}

TEST_F(CameraTest, PacketsAreParsedInAnyGrouping) {
    // Two packets in one write, then one packet a byte at a time.
    host->write(concat({packet(0x1B, 0x43, concat({{0, 1}, le32(11)})),
                        packet(0x1B, 0x43, concat({{0, 2}, le32(22)}))}));
    EXPECT_EQ(host->readBytes(2), (Bytes{kAck, kAck}));
    for (auto b : packet(0x1B, 0x43, concat({{0, 3}, le32(33)})))
        host->writeByte(b);
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.getInt(1), 11);
    EXPECT_EQ(cam.getInt(2), 22);
    EXPECT_EQ(cam.getInt(3), 33);
}

TEST_F(CameraTest, StalledPacketIsDropped) {
    // A packet cut off after its header: were its bytes kept, the next packet
    // would be read as its payload.
    cam.setStallLimit(50ms);
    host->write({0x1B, 0x43, 0x06, 0x00, 0x00});
    ASSERT_TRUE(cam.waitUntil([&] { return cam.stalledPackets() == 1; }, 5s));
    EXPECT_EQ(command(concat({{0, 5}, le32(9)})), kAck);
    EXPECT_EQ(cam.getInt(5), 9);
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].kind, Received::Packet);
}

TEST_F(CameraTest, ImpossibleLengthIsNotAPacket) {
    host->write({0x1B, 0x43, 0xFF, 0xFF});
    EXPECT_EQ(host->readByte(), kNak);
    EXPECT_EQ(command(concat({{0, 5}, le32(9)})), kAck);
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_EQ(rec[0].kind, Received::BadPacket);
    EXPECT_EQ(rec[1].kind, Received::Packet);
}

// --- getint ------------------------------------------------------------------

TEST_F(CameraTest, GetIntRepliesWithOneLastDataPacket) {
    cam.setInt(12, -123456);
    host->writeCommand({1, 12});
    auto p = host->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->type, 0x03);
    EXPECT_EQ(p->seq, 0);
    EXPECT_EQ(p->payload, le32(-123456));
    EXPECT_TRUE(p->sumOk);
    host->writeByte(kAck);
    ASSERT_TRUE(cam.waitReceived(2, 3s));
    EXPECT_EQ(cam.received()[1].type, kAck);
    EXPECT_TRUE(host->quietFor());
}

TEST_F(CameraTest, GetIntReplyIsSentAgainOnNak) {
    cam.setInt(10, 7);
    host->writeCommand({1, 10});
    auto first = host->readPacket();
    ASSERT_TRUE(first);
    host->writeByte(kNak);
    auto again = host->readPacket();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->type, 0x03);
    EXPECT_EQ(again->payload, le32(7));
    host->writeByte(kAck);
    EXPECT_TRUE(host->quietFor());
}

TEST_F(CameraTest, UnsetRegistersReadAsZeroAndEmpty) {
    host->writeCommand({1, 40});
    auto p = host->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payload, le32(0));
    host->writeByte(kAck);
    host->writeCommand({4, 84});
    EXPECT_EQ(readTransfer(), Bytes{});
}

TEST_F(CameraTest, RefusedRegisterIsRefusedForReadsAndWrites) {
    cam.setInt(12, 5);
    cam.setData(12, {1, 2});
    cam.setRefused(12, true);
    const Bytes commands[] = {{1, 12}, concat({{0, 12}, le32(1)}), {0, 12}, {4, 12}, {3, 12, 9}};
    for (const auto& c : commands)
        EXPECT_EQ(command(c), kNak) << int(c[0]);
    EXPECT_EQ(cam.getInt(12), 5);
    EXPECT_EQ(cam.getData(12), (Bytes{1, 2}));

    cam.setRefused(12, false);
    EXPECT_EQ(command(concat({{0, 12}, le32(1)})), kAck);
    EXPECT_EQ(cam.getInt(12), 1);
}

// --- actions -------------------------------------------------------------------

TEST_F(CameraTest, ActionIsAcknowledgedRunThenCompleted) {
    // The handler runs on the camera's thread; the bytes on the line do not
    // order its writes before the test's reads.
    std::mutex argsMutex;
    Bytes args;
    cam.setAction(2, [&](const Bytes& a) {
        {
            std::lock_guard lock(argsMutex);
            args = a;
        }
        // A handler may use the camera: no lock is held while it runs.
        cam.setInt(10, cam.getInt(10) + 1);
        return true;
    });
    cam.setActionTime(200ms);
    const auto start = std::chrono::steady_clock::now();
    host->writeCommand({2, 2, 0x07});
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(host->readByte(), kComplete);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    {
        std::lock_guard lock(argsMutex);
        EXPECT_EQ(args, Bytes{0x07});
    }
    EXPECT_EQ(cam.getInt(10), 1);
    EXPECT_EQ(cam.commands().at(0).data, Bytes{0x07});
}

TEST_F(CameraTest, ActionWithoutHandlerIsAccepted) {
    host->writeCommand({2, 4, 0});
    EXPECT_EQ(host->readBytes(2), (Bytes{kAck, kComplete}));
}

TEST_F(CameraTest, RefusedActionIsAnsweredWithNakAndNeverCompletes) {
    std::atomic<int> calls = 0;  // written on the camera's thread
    cam.setAction(6, [&](const Bytes&) {
        ++calls;
        return false;
    });
    EXPECT_EQ(command({2, 6, 1}), kNak);
    EXPECT_TRUE(host->quietFor());
    EXPECT_EQ(calls, 1);
}

// --- setvar --------------------------------------------------------------------

TEST_F(CameraTest, SetVarInOnePacket) {
    const Bytes data = pattern(8);
    EXPECT_EQ(command(concat({{3, 29}, data})), kAck);
    EXPECT_EQ(cam.getData(29), data);
    EXPECT_EQ(cam.commands().at(0).data, data);
}

TEST_F(CameraTest, SetVarOverSeveralPacketsIsReassembled) {
    const Bytes before = {0xAA};
    cam.setData(29, before);
    const Bytes data = pattern(5000);
    const auto part = [&](std::size_t from, std::size_t n) {
        return Bytes(data.begin() + long(from), data.begin() + long(from + n));
    };
    EXPECT_EQ(command(concat({{3, 29}, part(0, 2046)})), kAck);
    host->writePacket(0x02, 0, part(2046, 2048));
    EXPECT_EQ(host->readByte(), kAck);
    // Part-way the register still holds what it held.
    EXPECT_EQ(cam.getData(29), before);
    EXPECT_TRUE(cam.commands().at(0).data.empty());
    host->writePacket(0x03, 1, part(4094, 906));
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.getData(29), data);
    const auto cmds = cam.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].data, data);
}

TEST_F(CameraTest, SetVarOfExactlyOneCommandChunkIsStoredAtOnce) {
    const Bytes data = pattern(2046);
    EXPECT_EQ(command(concat({{3, 29}, data})), kAck);
    EXPECT_EQ(cam.getData(29), data);
    EXPECT_EQ(cam.commands().at(0).data, data);
}

TEST_F(CameraTest, SetVarDataPacketsOutOfTurn) {
    cam.setData(29, {0xAA});
    // A data packet with no transfer under way.
    host->writePacket(0x03, 0, {1});
    EXPECT_EQ(host->readByte(), kNak);

    const Bytes first = pattern(2046);
    ASSERT_EQ(command(concat({{3, 29}, first})), kAck);
    host->writePacket(0x02, 1, pattern(2048));  // sequence 0 expected
    EXPECT_EQ(host->readByte(), kNak);
    host->writePacket(0x02, 0, pattern(2048, 1));
    EXPECT_EQ(host->readByte(), kAck);
    host->writePacket(0x02, 0, pattern(2048, 1));  // repeated: acknowledged, kept once
    EXPECT_EQ(host->readByte(), kAck);
    host->writePacket(0x03, 1, {5});
    EXPECT_EQ(host->readByte(), kAck);
    EXPECT_EQ(cam.getData(29), concat({first, pattern(2048, 1), {5}}));
}

TEST_F(CameraTest, SetVarGivenUpPartWayLeavesTheRegister) {
    cam.setData(29, {0xAA});
    ASSERT_EQ(command(concat({{3, 29}, pattern(2046)})), kAck);
    host->writePacket(0x02, 0, pattern(2048));
    ASSERT_EQ(host->readByte(), kAck);
    EXPECT_EQ(command(concat({{0, 5}, le32(1)})), kAck);
    host->writePacket(0x03, 1, {5});
    EXPECT_EQ(host->readByte(), kNak);
    EXPECT_EQ(cam.getData(29), Bytes{0xAA});
}

// --- getvar --------------------------------------------------------------------

struct GetVarCase {
    const char* name;
    std::size_t size;
    int maxPacket;
    std::vector<std::size_t> packetSizes;
};
void PrintTo(const GetVarCase& c, std::ostream* os) {
    *os << c.name;
}

class GetVarTest : public CameraTest, public ::testing::WithParamInterface<GetVarCase> {};

TEST_P(GetVarTest, SendsDataInNumberedPackets) {
    const GetVarCase& c = GetParam();
    const Bytes data = pattern(c.size, 3);
    cam.setData(14, data);
    if (c.maxPacket > 0)
        cam.setMaxPacket(c.maxPacket);
    host->writeCommand({4, 14});
    Bytes got;
    for (std::size_t i = 0; i < c.packetSizes.size(); ++i) {
        auto p = host->readPacket();
        ASSERT_TRUE(p) << "packet " << i;
        const bool last = i + 1 == c.packetSizes.size();
        EXPECT_EQ(p->type, last ? 0x03 : 0x02) << "packet " << i;
        EXPECT_EQ(p->seq, std::uint8_t(i)) << "packet " << i;
        EXPECT_EQ(p->payload.size(), c.packetSizes[i]) << "packet " << i;
        EXPECT_TRUE(p->sumOk) << "packet " << i;
        got.insert(got.end(), p->payload.begin(), p->payload.end());
        host->writeByte(kAck);
    }
    EXPECT_EQ(got, data);
    EXPECT_TRUE(host->quietFor());
}

INSTANTIATE_TEST_SUITE_P(Cases, GetVarTest,
                         ::testing::Values(GetVarCase{"three_packets", 5000, 0, {2048, 2048, 904}},
                                           GetVarCase{"empty", 0, 0, {0}},
                                           GetVarCase{"exactly_one_packet", 2048, 0, {2048}},
                                           GetVarCase{"one_byte_over", 2049, 0, {2048, 1}},
                                           GetVarCase{"small_packets", 10, 4, {4, 4, 2}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, GetVarSequenceWrapsAfter255) {
    const Bytes data = pattern(300);
    cam.setData(27, data);
    cam.setMaxPacket(1);
    host->writeCommand({4, 27});
    EXPECT_EQ(readTransfer(), data);  // checks sequence i % 256
}

TEST_F(CameraTest, GetVarPacketIsSentAgainOnNak) {
    cam.setData(14, pattern(5000));
    host->writeCommand({4, 14});
    auto p0 = host->readPacket();
    ASSERT_TRUE(p0);
    host->writeByte(kAck);
    auto p1 = host->readPacket();
    ASSERT_TRUE(p1);
    host->writeByte(kNak);
    auto again = host->readPacket();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->seq, 1);
    EXPECT_EQ(again->payload, p1->payload);
    host->writeByte(kAck);
    auto p2 = host->readPacket();
    ASSERT_TRUE(p2);
    EXPECT_EQ(p2->seq, 2);
    EXPECT_EQ(p2->type, 0x03);
}

TEST_F(CameraTest, NewCommandAbandonsGetVar) {
    cam.setData(14, pattern(5000));
    cam.setInt(12, 5000);
    host->writeCommand({4, 14});
    ASSERT_TRUE(host->readPacket());
    // The host gives up on the picture and asks for its length instead.
    host->writeCommand({1, 12});
    auto p = host->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->type, 0x03);
    EXPECT_EQ(p->payload, le32(5000));
    host->writeByte(kAck);
    EXPECT_TRUE(host->quietFor());
}

TEST_F(CameraTest, WriteCommandAbandonsGetVar) {
    cam.setData(14, pattern(5000));
    host->writeCommand({4, 14});
    ASSERT_TRUE(host->readPacket());
    EXPECT_EQ(command(concat({{0, 5}, le32(1)})), kAck);
    host->writeByte(kNak);  // answers nothing of the abandoned transfer
    EXPECT_TRUE(host->quietFor());
}

TEST_F(CameraTest, GetVarIsGivenUpWhenTheHostStopsAnswering) {
    cam.setAnswerTimeout(100ms);
    cam.setData(14, pattern(5000));
    host->writeCommand({4, 14});
    ASSERT_TRUE(host->readPacket());
    std::this_thread::sleep_for(400ms);
    host->writeByte(kNak);  // too late: nothing is sent again
    EXPECT_TRUE(host->quietFor());
}

// --- the record ----------------------------------------------------------------

TEST_F(CameraTest, RecordKeepsEverythingInOrder) {
    const Bytes setint = packet(0x1B, 0x43, concat({{0, 5}, le32(3)}));
    host->writeByte(0x00);
    ASSERT_EQ(host->readByte(), 0x15);
    host->write(setint);
    ASSERT_EQ(host->readByte(), kAck);
    host->writeByte(kAck);  // an ACK the camera did not ask for
    ASSERT_TRUE(cam.waitReceived(3, 3s));

    EXPECT_EQ(cam.rawReceived(), concat({{0x00}, setint, {kAck}}));
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 3u);
    EXPECT_EQ(rec[0].kind, Received::Control);
    EXPECT_EQ(rec[1].kind, Received::Packet);
    EXPECT_EQ(rec[1].type, 0x1B);
    EXPECT_EQ(rec[2].kind, Received::Control);
    EXPECT_EQ(rec[2].type, kAck);
    EXPECT_LE(rec[0].when, rec[1].when);
    EXPECT_LE(rec[1].when, rec[2].when);
    const auto cmds = cam.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].reg, 5);

    cam.clearRecord();
    EXPECT_TRUE(cam.received().empty());
    EXPECT_TRUE(cam.rawReceived().empty());
    EXPECT_FALSE(cam.waitReceived(1, 50ms));
}

TEST_F(CameraTest, WaitReceivedWakesWhenTheEntryArrives) {
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = cam.waitReceived(1, 10s); });
    host->writeByte(0x00);
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST_F(CameraTest, DataPacketsAreRecordedUndecoded) {
    ASSERT_EQ(command(concat({{3, 29}, pattern(2046)})), kAck);
    host->writePacket(0x03, 0, {1, 2});
    ASSERT_EQ(host->readByte(), kAck);
    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_EQ(rec[1].type, 0x03);
    EXPECT_EQ(rec[1].subtype, 0);
    EXPECT_EQ(rec[1].payload, (Bytes{1, 2}));
    EXPECT_EQ(rec[1].command, -1);
    EXPECT_EQ(cam.commands().size(), 1u);
}

TEST_F(CameraTest, HostClosingThePortDoesNotStopTheCamera) {
    host.reset();
    host = std::make_unique<HostPort>(path);
    ASSERT_TRUE(host->isOpen());
    host->writeByte(0x00);
    EXPECT_EQ(host->readByte(), 0x15);
}

}  // namespace
}  // namespace simtest
