// The packet decoder on plain bytes: what a serial read accepts (the length
// field and the checksum must agree with the bytes) and what a USB transfer
// gives (the transfer alone delimits the packet).
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "link/eph.h"
#include "link/eph_frame.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct DecodeCase {
    const char* name;
    Bytes bytes;
    bool delimited;
    eph_frame_status status;
    Bytes payload;  // as decoded, for EPH_FRAME_OK
};

Bytes Encoded(int type, int subtype, const Bytes& payload) {
    return eph_encodepkt(type, subtype, payload.data(), static_cast<long>(payload.size()));
}

Bytes WithByte(Bytes bytes, std::size_t at, unsigned char value) {
    bytes[at] = value;
    return bytes;
}

Bytes Appended(Bytes bytes, unsigned char value) {
    bytes.push_back(value);
    return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(n));
}

const Bytes kAbc{'a', 'b', 'c'};
const Bytes kGood = Encoded(PKT_LAST, 0, kAbc);

class FrameDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FrameDecode, DecodesAsTheCableExpects) {
    const DecodeCase& c = GetParam();
    eph_frame frame;
    EXPECT_EQ(eph_decodepkt(c.bytes.data(), c.bytes.size(), c.delimited, &frame), c.status);
    if (c.bytes.size() >= 1) {
        EXPECT_EQ(frame.type, c.bytes[0]);
    }
    if (frame.payload) {
        EXPECT_GE(frame.payload, c.bytes.data());
        EXPECT_LE(frame.payload + frame.length, c.bytes.data() + c.bytes.size());
    }
    if (c.status == EPH_FRAME_OK) {
        EXPECT_EQ(Bytes(frame.payload, frame.payload + frame.length), c.payload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameDecode,
    ::testing::Values(
        DecodeCase{"Whole", kGood, false, EPH_FRAME_OK, kAbc},
        DecodeCase{"Empty payload", Encoded(PKT_DATA, 7, {}), false, EPH_FRAME_OK, {}},
        DecodeCase{"Nothing", {}, false, EPH_FRAME_SHORT, {}},
        DecodeCase{
            "Header only", Bytes(kGood.begin(), kGood.begin() + 4), false, EPH_FRAME_SHORT, {}},
        DecodeCase{"Checksum cut", Cut(kGood, 1), false, EPH_FRAME_SHORT, {}},
        DecodeCase{"A byte past the packet", Appended(kGood, 0), false, EPH_FRAME_LONG, {}},
        DecodeCase{"Payload changed", WithByte(kGood, 5, 'x'), false, EPH_FRAME_BAD_CRC, {}},
        DecodeCase{
            "Checksum high byte changed", WithByte(kGood, 8, 2), false, EPH_FRAME_BAD_CRC, {}},
        // The length field claims the most it can; only 3 bytes are there.
        DecodeCase{"Length field beyond the bytes",
                   WithByte(WithByte(kGood, 2, 0xFF), 3, 0xFF),
                   false,
                   EPH_FRAME_SHORT,
                   {}},
        DecodeCase{"USB: the transfer's size wins over the length field", WithByte(kGood, 2, 0x40),
                   true, EPH_FRAME_OK, kAbc},
        DecodeCase{"USB: the checksum is not looked at", WithByte(kGood, 7, 0), true, EPH_FRAME_OK,
                   kAbc},
        DecodeCase{"USB: five bytes are no packet",
                   Cut(Encoded(PKT_LAST, 0, {}), 1),
                   true,
                   EPH_FRAME_SHORT,
                   {}}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        return name;
    });

TEST(FrameEncode, LayoutAndChecksum) {
    const Bytes payload(300, 0xFF);
    const Bytes packet = Encoded(PKT_CMD, PKT_SUB_CMD, payload);
    ASSERT_EQ(packet.size(), 306u);
    EXPECT_EQ(packet[0], PKT_CMD);
    EXPECT_EQ(packet[1], PKT_SUB_CMD);
    EXPECT_EQ(packet[2], 300 & 0xFF);
    EXPECT_EQ(packet[3], 300 >> 8);
    // 300 × 255 = 76500 = 0x12AD4, kept to 16 bits.
    EXPECT_EQ(packet[304], 0xD4);
    EXPECT_EQ(packet[305], 0x2A);
    eph_frame frame;
    ASSERT_EQ(eph_decodepkt(packet.data(), packet.size(), false, &frame), EPH_FRAME_OK);
    EXPECT_EQ(frame.counted_sum, 0x2AD4u);
    EXPECT_EQ(frame.received_sum, 0x2AD4u);
    EXPECT_EQ(frame.announced, 300u);
}

}  // namespace
