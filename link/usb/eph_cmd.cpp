#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/eph.h"
#include "link/eph_frame.h"
#include "link/eph_transport.h"
#include "link/usb/usb_transport.h"
#include "log/activity_log.h"

namespace {

constexpr long kAckTimeout = 60000000;
constexpr long kGetintTimeout = 1500000;
constexpr long kGetvarTimeout = 1000000;
constexpr long kPictureTimeout = 1500000;
constexpr int kMaxRepetitions = 3;
constexpr long kMaxActionArgs = 2048;
constexpr long kSetvarFirstRoom = 2046;

void putLong(unsigned char* at, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    at[0] = static_cast<unsigned char>(v & 0xFF);
    at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    at[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

bool repeatable(int status) {
    return status == -2 || status == EPH_NAK || status == EPH_CAN;
}

// Writes one packet and waits for its ACK, writing it again while the camera
// refuses it or stays silent. The repetitions are counted in *repetitions,
// which a multi-packet transfer shares among its packets.
// A packet that could not be written ends the exchange at once with -1 and
// sets *writeFailed: no repetitions, and no report of them.
int writeAcked(eph_iob* iob, int type, int subtype, const unsigned char* payload, long length,
               int* repetitions, bool* writeFailed) {
    for (;;) {
        if (eph_writepkt(iob, type, subtype, payload, length) != 0) {
            *writeFailed = true;
            return -1;
        }
        const int status = eph_waitack(iob, kAckTimeout);
        if (repeatable(status) && *repetitions < kMaxRepetitions) {
            ++*repetitions;
            continue;
        }
        return status;
    }
}

int writeCommand(eph_iob* iob, const unsigned char* payload, long length, const char* name) {
    int repetitions = 0;
    bool writeFailed = false;
    const int status =
        writeAcked(iob, PKT_CMD, PKT_SUB_CMD, payload, length, &repetitions, &writeFailed);
    if (!writeFailed && repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on %s", name);
    }
    return status;
}

// Releases the temporary buffer of a getvar through the record's allocator.
struct TempBuffer {
    eph_iob* iob;
    unsigned char* data = nullptr;
    ~TempBuffer() {
        if (data) {
            iob->realloc_cb(data, 0);
        }
    }
};

}  // namespace

int eph_setint(eph_iob* iob, int reg, std::int32_t value) {
    unsigned char payload[6] = {0x00, static_cast<unsigned char>(reg)};
    putLong(payload + 2, value);
    return writeCommand(iob, payload, sizeof payload, "setint");
}

int eph_setnullint(eph_iob* iob, int reg) {
    const unsigned char payload[2] = {0x00, static_cast<unsigned char>(reg)};
    return writeCommand(iob, payload, sizeof payload, "setnullint");
}

namespace {

int action(eph_iob* iob, int reg, const unsigned char* args, long count, bool blindRepeats) {
    if (static_cast<unsigned long>(count) > static_cast<unsigned long>(kMaxActionArgs)) {
        eph_error(iob, EPH_ERR_DATA_TOO_LONG, "arg action length %ld", count);
        return -1;
    }
    std::vector<unsigned char> payload(static_cast<std::size_t>(count) + 2);
    payload[0] = 0x02;
    payload[1] = static_cast<unsigned char>(reg);
    if (count > 0) {
        std::memcpy(payload.data() + 2, args, static_cast<std::size_t>(count));
    }
    int repetitions = 0;
    bool writeFailed = false;
    int status = 0;
    if (blindRepeats) {
        status = writeAcked(iob, PKT_CMD, PKT_SUB_CMD, payload.data(),
                            static_cast<long>(payload.size()), &repetitions, &writeFailed);
    } else {
        // Only a refusal says the camera did nothing.
        for (;;) {
            if (eph_writepkt(iob, PKT_CMD, PKT_SUB_CMD, payload.data(),
                             static_cast<long>(payload.size())) != 0) {
                writeFailed = true;
                status = -1;
                break;
            }
            status = eph_waitack(iob, kAckTimeout);
            if ((status == EPH_NAK || status == EPH_CAN) && repetitions < kMaxRepetitions) {
                ++repetitions;
                continue;
            }
            break;
        }
    }
    if (status == 0) {
        status = eph_waitcomplete(iob);
    }
    if (!writeFailed && repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on action");
    }
    return status;
}

}  // namespace

int eph_action(eph_iob* iob, int reg, const unsigned char* args, long count) {
    return action(iob, reg, args, count, true);
}

int eph_actiononce(eph_iob* iob, int reg, const unsigned char* args, long count) {
    return action(iob, reg, args, count, false);
}

int eph_setvar(eph_iob* iob, int reg, const unsigned char* data, long length) {
    int sequence = -1;
    int repetitions = 0;
    long sent = 0;
    int status = 0;
    bool writeFailed = false;
    std::vector<unsigned char> packet;
    while (sent < length && status == 0) {
        int type = PKT_CMD;
        int subtype = PKT_SUB_CMD;
        long room = kSetvarFirstRoom;
        packet.clear();
        if (sequence < 0) {
            packet = {0x03, static_cast<unsigned char>(reg)};
        } else {
            type = PKT_DATA;
            subtype = sequence & 0xFF;
            room = EPH_DATA_CHUNK;
            iob->progress_cb(static_cast<int>(sent));
        }
        const long remaining = length - sent;
        const long take = remaining <= room ? remaining : room;
        if (remaining <= room && sequence >= 0) {
            type = PKT_LAST;
        }
        packet.insert(packet.end(), data + sent, data + sent + take);
        sent += take;
        ++sequence;
        status = writeAcked(iob, type, subtype, packet.data(), static_cast<long>(packet.size()),
                            &repetitions, &writeFailed);
    }
    if (!writeFailed && repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on setvar");
    }
    // The camera's USB protocol, not the cable's: a setvar on USB ends with
    // register 32 (C990_MAGIC) written back to 0, whatever came of it.
    if (eph_onusb(iob)) {
        eph_setint(iob, 32, 0);
    }
    return status;
}

namespace {

// On USB the value comes as one transfer of exactly ten bytes. One whose
// length field or checksum does not hold is refused once; its repeat is
// taken when it holds, or when it is the same bytes again (a camera that
// does not fill these fields on USB; the record is marked doubtful).
int getIntUsb(eph_iob* iob, const unsigned char command[2], std::int32_t* value) {
    if (eph_writecmd(iob, command, 2) != 0) {
        return -1;
    }
    std::vector<unsigned char> reply(kUsbMaxTransfer);
    std::vector<unsigned char> refused;
    for (int reads = 0; reads < 2; ++reads) {
        const int n = usb_read(g_hUsb, reply.data(), kUsbMaxTransfer, 1000);
        if (n != 10 || reply[0] != PKT_LAST || reply[1] != 0) {
            break;
        }
        eph_frame frame;
        const bool holds = eph_decodepkt(reply.data(), 10, false, &frame) == EPH_FRAME_OK;
        const bool sameAgain = !refused.empty() && std::equal(refused.begin(), refused.end(),
                                                              reply.begin(), reply.begin() + 10);
        if (holds || sameAgain) {
            iob->doubtful |= holds ? 0 : 1;
            *value = static_cast<std::int32_t>(reply[4] | (reply[5] << 8) | (reply[6] << 16) |
                                               (static_cast<std::uint32_t>(reply[7]) << 24));
            eph_writeack(iob);
            return 0;
        }
        eph_error(iob, EPH_ERR_BAD_CRC, "crc received=0x%04x counted=0x%04x", frame.received_sum,
                  frame.counted_sum);
        refused.assign(reply.begin(), reply.begin() + 10);
        eph_writenak(iob);
    }
    if (refused.empty()) {
        eph_writenak(iob);
    }
    return EPH_DC1;
}

}  // namespace

int eph_getint(eph_iob* iob, int reg, std::int32_t* value) {
    *value = 0;
    const unsigned char command[2] = {0x01, static_cast<unsigned char>(reg)};
    // On USB the camera answers a getint in one transfer of its own shape
    // and takes no repetitions: a protocol of the camera's, so it stays here.
    if (eph_onusb(iob)) {
        return getIntUsb(iob, command, value);
    }
    int repetitions = 0;
    int status = 0;
    bool writeCommandAgain = true;
    for (;;) {
        if (writeCommandAgain && eph_writecmd(iob, command, sizeof command) != 0) {
            return -1;
        }
        unsigned char header[2] = {0, 0};
        unsigned char reply[4] = {0, 0, 0, 0};
        long length = sizeof reply;
        status = eph_readpkt(iob, header, reply, &length, kGetintTimeout);
        if (repeatable(status) && repetitions < kMaxRepetitions) {
            ++repetitions;
            writeCommandAgain = true;
            continue;
        }
        if (status == 0 && header[0] == PKT_LAST && header[1] == 0) {
            // A shorter reply leaves the high bytes zero.
            *value = static_cast<std::int32_t>(reply[0] | (reply[1] << 8) | (reply[2] << 16) |
                                               (static_cast<std::uint32_t>(reply[3]) << 24));
            eph_writeack(iob);
            return 0;
        }
        if (status == 0) {
            // A packet, but not the value's: refused like a damaged one rather
            // than taken as a value of 0.
            status = -1;
        }
        if (status == -1 && repetitions < kMaxRepetitions) {
            ++repetitions;
            eph_writenak(iob);
            writeCommandAgain = false;
            continue;
        }
        break;
    }
    if (repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on getint");
    }
    return status;
}

namespace {

// Makes room in the caller's buffer for one more data packet, growing it
// to about twice its size in whole packets; false (logged) when the
// allocator refuses.
bool roomForPacket(eph_iob* iob, unsigned char** buffer, long* capacity, long received) {
    if (*capacity - received >= EPH_DATA_CHUNK) {
        return true;
    }
    const long grown = ((2 * *capacity - 1) / EPH_DATA_CHUNK + 1) * EPH_DATA_CHUNK;
    void* bigger = iob->realloc_cb(*buffer, static_cast<std::size_t>(grown));
    if (!bigger) {
        std::snprintf(g_szErrorText, kErrorTextSize, "could not realloc %lu",
                      static_cast<unsigned long>(grown));
        WriteLog("usb/eph_cmd", __LINE__, g_szErrorText);
        return false;
    }
    *buffer = static_cast<unsigned char*>(bigger);
    *capacity = grown;
    return true;
}

// The sequence numbers of a transfer's data packets: 0, 1, ... wrapping
// after 255. The camera sends a packet again when it missed the host's ACK:
// that repeat of the packet before is answered and dropped.
class PacketSequence {
public:
    enum Kind { Next, Repeat, Wrong };
    Kind classify(int number) const {
        if (number == expected_) {
            return Next;
        }
        return !first_ && number == ((expected_ + 255) & 0xFF) ? Repeat : Wrong;
    }
    void advance() {
        expected_ = (expected_ + 1) & 0xFF;
        first_ = false;
    }
    // No packet has come yet; the number alone cannot tell, as it wraps.
    bool first() const { return first_; }

private:
    int expected_ = 0;
    bool first_ = true;
};

}  // namespace

int eph_getvar(eph_iob* iob, int reg, unsigned char** buffer, long* length) {
    const bool toBuffer = buffer && *buffer;
    if (!toBuffer && !iob->store_cb) {
        eph_error(iob, EPH_ERR_BAD_ARGS, "NULL buffer and no store callback for getvar");
        return -1;
    }
    TempBuffer temp{iob};
    if (!toBuffer) {
        temp.data = static_cast<unsigned char*>(iob->realloc_cb(nullptr, EPH_DATA_CHUNK));
        if (!temp.data) {
            eph_error(iob, EPH_ERR_NO_MEMORY, "could not alloc %lu for tmpbuf in getvar",
                      static_cast<unsigned long>(EPH_DATA_CHUNK));
            return -1;
        }
    }
    long capacity = toBuffer ? *length : 0;
    const unsigned char command[2] = {0x04, static_cast<unsigned char>(reg)};
    PacketSequence sequence;
    int repetitions = 0;
    long received = 0;
    int status = 0;
    bool writeCommandAgain = true;
    for (;;) {
        if (writeCommandAgain) {
            if (eph_writecmd(iob, command, sizeof command) != 0) {
                return -1;
            }
            received = 0;
            writeCommandAgain = false;
        }
        unsigned char* into = temp.data;
        long room = EPH_DATA_CHUNK;
        if (toBuffer) {
            if (!roomForPacket(iob, buffer, &capacity, received)) {
                return -1;
            }
            into = *buffer + received;
            room = capacity - received;
        }
        // The camera takes its time before the first packet of a picture.
        const long timeout =
            sequence.first() && (reg == 14 || reg == 15) ? kPictureTimeout : kGetvarTimeout;
        unsigned char header[2] = {0, 0};
        long got = room;
        status = eph_readpkt(iob, header, into, &got, timeout);

        if (repeatable(status) && sequence.first() && repetitions < kMaxRepetitions) {
            ++repetitions;
            eph_writenak(iob);
            writeCommandAgain = status != -2;
            continue;
        }
        const auto kind = status == 0 ? sequence.classify(header[1]) : PacketSequence::Wrong;
        if (kind != PacketSequence::Wrong) {
            repetitions = 0;
            if (kind == PacketSequence::Next) {
                received += got;
                sequence.advance();
                iob->progress_cb(static_cast<int>(received));
                if (!toBuffer && iob->store_cb(temp.data, static_cast<int>(got)) != 0) {
                    return -1;
                }
            }
            // A repeat is answered too, or the camera would keep sending it.
            eph_writeack(iob);
            if (header[0] == PKT_LAST) {
                if (toBuffer) {
                    *length = received;
                }
                return 0;
            }
            continue;
        }
        if (status > 0) {
            break;
        }
        if (status == 0) {
            // Out of sequence: not the data asked for.
            status = -1;
        }
        if (repetitions < kMaxRepetitions) {
            ++repetitions;
            eph_writenak(iob);
            continue;
        }
        break;
    }
    if (repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on getvar");
    }
    return status;
}

int eph_setispeed(eph_iob* iob, long code) {
    unsigned char payload[6] = {0x00, 17};
    putLong(payload + 2, static_cast<std::int32_t>(code));
    int repetitions = 0;
    int status = 0;
    for (;;) {
        if (eph_writespeedcmd(iob, payload, sizeof payload) != 0) {
            return -1;
        }
        status = eph_waitack(iob, kAckTimeout);
        if (status != 0 && repetitions < kMaxRepetitions) {
            ++repetitions;
            continue;
        }
        break;
    }
    if (repetitions == kMaxRepetitions) {
        eph_error(iob, EPH_ERR_EXCESSIVE_RETRIES, "excessive retries on setispeed");
    }
    if (iob->debug) {
        std::printf("setispeed(%ld) rc=%d\n", code, status);
    }
    return status;
}
