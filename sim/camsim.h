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
#include <optional>
#include <string>
#include <utility>
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

// A picture the camera holds. Fields left empty are the camera's to fill in
// when the picture is added; pictures() returns them filled.
struct Picture {
    // The file register 14 sends, byte for byte. Empty: the camera draws a
    // JPEG of its snapshot size (as generatePictures does).
    Bytes jpeg;
    // Register 79's text (the camera sends a zero byte after it). Unset: the
    // camera's next name, "DSCN0001.JPG" counting up. Sent as it is, even
    // when it is no fit name for a file ("../../x").
    std::optional<std::string> name;
    // Register 15's bytes; register 13 reads their length. Unset: the camera
    // makes a thumbnail of an eighth of the picture's size each way (none,
    // length 0, when it cannot decode the picture).
    std::optional<Bytes> thumbnail;
    // When it was taken: seconds since 1970 by the camera's clock, which has
    // no time zone. Unset: the TimeDate in the picture's APP12 segment, else
    // the clock's reading now.
    std::optional<std::uint32_t> taken;

    // Faults for the host's download, on this picture only.
    //
    // Register 47's length field says this rather than the picture's length.
    std::optional<std::uint32_t> summaryLength;
    // Register 12 reads 0; the summary still holds the length.
    bool zeroLength = false;
    // Normal: register 47 sends the 32-byte summary. Refused: reads of 47
    // are answered with NAK. Empty: 47 sends no bytes at all.
    enum class Summary { Normal, Refused, Empty };
    Summary summary = Summary::Normal;
};

// A fault the camera plays by itself on its own occasions (tulk-camsim's
// --fault). Each fault counts its occasions from 1; it fires on occasion
// `at` and, when every > 0, again at at + every, at + 2 * every, ...
struct Fault {
    enum class Kind {
        // Occasion: a picture transfer (a read of register 14). Once about
        // half of its data packets are sent, the camera's cable freezes for
        // `duration`: it neither sends nor reads (what the host sends waits
        // in the line), then carries on where it was.
        StallMidTransfer,
        // Occasion: a data packet of a picture transfer sent for the first
        // time (a resend is none). It goes out with one payload byte changed
        // under the true bytes' length and checksum; its resend is true.
        GarblePacket,
        // The same, but every copy of that packet is garbled, each at
        // another byte, until the camera gives the transfer up.
        GarbleAlways,
        // No occasion: every packet sent on USB carries 0 as its checksum.
        NoChecksum,
        // Occasion: the command packet of `action` arriving. The camera
        // carries the action out and sends neither its ACK nor its
        // completion byte.
        LoseAnswer,
        // Occasion as LoseAnswer: the packet is not heard (it stays in the
        // record of what arrived): no action, no answer.
        IgnoreCommand,
        // Occasion: a snapshot command arriving. The camera's interface
        // starts again as after a power cycle instead of answering: no
        // picture, the serial line back at 19200 baud, the USB connection
        // closed by the camera, whatever was half received dropped. Pictures,
        // registers and the clock stay.
        Restart,
        // Occasion: a snapshot command arriving. The camera is gone at once:
        // the vanish handler runs (by default the process ends with status
        // 3, cleaning up nothing, as a pulled cable would).
        Vanish,
    };
    Kind kind = Kind::GarblePacket;
    int at = 1;
    int every = 0;  // 0: once
    std::chrono::milliseconds duration{30000};
    int action = 2;  // 2 snapshot, 0 erase the last picture
};

// The name tulk-camsim gives a kind ("stall-mid-transfer", ...).
const char* faultName(Fault::Kind kind);

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
    // An integer register that answers reads but refuses (NAK) every write.
    void setReadOnly(int reg, bool readOnly);
    // Action table: an action without a handler is accepted and does nothing.
    void setAction(int reg, ActionHandler handler);
    // Time the camera needs for an action before it sends the completion byte.
    void setActionTime(std::chrono::milliseconds t);
    // The last code the host sent with the speed command (-1 before any). The
    // code is also stored in the register the command names.
    std::int32_t speedCode() const;

    // The picture store: the camera becomes a camera with pictures. It is
    // off until enablePictures, addPicture, generatePictures or
    // loadPictures turns it on, and stays on; while it is off every register
    // and action behaves as an ordinary one as described above.
    //
    // While it is on, the store answers these registers, whatever
    // setInt/setData put there (getInt/getData still show only that):
    //  4 write n: select picture n (from 1) or 0, the preview picture; any
    //    other n is refused. Read: the selection. Adding a picture selects
    //    it; erasing keeps the selection when the picture is still there,
    //    else selects the last picture (0 when none is left).
    //  10 the number of pictures (the current folder's count instead when the
    //    camera has folders); 40 the same as 10 unless setSecondCount says
    //  11 frames left: the capacity in pictures minus the pictures held
    //  28 free bytes: the card's size minus every picture and thumbnail
    //  12, 13, 14, 15, 47, 79 of the selected picture: its length, its
    //    thumbnail's length, its bytes, its thumbnail's bytes, its summary
    //    (32 bytes: the length in bytes 0..2 and the time stamp in bytes
    //    20..23, both little-endian, the rest zero) and its name followed by
    //    a zero byte. All refused while the selection names no picture.
    // and it gives these registers a value when it is turned on, unless they
    // have one; they remain ordinary registers that setInt/setData and the
    // host change:
    //  16 the battery: 85; 27 the model: "SR981" and a zero byte (setModel);
    //  71 the zoom: numerator 10, denominator 10 (each 32-bit little-endian);
    //     a write that is not 8 bytes or has denominator 0 is refused.
    // Actions, after the handler set with setAction (a handler that refuses
    // stops the action):
    //  2 snapshot: draws a picture taken now by the camera's clock, adds it
    //    and selects it; refused when no frame is left or it does not fit
    //  5 preview: draws a new preview picture (160 × 120), picture 0
    //  0 erase the last picture (refused when there is none); 1 erase all
    //  11 store an upload: the data last written to register 29 becomes a
    //    picture (as addPicture with only its bytes). Refused unless that
    //    setvar came after register 32 was written with 0x05D21A3B (and no
    //    other value since), and when no frame is left or it does not fit.
    //    A stored upload needs arming again for the next one.
    void enablePictures();
    bool picturesEnabled() const;
    // Adds a picture after the last, selects it and returns its number
    // (from 1). Turns the store on.
    int addPicture(Picture picture);
    // Adds n pictures drawn by the camera, width × height pixels, taken now
    // by its clock: real JPEG files, colour bars in an order of their own
    // with their number written large, and right after the start-of-image
    // marker an APP12 segment (marker 0xFF 0xEC, a big-endian length that
    // counts itself) whose data is a title, zero bytes, then the lines
    // "TimeDate=<taken>\n" and "Frame=<number>\n". Returns how many pictures
    // the camera holds then, or -1 (nothing added) when n < 0 or a side is
    // outside 1..65500. Turns the store on.
    int generatePictures(int n, int width, int height);
    // Adds every regular file of the folder whose name ends in ".jpg" or
    // ".jpeg" (any case), in name order: bytes as they are, named as the
    // file is, taken at the TimeDate of its APP12 segment, else at its
    // modification time (seconds since 1970). Returns how many were added,
    // or -1 with errno set (nothing added) when the folder or one of those
    // files cannot be read. Turns the store on.
    int loadPictures(const std::string& folder);
    // The pictures held, first to last, with every field filled in.
    std::vector<Picture> pictures() const;
    // Picture 0, once a preview has been taken.
    std::optional<Picture> previewPicture() const;
    // The picture register 4 has selected.
    int selectedPicture() const;
    // When each snapshot the camera took was asked for (the action's
    // arrival), oldest first: a time-lapse's intervals are their spacing.
    std::vector<std::chrono::steady_clock::time_point> snapshotTimes() const;

    // Register 27: the text and a zero byte. The host picks its resolution
    // table by "SR981", "SX381" or anything else. Works with the store off.
    void setModel(const std::string& model);
    // Room on the card: how many pictures and bytes it takes (default 100
    // pictures, 32 MiB). Negative values count as 0.
    void setCapacity(int pictures, std::int64_t bytes);
    // Register 40 reads count in place of the number of pictures; nothing:
    // the same as register 10.
    void setSecondCount(std::optional<std::int32_t> count);
    // The size of snapshot pictures and of pictures added without bytes
    // (default 640 × 480); false (no change) for a side outside 1..65500.
    bool setSnapshotSize(int width, int height);
    // Time the camera needs for this action before it sends the completion
    // byte, in place of setActionTime's (a snapshot's exposure, say).
    void setActionTime(int action, std::chrono::milliseconds t);

    // The camera's clock, which has no time zone: its reading is a count of
    // seconds since 1970 as if its wall-clock time were universal time. By
    // default it reads the host's universal time; an offset moves it (a
    // camera set to a local time), freezing stops it at a reading until the
    // next setClockOffset.
    void setClockOffset(std::chrono::seconds offset);
    void freezeClock(std::uint32_t reading);
    std::uint32_t clockNow() const;

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

    // Faults the camera plays by itself (see Fault). When two fall on one
    // occasion, the first of vanish, restart, ignore-command, lose-answer
    // (and of garble-always, garble-packet) acts, and the others do not
    // count it: a command that was not heard did not arrive for them.
    void addFault(const Fault& fault);
    // The faults that fired, oldest first: each kind with the occasion it
    // fired on (its own count). waitUntil wakes on each.
    std::vector<std::pair<Fault::Kind, int>> firedFaults() const;
    // What a vanishing camera does in place of ending the process: for tests
    // in the same process. After it returns the camera is silent
    // (setSilent(true)).
    void setVanishHandler(std::function<void()> handler);

    // A record of the camera's life that another process can read, in dir
    // (made when missing): each picture the camera adds from now on, as the
    // file NNNNNN-NAME (a running number from 000001, which a camera given a
    // dir that holds such files continues from the highest; NAME the
    // picture's name with '/' and control characters as '_') holding the
    // bytes register 14 sends; and events.log, one line per event, appended
    // and flushed before the host is answered: "snapshot NNNNNN NAME",
    // "erase NNNNNN NAME", "erase-all COUNT", "fault KIND OCCASION". Each
    // picture file appears whole (written under a temporary name, then
    // renamed). Give it before the camera holds pictures: those it holds
    // already are not in the record. False with errno set when dir cannot
    // be made or written.
    bool setRecord(const std::string& dir);

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
    // Wait until done() holds (true) or the time is up (false). done is
    // asked again whenever the record, the raw bytes or the count of
    // stalled packets change, so it should look at those; it must not be
    // called with the camera's lock held, and it never is.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;
    // Packets the camera gave up on because their bytes stopped coming
    // (serial), since the start or the last clearRecord.
    std::size_t stalledPackets() const;
    // How long a packet's bytes may pause before the camera gives the
    // packet up (default 1 s).
    void setStallLimit(std::chrono::milliseconds t);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace camsim
