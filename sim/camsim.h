// The camera simulator: the camera's side of the link protocol.
//
// A Camera plays one camera. It serves a pseudo-terminal (the serial cable)
// and a packet socket (the USB cable), each on a thread of its own, keeps the
// camera's registers, actions and folders, answers the host as a camera does,
// and writes down everything the host sent so that tests can assert on what
// the camera saw. Both cables may be served at once; they share one camera.
//
// It is written from the camera's side and shares no code with the host's
// link layer: a bug shared by both would hide itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

using Bytes = std::vector<std::uint8_t>;

// One thing the host sent, as the camera understood it.
struct Received {
    enum Kind {
        Packet,     // a whole command or data packet with a good checksum
        BadPacket,  // a packet whose checksum did not match, or on USB a message
                    // that is no packet at all (answered with NAK)
        Control,    // a single control byte (0x00 init, 0x06 ACK, 0x15 NAK, ...)
        Garbled,    // bytes that came at a line speed other than the camera's
                    // (serial only); they are in payload and get no answer
    };
    // The cable it came on.
    enum Via { Serial, Usb };
    Kind kind = Packet;
    Via via = Serial;
    std::uint8_t type = 0;     // packet type (0x1B, 0x02, 0x03); for Control the byte
    std::uint8_t subtype = 0;  // 0x43, 0x53, or the sequence number of a data packet
    Bytes payload;             // the packet's payload
    // Decoded for command packets (type 0x1B); zero otherwise.
    int command = -1;        // payload[0]: 0 set, 1 getint, 2 action, 3 setvar, 4 getvar
    int reg = -1;            // payload[1]
    std::int32_t value = 0;  // the 4-byte little-endian value of a set (command 0, 6 bytes)
    Bytes data;              // action arguments, or the setvar data (reassembled
                             // over its data packets when the transfer completes)
    std::chrono::steady_clock::time_point when;
};

// What the camera does when the host asks for an action. Returns false when
// the camera refuses it (the camera then answers the action with NAK).
using ActionHandler = std::function<bool(const Bytes& args)>;

// A folder of a camera that keeps its pictures in a tree. A name is sent as it
// is, trailing spaces included ("DCIM    "); the host's names are matched
// against it without those spaces.
struct Folder {
    std::string name;
    std::int32_t pictures = 0;
    std::vector<Folder> children;
};

class Camera {
public:
    Camera();
    ~Camera();  // stops serving and closes everything
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Serve a new pseudo-terminal on a thread of its own. Returns the path of
    // the terminal's slave side, which the host opens as its serial port
    // (empty on failure). The slave starts raw at 19200 baud, and so does the
    // camera. While already serving, returns the path being served.
    std::string startSerial();
    // Serve USB device n: a SOCK_SEQPACKET socket at
    // $XDG_RUNTIME_DIR/tulk/usbscan<n> (/tmp/tulk/... without that variable;
    // the folder is made with mode 0700 when missing). Returns the socket's
    // path (empty on failure, errno set; EADDRINUSE when another camera
    // serves it). One host connection is served at a time; others wait until
    // it closes. Each message is one whole packet or one control byte, both
    // ways. While already serving, returns the path being served.
    std::string startUsb(int n = 0);
    // Stops serving both cables and removes the socket; registers, folders,
    // faults and the record are kept.
    void stop();

    // The serial line. The camera understands bytes only when the host's end
    // of the terminal is set to the camera's speed; anything else is recorded
    // as Received::Garbled and gets no answer. It wakes (answers 0x00 with
    // 0x15) only at 19200. An acknowledged speed command on register 17 moves
    // it to the speed of the code (1..5: 9600, 19200, 38400, 57600, 115200;
    // 0: 19200; any other: that many bits per second), and a completed
    // sign-off (action 4) back to 19200. None of this applies on USB.
    long lineSpeed() const;
    // The camera falls back to 19200 once the line has been quiet (no byte
    // at all) for t; 0 (the default) never.
    void setIdleReset(std::chrono::milliseconds t);
    // Send on the serial line at the real rate of the camera's speed (ten
    // bits a byte, in small pieces) rather than all at once. Off by default.
    void setPacing(bool on);

    // Folders. A camera with folders answers: setnullint 83 with ACK (with or
    // without folders); reading 83 with the current folder's subfolder count;
    // writing n to 83 by selecting subfolder n (from 1; out of range: NAK);
    // reading 84 with the selected subfolder's name and a zero byte (NAK
    // while none has been selected since the last change of folder); writing
    // "" to 84 by going to the root and a name by entering that subfolder
    // (unknown: NAK); reading 10 with the current folder's pictures. Without
    // folders (the default) every write of 84 is refused, 83 counts 0 and
    // refuses every selection, and 10 and 84 read as ordinary registers.
    // Setting a tree puts the camera in its root; root's name is not used.
    void setFolders(const Folder& root);
    void clearFolders();
    // "\" for the root, "\A\B" below it (names without trailing spaces);
    // "" when the camera has no folders.
    std::string currentFolder() const;

    // Registers. Integer registers read as 0 and data registers as empty
    // until set; writes from the host change them.
    void setInt(int reg, std::int32_t value);
    std::int32_t getInt(int reg) const;
    void setData(int reg, const Bytes& data);
    Bytes getData(int reg) const;
    // An integer or data register that the camera refuses (answers NAK to
    // reads and writes). Off by default.
    void setRefused(int reg, bool refused);
    // Action table: an action without a handler is accepted and does nothing.
    void setAction(int reg, ActionHandler handler);
    // Time the camera needs for an action before it sends the completion byte.
    void setActionTime(std::chrono::milliseconds t);
    // The last code the host sent with the speed command (-1 before any). The
    // code is also stored in the register the command names.
    std::int32_t speedCode() const;

    // A setvar whose command packet carries exactly 2046 data bytes may or may
    // not be followed by data packets, and the camera cannot tell which: it
    // takes those bytes as the register's data when it acknowledges them, and
    // when data packets follow, the register (and the command's record entry)
    // hold the whole data once the last one (type 0x03) is acknowledged. A
    // transfer the host gives up part-way leaves the register as it was.

    // Fault injection. Each takes effect on the next packets the camera
    // receives or sends, in the order they are set.
    //
    // Refuse the next n packets with NAK. A refused packet is recorded but
    // has no other effect: no register changes, no transfer moves on.
    void nakNext(int n);
    // Answer the next n packets with this byte (0x11, 0x18, ...) in place of
    // the normal answer; like nakNext, with no other effect.
    void answerNext(std::uint8_t byte, int n);
    // The next n packets the camera sends carry a wrong checksum (both of its
    // bytes spoilt).
    void corruptNextChecksum(int n = 1);
    // The next n packets the camera would send are not sent (on USB: the
    // message is not sent); the host's NAK (after its read timed out) has
    // them sent as a resend.
    void dropNext(int n = 1);
    // The next n data packets are sent twice in a row with the same sequence;
    // the camera then expects an answer to each copy.
    void repeatNext(int n = 1);
    // Read everything, answer nothing and act on nothing: the record only.
    void setSilent(bool silent);
    // Send these bytes to the host now, as they are (framing tests): on the
    // serial line, or as one message on USB when no serial line is served.
    void sendRaw(const Bytes& bytes);

    // Largest payload of a data packet the camera sends (default 2048).
    void setMaxPacket(int bytes);
    // How long the camera waits for the host's ACK or NAK to a data packet it
    // sent before it gives the transfer up (default 3 s).
    void setAnswerTimeout(std::chrono::milliseconds t);

    // The record of what the camera received, oldest first.
    std::vector<Received> received() const;
    // Only the decoded command packets.
    std::vector<Received> commands() const;
    // Every byte that arrived, in order (USB messages and garbled bytes too).
    Bytes rawReceived() const;
    void clearRecord();
    // Wait until the record holds at least n entries (true) or the time is up.
    bool waitReceived(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace camsim
