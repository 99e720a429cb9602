// tulk-camsim's faults, link and record, seen from the host's end of the
// cable with the camera in a process of its own, as the host's own tests
// will run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/sim/host_port.h"
#include "tests/sim/host_socket.h"
#include "tests/sim/program.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

enum class Cable { Serial, Usb };

std::string cableName(Cable c) {
    return c == Cable::Serial ? "serial" : "usb";
}

// The host on either cable, one packet or control byte at a time.
class Host {
public:
    Host(Cable cable, const std::string& path) : cable_(cable) {
        if (cable == Cable::Serial)
            port_ = std::make_unique<HostPort>(path);
        else
            socket_ = std::make_unique<HostSocket>(path);
    }
    bool isOpen() const { return port_ ? port_->isOpen() : socket_->isOpen(); }
    HostPort& port() { return *port_; }
    HostSocket& socket() { return *socket_; }

    void sendByte(std::uint8_t b) { port_ ? port_->writeByte(b) : socket_->sendByte(b); }
    void sendCommand(const Bytes& payload) {
        port_ ? port_->writeCommand(payload) : socket_->sendCommand(payload);
    }

    // The next control byte or whole packet, as it came.
    std::optional<Bytes> next(milliseconds timeout = 3000ms) {
        if (cable_ == Cable::Usb)
            return socket_->receive(timeout);
        const int first = port_->readByte(timeout);
        if (first < 0)
            return std::nullopt;
        Bytes raw{std::uint8_t(first)};
        if (first != 0x02 && first != 0x03)
            return raw;
        const Bytes head = port_->readBytes(3, timeout);
        raw.insert(raw.end(), head.begin(), head.end());
        if (head.size() == 3) {
            const Bytes rest = port_->readBytes(head[1] + 256u * head[2] + 2, timeout);
            raw.insert(raw.end(), rest.begin(), rest.end());
        }
        return raw;
    }

private:
    Cable cable_;
    std::unique_ptr<HostPort> port_;
    std::unique_ptr<HostSocket> socket_;
};

struct Decoded {
    bool whole = false;  // as long as its length field says
    std::uint8_t type = 0;
    std::uint8_t seq = 0;
    Bytes payload;
    bool sumOk = false;
};

Decoded decode(const std::optional<Bytes>& raw) {
    Decoded d;
    if (!raw || raw->size() < 6)
        return d;
    const Bytes& r = *raw;
    d.type = r[0];
    d.seq = r[1];
    d.whole = r[2] + 256u * r[3] == r.size() - 6;
    d.payload.assign(r.begin() + 4, r.end() - 2);
    d.sumOk = r[r.size() - 2] + 256u * r.back() == sum16(d.payload);
    return d;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tulk-faulttest-XXXXXX";
        if (::mkdtemp(tmpl))
            path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

constexpr std::uint8_t kSnapshot = 2;
constexpr std::uint8_t kEraseLast = 0;

class CamsimFaults : public ::testing::Test {
protected:
    // Starts the camera with args and a record, on the cable given, and
    // opens the host's end of it.
    void start(Cable cable, std::vector<std::string> args) {
        args.push_back(cable == Cable::Usb ? "--usb" : "--serial");
        args.push_back("--record=" + record.path().string());
        prog = std::make_unique<Program>(args);
        ASSERT_TRUE(prog->started());
        path = prog->servedPath(cable == Cable::Usb ? kUsbLine : kSerialLine);
        ASSERT_FALSE(path.empty());
        host = std::make_unique<Host>(cable, path);
        ASSERT_TRUE(host->isOpen());
    }

    // A read of a register to its end, acknowledging every packet; every
    // packet must be true.
    Bytes read(const Bytes& command) {
        host->sendCommand(command);
        Bytes data;
        for (std::uint8_t seq = 0;; ++seq) {
            const Decoded p = decode(host->next());
            EXPECT_TRUE(p.whole && p.sumOk) << "packet " << int(seq);
            if (!p.whole)
                return data;
            EXPECT_EQ(p.seq, seq);
            data.insert(data.end(), p.payload.begin(), p.payload.end());
            host->sendByte(kAck);
            if (p.type == 0x03)
                return data;
        }
    }

    // An action the camera carries out and answers as it should.
    void act(std::uint8_t action) {
        host->sendCommand({2, action});
        EXPECT_EQ(host->next(), Bytes{kAck}) << int(action);
        EXPECT_EQ(host->next(), Bytes{kComplete}) << int(action);
    }

    std::vector<std::string> events() const { return lines(record.path() / "events.log"); }
    Bytes recorded(const std::string& file) const { return readFile(record.path() / file); }

    PrivateRuntimeDir runtime;
    TempDir record;
    std::unique_ptr<Program> prog;
    std::string path;
    std::unique_ptr<Host> host;
};

class CableFaults : public CamsimFaults, public ::testing::WithParamInterface<Cable> {};

std::string cableCase(const ::testing::TestParamInfo<Cable>& info) {
    return cableName(info.param);
}

TEST_P(CableFaults, GarbledPacketFailsItsChecksumAndItsResendIsTrue) {
    start(GetParam(), {"--generate=1", "--fault=garble-packet,at=2"});
    host->sendCommand({4, 14});
    Bytes data;
    const Decoded first = decode(host->next());
    ASSERT_TRUE(first.whole && first.sumOk);
    data = first.payload;
    host->sendByte(kAck);

    const Decoded garbled = decode(host->next());
    ASSERT_TRUE(garbled.whole);  // its length field is the true one
    EXPECT_FALSE(garbled.sumOk);
    host->sendByte(kNak);
    const Decoded resent = decode(host->next());
    ASSERT_TRUE(resent.whole && resent.sumOk);
    EXPECT_EQ(resent.seq, 1);
    ASSERT_EQ(resent.payload.size(), garbled.payload.size());
    int differ = 0;
    for (std::size_t i = 0; i < resent.payload.size(); ++i)
        differ += resent.payload[i] != garbled.payload[i];
    EXPECT_EQ(differ, 1);
    data.insert(data.end(), resent.payload.begin(), resent.payload.end());
    host->sendByte(kAck);

    for (Decoded p = resent; p.type != 0x03;) {
        p = decode(host->next());
        ASSERT_TRUE(p.whole && p.sumOk);
        data.insert(data.end(), p.payload.begin(), p.payload.end());
        host->sendByte(kAck);
    }
    // What the host assembled is the picture the camera holds, byte for byte.
    EXPECT_EQ(data, recorded("000001-DSCN0001.JPG"));
    EXPECT_EQ(events(), std::vector<std::string>{"fault garble-packet 2"});
}

TEST_P(CableFaults, GarbleAlwaysSpoilsEveryCopyEachAnotherWayUntilTheHostGivesUp) {
    start(GetParam(), {"--generate=1", "--fault=garble-always"});
    host->sendCommand({4, 14});
    std::vector<Bytes> copies;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            host->sendByte(kNak);
        const Decoded p = decode(host->next());
        ASSERT_TRUE(p.whole) << i;
        EXPECT_FALSE(p.sumOk) << i;
        EXPECT_EQ(p.seq, 0) << i;
        copies.push_back(p.payload);
    }
    for (std::size_t a = 0; a < copies.size(); ++a)
        for (std::size_t b = a + 1; b < copies.size(); ++b)
            EXPECT_NE(copies[a], copies[b]) << a << " " << b;
    // The host gives up with a new command, and the camera with it: what
    // follows is whole and true.
    EXPECT_EQ(read({1, 10}), le32(1));
    EXPECT_EQ(read({4, 14}), recorded("000001-DSCN0001.JPG"));
    EXPECT_EQ(events(), std::vector<std::string>{"fault garble-always 1"});
}

TEST_P(CableFaults, StallFreezesTheCameraHalfWayThenItCarriesOn) {
    start(GetParam(), {"--generate=1", "--fault=stall-mid-transfer,for=500ms"});
    host->sendCommand({4, 14});
    Bytes data;
    std::vector<Clock::time_point> arrived;
    for (Decoded p; p.type != 0x03;) {
        // The host only ever acknowledges at once: the acknowledgement sent
        // into the stall is read when it ends, and the transfer goes on.
        p = decode(host->next(5000ms));
        ASSERT_TRUE(p.whole && p.sumOk) << arrived.size();
        arrived.push_back(Clock::now());
        data.insert(data.end(), p.payload.begin(), p.payload.end());
        host->sendByte(kAck);
    }
    const std::size_t n = arrived.size();
    ASSERT_GT(n, 2u);
    const std::size_t afterStall = (n + 1) / 2;
    EXPECT_GE(arrived[afterStall] - arrived[afterStall - 1], 400ms) << n << " packets";
    EXPECT_EQ(data, recorded("000001-DSCN0001.JPG"));
    EXPECT_EQ(events(), std::vector<std::string>{"fault stall-mid-transfer 1"});
}

TEST_P(CableFaults, VanishEndsTheProgramAtOnceLeavingItsPathsBehind) {
    const fs::path link = record.path() / "COM1";
    std::vector<std::string> args = {"--generate=1", "--fault=vanish"};
    if (GetParam() == Cable::Serial)
        args.push_back("--link=" + link.string());
    start(GetParam(), args);
    EXPECT_EQ(read({1, 10}), le32(1));
    host->sendCommand({2, kSnapshot});
    EXPECT_EQ(prog->waitExit(5s), 3);
    EXPECT_FALSE(host->next(100ms));  // nothing answered
    if (GetParam() == Cable::Usb)
        EXPECT_TRUE(fs::is_socket(path));
    else
        EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(events(), std::vector<std::string>{"fault vanish 1"});  // and no snapshot
}

INSTANTIATE_TEST_SUITE_P(Cables, CableFaults, ::testing::Values(Cable::Serial, Cable::Usb),
                         cableCase);

// lose-answer and ignore-command, for each action on each cable.
class ActionFaults : public CamsimFaults,
                     public ::testing::WithParamInterface<std::tuple<Cable, std::string>> {
protected:
    Cable cable() const { return std::get<0>(GetParam()); }
    const std::string& action() const { return std::get<1>(GetParam()); }
    std::uint8_t actionNumber() const { return action() == "snapshot" ? kSnapshot : kEraseLast; }
    // The count of pictures after the action has been carried out n times,
    // on a camera that started with 2.
    std::int32_t countAfter(int n) const { return action() == "snapshot" ? 2 + n : 2 - n; }
    // Its line in the record, the n-th time it is carried out.
    std::string eventOf(int n) const {
        return action() == "snapshot" ? "snapshot 00000" + std::to_string(2 + n) + " DSCN000" +
                                            std::to_string(2 + n) + ".JPG"
                                      : "erase 00000" + std::to_string(3 - n) + " DSCN000" +
                                            std::to_string(3 - n) + ".JPG";
    }
};

std::string actionCase(const ::testing::TestParamInfo<std::tuple<Cable, std::string>>& info) {
    return cableName(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
}

TEST_P(ActionFaults, LostAnswerActionIsCarriedOutUnanswered) {
    start(cable(), {"--generate=2", "--fault=lose-answer,action=" + action()});
    host->sendCommand({2, actionNumber()});
    // Had it been answered, the ACK and the completion would come before the
    // count, which the camera reads after the action.
    EXPECT_EQ(read({1, 10}), le32(countAfter(1)));
    EXPECT_EQ(events(), (std::vector<std::string>{"fault lose-answer 1", eventOf(1)}));

    act(actionNumber());  // the host's repeat is answered, and done again
    EXPECT_EQ(read({1, 10}), le32(countAfter(2)));
    EXPECT_EQ(events().back(), eventOf(2));
}

TEST_P(ActionFaults, IgnoredCommandIsNotHeardButItsRepeatIs) {
    start(cable(), {"--generate=2", "--fault=ignore-command,action=" + action()});
    host->sendCommand({2, actionNumber()});
    EXPECT_EQ(read({1, 10}), le32(countAfter(0)));
    EXPECT_EQ(events(), std::vector<std::string>{"fault ignore-command 1"});

    act(actionNumber());
    EXPECT_EQ(read({1, 10}), le32(countAfter(1)));
    EXPECT_EQ(events(), (std::vector<std::string>{"fault ignore-command 1", eventOf(1)}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ActionFaults,
                         ::testing::Combine(::testing::Values(Cable::Serial, Cable::Usb),
                                            ::testing::Values("snapshot", "erase")),
                         actionCase);

// The restart starts both cables again, whichever one the snapshot came on.
class RestartFault : public CamsimFaults, public ::testing::WithParamInterface<Cable> {};

TEST_P(RestartFault, SnapshotRestartsTheInterfaceKeepingPicturesAndRegisters) {
    Program camera({"--serial", "--usb", "--generate=1", "--fault=restart",
                    "--record=" + record.path().string()});
    ASSERT_TRUE(camera.started());
    const std::string serialPath = camera.servedPath(kSerialLine);
    const std::string usbPath = camera.servedPath(kUsbLine);
    HostPort serial(serialPath);
    auto usb = std::make_unique<HostSocket>(usbPath);
    ASSERT_TRUE(serial.isOpen() && usb->isOpen());

    serial.writeCommand(concat({{0, 5}, le32(77)}));
    ASSERT_EQ(serial.readByte(), kAck);
    serial.writePacket(0x1B, 0x53, concat({{0, 17}, le32(5)}));  // to 115200
    ASSERT_EQ(serial.readByte(), kAck);
    ASSERT_TRUE(serial.setSpeed(115200));
    usb->sendByte(0x00);
    ASSERT_EQ(usb->receive(), Bytes{kNak});

    if (GetParam() == Cable::Serial)
        serial.writeCommand({2, kSnapshot});
    else
        usb->sendCommand({2, kSnapshot});

    // The camera closed the USB connection, and its serial line is back at
    // 19200: the host's 115200 is noise to it, and nothing is answered
    // until a wake-up at 19200.
    EXPECT_TRUE(usb->waitClosed());
    serial.writeCommand({1, 10});
    EXPECT_TRUE(serial.quietFor());
    ASSERT_TRUE(serial.setSpeed(19200));
    serial.writeByte(0x00);
    EXPECT_EQ(serial.readByte(), kNak);

    usb = std::make_unique<HostSocket>(usbPath);  // a new connection is served
    ASSERT_TRUE(usb->isOpen());
    usb->sendCommand({1, 10});
    EXPECT_EQ(usb->receive(), packet(0x03, 0, le32(1)));  // no picture was taken
    usb->sendByte(kAck);
    serial.writeCommand({1, 5});
    const auto kept = serial.readPacket();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->payload, le32(77));
    serial.writeByte(kAck);
    EXPECT_EQ(lines(record.path() / "events.log"), std::vector<std::string>{"fault restart 1"});
}

INSTANTIATE_TEST_SUITE_P(Cables, RestartFault, ::testing::Values(Cable::Serial, Cable::Usb),
                         cableCase);

TEST_F(CamsimFaults, NoChecksumZeroesEveryUsbPacketsSumButNotTheSerialOnes) {
    Program camera({"--serial", "--usb", "--generate=1", "--fault=no-checksum"});
    ASSERT_TRUE(camera.started());
    HostPort serial(camera.servedPath(kSerialLine));
    HostSocket usb(camera.servedPath(kUsbLine));
    ASSERT_TRUE(serial.isOpen() && usb.isOpen());

    usb.sendCommand({1, 10});
    const auto first = usb.receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, concat({{0x03, 0, 4, 0}, le32(1), {0, 0}}));
    usb.sendByte(kNak);
    EXPECT_EQ(usb.receive(), first);  // the resend is the same bytes
    usb.sendByte(kAck);

    usb.sendCommand({4, 14});
    for (bool last = false; !last;) {
        const auto raw = usb.receive();
        ASSERT_TRUE(raw);
        const Decoded p = decode(raw);
        ASSERT_TRUE(p.whole);
        EXPECT_EQ(Bytes(raw->end() - 2, raw->end()), (Bytes{0, 0}));
        last = p.type == 0x03;
        usb.sendByte(kAck);
    }

    serial.writeCommand({1, 10});
    const auto overSerial = serial.readPacket();
    ASSERT_TRUE(overSerial);
    EXPECT_TRUE(overSerial->sumOk);
}

// The link to the terminal always leads to the newest camera, and goes
// with the camera that made it.
TEST_F(CamsimFaults, LinkLeadsToTheNewestCameraAndGoesWithIt) {
    const std::string link = (record.path() / "COM1").string();
    Program first({"--link=" + link, "--generate=1"});
    ASSERT_TRUE(first.started());
    EXPECT_EQ(first.servedPath(kSerialLine), link);
    {
        HostPort host(link);
        ASSERT_TRUE(host.isOpen());
        host.writeCommand({1, 10});
        const auto count = host.readPacket();
        ASSERT_TRUE(count);
        EXPECT_EQ(count->payload, le32(1));
        host.writeByte(kAck);
    }

    Program second({"--link", link, "--generate=3"});
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.servedPath(kSerialLine), link);
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
    {
        // The first camera left the link that was no longer its own.
        HostPort host(link);
        ASSERT_TRUE(host.isOpen());
        host.writeByte(0x00);
        EXPECT_EQ(host.readByte(), kNak);
        host.writeCommand({1, 10});
        const auto count = host.readPacket();
        ASSERT_TRUE(count);
        EXPECT_EQ(count->payload, le32(3));
        host.writeByte(kAck);
    }
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    // A file that is no link is not the camera's to replace.
    { std::ofstream(link) << "keep"; }
    Program refused({"--link=" + link});
    ASSERT_TRUE(refused.started());
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(readFile(link), (Bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(CamsimFaults, RecordHoldsEveryPictureAddedAndContinuesItsNumbers) {
    start(Cable::Serial, {"--generate=2"});
    act(kSnapshot);
    const Bytes snapshot = read({4, 14});  // the snapshot is selected
    EXPECT_EQ(snapshot, recorded("000003-DSCN0003.JPG"));

    const Bytes upload = {0xFF, 0xD8, 0xFF, 0xD9};
    host->sendCommand(concat({{0, 32}, le32(0x05D21A3B)}));
    ASSERT_EQ(host->next(), Bytes{kAck});
    host->sendCommand(concat({{3, 29}, upload}));
    ASSERT_EQ(host->next(), Bytes{kAck});
    act(11);  // store the upload
    EXPECT_EQ(recorded("000004-DSCN0004.JPG"), upload);

    act(kEraseLast);
    act(1);  // erase all
    EXPECT_EQ(events(), (std::vector<std::string>{"snapshot 000003 DSCN0003.JPG",
                                                  "erase 000004 DSCN0004.JPG", "erase-all 3"}));
    prog->signal(SIGTERM);
    EXPECT_EQ(prog->wait(), 0);

    // A camera started again on the same record goes on from the highest.
    Program again({"--generate=1", "--record=" + record.path().string()});
    ASSERT_TRUE(again.started());
    // It serves once its pictures are added.
    ASSERT_FALSE(again.servedPath(kSerialLine).empty());
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(record.path()))
        files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"000001-DSCN0001.JPG", "000002-DSCN0002.JPG",
                                               "000003-DSCN0003.JPG", "000004-DSCN0004.JPG",
                                               "000005-DSCN0001.JPG", "events.log"}));
    EXPECT_EQ(events().size(), 3u);  // pictures it starts with are no events
}

}  // namespace
}  // namespace simtest
