// The camera on its USB cable: a packet socket on which every packet and
// every control byte is one message, both ways.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/sim/camera_fixture.h"
#include "tests/sim/host_socket.h"

namespace simtest {
namespace {

using camsim::Received;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

Bytes setint(int reg, std::int32_t value) {
    return concat({{0, std::uint8_t(reg)}, le32(value)});
}

class UsbTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(runtime.path().empty());
        path = cam.startUsb(0);
        ASSERT_FALSE(path.empty()) << std::strerror(errno);
        host = std::make_unique<HostSocket>(path);
        ASSERT_TRUE(host->isOpen());
    }

    // One command, and the single message the camera answers it with.
    std::optional<Bytes> command(const Bytes& payload) {
        host->sendCommand(payload);
        return host->receive();
    }

    PrivateRuntimeDir runtime;  // outlives the camera, which removes its socket
    camsim::Camera cam;
    std::string path;
    std::unique_ptr<HostSocket> host;
};

const Bytes kAckMessage{kAck};
const Bytes kNakMessage{kNak};

TEST_F(UsbTest, ServedWhereTheHostLooks) {
    EXPECT_EQ(path, runtime.path() + "/tulk/usbscan0");
    struct stat st {};
    ASSERT_EQ(::stat((runtime.path() + "/tulk").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(cam.startUsb(0), path);  // already serving

    // Device n has a name of its own, in the same folder.
    camsim::Camera second;
    EXPECT_EQ(second.startUsb(7), runtime.path() + "/tulk/usbscan7");
    second.stop();
    EXPECT_FALSE(fs::exists(runtime.path() + "/tulk/usbscan7"));

    host.reset();
    cam.stop();
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(UsbTest, WithoutARuntimeFolderUsesTmp) {
    ::unsetenv("XDG_RUNTIME_DIR");
    camsim::Camera other;
    const std::string tmpPath = other.startUsb(73);
    ASSERT_EQ(tmpPath, "/tmp/tulk/usbscan73") << std::strerror(errno);
    HostSocket tmpHost(tmpPath);
    ASSERT_TRUE(tmpHost.isOpen());
    tmpHost.sendByte(0x00);
    EXPECT_EQ(tmpHost.receive(), Bytes{0x15});
    other.stop();
    EXPECT_FALSE(fs::exists(tmpPath));
}

TEST_F(UsbTest, StaleSocketIsReplacedButALiveOneIsNot) {
    // A socket file left behind by a camera that died.
    const std::string stale = runtime.path() + "/tulk/usbscan1";
    {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, stale.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    camsim::Camera second;
    ASSERT_EQ(second.startUsb(1), stale);
    HostSocket secondHost(stale);
    ASSERT_TRUE(secondHost.isOpen());
    secondHost.sendByte(0x00);
    EXPECT_EQ(secondHost.receive(), Bytes{0x15});

    // Device 0 is served: a second camera must not take it over.
    camsim::Camera third;
    EXPECT_EQ(third.startUsb(0), "");
    EXPECT_EQ(errno, EADDRINUSE);
    host->sendByte(0x00);
    EXPECT_EQ(host->receive(), Bytes{0x15});
}

TEST_F(UsbTest, EveryControlByteIsAMessageOfItsOwn) {
    EXPECT_EQ(command(setint(5, 3)), kAckMessage);
    EXPECT_EQ(cam.getInt(5), 3);
    cam.setActionTime(50ms);
    host->sendCommand({2, 2, 0});
    EXPECT_EQ(host->receive(), kAckMessage);
    EXPECT_EQ(host->receive(), Bytes{kComplete});
    host->sendByte(0x00);
    EXPECT_EQ(host->receive(), Bytes{0x15});
    cam.answerNext(0x18, 1);
    EXPECT_EQ(command(setint(5, 4)), Bytes{0x18});

    const auto rec = cam.received();
    ASSERT_EQ(rec.size(), 4u);
    for (const auto& r : rec)
        EXPECT_EQ(r.via, Received::Usb);
    EXPECT_EQ(rec[2].kind, Received::Control);
}

TEST_F(UsbTest, GetIntAnswerIsOneTenByteMessage) {
    cam.setInt(11, 42);
    const auto reply = command({1, 11});
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Bytes{0x03, 0x00, 0x04, 0x00, 42, 0, 0, 0, 42, 0}));
    host->sendByte(kAck);
    EXPECT_TRUE(host->quietFor());
}

TEST_F(UsbTest, GetVarSendsEachPacketAsAWholeMessage) {
    const Bytes data = pattern(5000, 5);
    cam.setData(14, data);
    host->sendCommand({4, 14});
    const std::size_t sizes[] = {2048, 2048, 904};
    std::size_t at = 0;
    for (std::uint8_t seq = 0; seq < 3; ++seq) {
        const auto m = host->receive();
        ASSERT_TRUE(m) << int(seq);
        const Bytes part(data.begin() + long(at), data.begin() + long(at + sizes[seq]));
        EXPECT_EQ(*m, packet(seq == 2 ? 0x03 : 0x02, seq, part)) << int(seq);
        at += sizes[seq];
        host->sendByte(kAck);
    }
    EXPECT_TRUE(host->quietFor());
}

TEST_F(UsbTest, ReplyIsSentAgainOnNak) {
    cam.setInt(11, 7);
    const Bytes good = packet(0x03, 0, le32(7));

    EXPECT_EQ(command({1, 11}), good);
    host->sendByte(kNak);
    EXPECT_EQ(host->receive(), good);
    host->sendByte(kAck);

    cam.dropNext();
    host->sendCommand({1, 11});
    EXPECT_TRUE(host->quietFor());
    host->sendByte(kNak);
    EXPECT_EQ(host->receive(), good);
    host->sendByte(kAck);

    cam.corruptNextChecksum();
    const auto spoilt = command({1, 11});
    ASSERT_TRUE(spoilt);
    ASSERT_EQ(spoilt->size(), good.size());
    EXPECT_EQ(Bytes(spoilt->begin(), spoilt->end() - 2), Bytes(good.begin(), good.end() - 2));
    EXPECT_NE((*spoilt)[8], good[8]);
    EXPECT_NE((*spoilt)[9], good[9]);
    host->sendByte(kNak);
    EXPECT_EQ(host->receive(), good);
}

TEST_F(UsbTest, SetVarOverSeveralMessages) {
    const Bytes data = pattern(3000);
    EXPECT_EQ(command(concat({{3, 29}, Bytes(data.begin(), data.begin() + 2046)})), kAckMessage);
    host->send(packet(0x03, 0, Bytes(data.begin() + 2046, data.end())));
    EXPECT_EQ(host->receive(), kAckMessage);
    EXPECT_EQ(cam.getData(29), data);
}

TEST_F(UsbTest, MessagesThatAreNoPacketAreRefused) {
    Bytes badSum = packet(0x1B, 0x43, setint(5, 1));
    badSum.back() ^= 0x01;
    Bytes shortLength = packet(0x1B, 0x43, setint(5, 1));
    shortLength[2] = 5;  // one byte less than the message carries
    const struct {
        const char* what;
        Bytes message;
    } cases[] = {
        {"bad checksum", badSum},
        {"length field disagrees", shortLength},
        {"three bytes", {0x1B, 0x43, 0x00}},
        {"no packet type", packet(0x41, 0x43, setint(5, 1))},
        {"longer than any packet", packet(0x1B, 0x43, Bytes(32763, 0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cam.clearRecord();
        host->send(c.message);
        EXPECT_EQ(host->receive(), kNakMessage);
        const auto rec = cam.received();
        ASSERT_EQ(rec.size(), 1u);
        EXPECT_EQ(rec[0].kind, Received::BadPacket);
        EXPECT_EQ(cam.getInt(5), 0);
    }
    // The largest packet is still a packet (refused by the command, not the
    // framing).
    cam.clearRecord();
    EXPECT_EQ(command(concat({{3, 29}, Bytes(32760, 1)})), kNakMessage);
    EXPECT_EQ(cam.received().at(0).kind, Received::Packet);
}

TEST_F(UsbTest, OneHostAtATime) {
    HostSocket waiting(path);
    ASSERT_TRUE(waiting.isOpen());
    waiting.sendByte(0x00);
    EXPECT_TRUE(waiting.quietFor());
    EXPECT_EQ(command(setint(5, 1)), kAckMessage);  // the first is still served

    // A reply under way is forgotten with the host that asked for it.
    cam.setData(14, pattern(5000));
    host->sendCommand({4, 14});
    ASSERT_TRUE(host->receive());
    host->close();
    EXPECT_EQ(waiting.receive(), Bytes{0x15});
    waiting.sendByte(kNak);
    EXPECT_TRUE(waiting.quietFor());
    waiting.close();

    HostSocket third(path);
    ASSERT_TRUE(third.isOpen());
    third.sendCommand({1, 5});
    EXPECT_EQ(third.receive(), packet(0x03, 0, le32(1)));
}

TEST_F(UsbTest, SerialAndUsbShareOneCamera) {
    const std::string tty = cam.startSerial();
    ASSERT_FALSE(tty.empty());
    HostPort serial(tty);
    ASSERT_TRUE(serial.isOpen());

    serial.writeCommand(setint(5, 9));
    ASSERT_EQ(serial.readByte(), kAck);
    EXPECT_EQ(command({1, 5}), packet(0x03, 0, le32(9)));
    host->sendByte(kAck);

    // The line speed is the serial line's alone.
    host->send(packet(0x1B, 0x53, concat({{0, 17}, le32(5)})));
    EXPECT_EQ(host->receive(), kAckMessage);
    EXPECT_EQ(cam.lineSpeed(), 19200);
    serial.writeByte(0x00);
    EXPECT_EQ(serial.readByte(), 0x15);

    cam.setFolders({"", 0, {{"A", 4, {}}}});
    EXPECT_EQ(command(concat({{3, 84}, {'A'}})), kAckMessage);
    serial.writeCommand({1, 10});
    const auto count = serial.readPacket();
    ASSERT_TRUE(count);
    EXPECT_EQ(count->payload, le32(4));
    serial.writeByte(kAck);

    ASSERT_TRUE(cam.waitReceived(8, 3s));
    int usb = 0;
    int onSerial = 0;
    for (const auto& r : cam.received())
        (r.via == Received::Usb ? usb : onSerial)++;
    EXPECT_EQ(usb, 4);
    EXPECT_EQ(onSerial, 4);
}

TEST_F(UsbTest, SendRawWithoutASerialLineIsOneMessage) {
    host->sendByte(0x00);  // the camera has taken the connection by now
    ASSERT_EQ(host->receive(), Bytes{0x15});
    const Bytes junk = {0x41, 0x00, 0x1B, 0xFF};
    cam.sendRaw(junk);
    EXPECT_EQ(host->receive(), junk);
}

}  // namespace
}  // namespace simtest
