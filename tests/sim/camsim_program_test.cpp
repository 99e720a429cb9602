// The tulk-camsim program, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/sim/host_port.h"
#include "tests/sim/host_socket.h"
#include "tests/sim/program.h"

namespace simtest {
namespace {

class ProgramStops : public ::testing::TestWithParam<int> {};

TEST_P(ProgramStops, ServesThePrintedTerminalUntilSignalled) {
    Program prog({});
    ASSERT_TRUE(prog.started());
    const std::string prefix = "tulk-camsim: serving serial on ";
    const std::string line = prog.readLine();
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    {
        HostPort host(line.substr(prefix.size()));
        ASSERT_TRUE(host.isOpen());
        host.writeByte(0x00);
        EXPECT_EQ(host.readByte(), 0x15);
    }
    prog.signal(GetParam());
    EXPECT_EQ(prog.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramStops, ::testing::Values(SIGINT, SIGTERM));

TEST(ProgramOptions, HelpAndUnknownOptions) {
    Program help({"--help"});
    ASSERT_TRUE(help.started());
    const std::string text = help.readAll();
    for (const char* mention : {"--help",
                                "--serial",
                                "--usb[=N]",
                                "--folders=SPEC",
                                "--pace",
                                "NAME[:PICTURES][(ITEMS)]",
                                "--pictures=DIR",
                                "--generate=N",
                                "--model=TEXT",
                                "--fault=SPEC",
                                "--link=PATH",
                                "--record=DIR",
                                "stall-mid-transfer",
                                "garble-packet",
                                "garble-always",
                                "no-checksum",
                                "lose-answer",
                                "ignore-command",
                                "restart",
                                "vanish",
                                "events.log"})
        EXPECT_NE(text.find(mention), std::string::npos) << mention;
    EXPECT_EQ(help.wait(), 0);

    for (const char* bad :
         {"--no-such-option", "--usb=x", "--usb=100", "--pace=1", "--folders", "--folders=A(",
          "--idle-reset=-5", "--generate=x", "--generate=10000", "--pictures=", "--model",
          "--fault", "--fault=", "--fault=nonsense", "--fault=restart,at=0",
          "--fault=stall-mid-transfer,for=5", "--link=", "--record="}) {
        Program prog({bad});
        ASSERT_TRUE(prog.started());
        EXPECT_EQ(prog.wait(), 2) << bad;
    }
    // A value may be the next argument, but an option is never taken for one;
    // a link needs a terminal to lead to.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--fault", "--serial"}, {"--usb", "--link", "/tmp/x"}}) {
        Program prog(bad);
        ASSERT_TRUE(prog.started());
        EXPECT_EQ(prog.wait(), 2) << bad[0] << " " << bad[1];
    }
}

TEST(ProgramCables, ServesSerialAndUsbWithFolders) {
    PrivateRuntimeDir runtime;
    const std::string usbPath = runtime.path() + "/tulk/usbscan5";
    {
        Program prog({"--usb=5", "--serial", "--folders=:4,A(B:3),C:2", "--pace"});
        ASSERT_TRUE(prog.started());
        const std::string first = prog.readLine();
        ASSERT_EQ(first.rfind(kSerialLine, 0), 0u) << first;
        EXPECT_EQ(prog.readLine(), kUsbLine + usbPath);

        HostPort serial(first.substr(kSerialLine.size()));
        ASSERT_TRUE(serial.isOpen());
        serial.writeCommand({1, 83});
        const auto subfolders = serial.readPacket();
        ASSERT_TRUE(subfolders);
        EXPECT_EQ(subfolders->payload, le32(2));
        serial.writeByte(kAck);

        HostSocket usb(usbPath);
        ASSERT_TRUE(usb.isOpen());
        usb.sendCommand({1, 10});
        EXPECT_EQ(usb.receive(), packet(0x03, 0, le32(4)));
        usb.sendCommand(concat({{3, 84}, {'A'}}));
        EXPECT_EQ(usb.receive(), Bytes{kAck});
        usb.sendCommand({1, 83});
        EXPECT_EQ(usb.receive(), packet(0x03, 0, le32(1)));

        prog.signal(SIGTERM);
        EXPECT_EQ(prog.wait(), 0);
    }
    EXPECT_NE(::access(usbPath.c_str(), F_OK), 0);  // the socket went with it
}

TEST(ProgramCables, UsbAloneServesNoTerminal) {
    PrivateRuntimeDir runtime;
    Program prog({"--usb"});
    ASSERT_TRUE(prog.started());
    EXPECT_EQ(prog.readLine(), kUsbLine + runtime.path() + "/tulk/usbscan0");
    prog.signal(SIGINT);
    EXPECT_EQ(prog.wait(), 0);
    EXPECT_EQ(prog.readAll(), "");  // and printed nothing more
}

// A getint or getvar over the serial line, every packet acknowledged.
Bytes readOver(HostPort& host, const Bytes& command) {
    host.writeCommand(command);
    Bytes data;
    while (auto p = host.readPacket()) {
        EXPECT_TRUE(p->sumOk);
        data.insert(data.end(), p->payload.begin(), p->payload.end());
        host.writeByte(kAck);
        if (p->type == 0x03)
            break;
    }
    return data;
}

TEST(ProgramPictures, GeneratedPicturesAndModel) {
    Program prog({"--generate=2", "--model=SX381"});
    ASSERT_TRUE(prog.started());
    const std::string line = prog.readLine();
    ASSERT_EQ(line.rfind(kSerialLine, 0), 0u) << line;
    HostPort host(line.substr(kSerialLine.size()));
    ASSERT_TRUE(host.isOpen());
    EXPECT_EQ(readOver(host, {1, 10}), le32(2));
    EXPECT_EQ(readOver(host, {4, 27}), (Bytes{'S', 'X', '3', '8', '1', 0}));
    const Bytes name = readOver(host, {4, 79});  // the newest is selected
    EXPECT_EQ(std::string(name.begin(), name.end()), std::string("DSCN0002.JPG") + '\0');
    const Bytes picture = readOver(host, {4, 14});
    ASSERT_GT(picture.size(), 4u);
    EXPECT_EQ(Bytes(picture.begin(), picture.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xEC}));
    prog.signal(SIGTERM);
    EXPECT_EQ(prog.wait(), 0);
}

TEST(ProgramPictures, PicturesFromAFolder) {
    char tmpl[] = "/tmp/tulk-program-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string empty = dir + "/empty";
    ASSERT_EQ(::mkdir(empty.c_str(), 0700), 0);
    {
        const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
        FILE* f = std::fopen((dir + "/holiday.jpg").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);

        Program prog({"--pictures=" + dir});
        ASSERT_TRUE(prog.started());
        const std::string line = prog.readLine();
        ASSERT_EQ(line.rfind(kSerialLine, 0), 0u) << line;
        HostPort host(line.substr(kSerialLine.size()));
        ASSERT_TRUE(host.isOpen());
        EXPECT_EQ(readOver(host, {1, 10}), le32(1));
        EXPECT_EQ(readOver(host, {4, 14}), jpeg);
        EXPECT_EQ(readOver(host, {4, 79}),
                  (Bytes{'h', 'o', 'l', 'i', 'd', 'a', 'y', '.', 'j', 'p', 'g', 0}));
        prog.signal(SIGTERM);
        EXPECT_EQ(prog.wait(), 0);
    }
    // A folder that is missing or holds no picture is no camera to serve.
    for (const std::string& bad : {dir + "/missing", empty}) {
        Program prog({"--pictures=" + bad});
        ASSERT_TRUE(prog.started());
        EXPECT_EQ(prog.wait(), 1) << bad;
        EXPECT_EQ(prog.readAll(), "") << bad;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simtest
