// The camera with pictures, as the host sees it through the protocol: the
// counts, a selected picture's length, data, summary and name, snapshot,
// preview, erase, upload, zoom and model, and pictures loaded from a folder.
#include <gtest/gtest.h>
#include <utime.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "sim/camsim.h"
#include "tests/sim/host_socket.h"
#include "tests/sim/jpeg_decode.h"

namespace simtest {
namespace {

using camsim::Picture;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint32_t kNewYear2001 = 978307200;
constexpr std::int32_t kArmingWord = 0x05D21A3B;
constexpr std::int64_t kCard = 32LL * 1024 * 1024;

std::uint32_t readLe(const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | b.at(at + std::size_t(i));
    return v;
}

Bytes nameBytes(const std::string& name) {
    Bytes b(name.begin(), name.end());
    b.push_back(0);
    return b;
}

// The host's end of the USB cable, with the seven commands as the host
// sends them; each message is a whole packet or one control byte, so a
// refusal cannot be mistaken for the start of a reply.
class PictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(runtime.path().empty());
        const std::string path = cam.startUsb(0);
        ASSERT_FALSE(path.empty()) << std::strerror(errno);
        host = std::make_unique<HostSocket>(path);
        ASSERT_TRUE(host->isOpen());
    }

    // A getvar or getint reply, every packet acknowledged; nothing when the
    // camera refuses the read.
    std::optional<Bytes> readReply(const Bytes& command) {
        host->sendCommand(command);
        Bytes data;
        for (std::uint8_t seq = 0;; ++seq) {
            const auto m = host->receive();
            if (!m) {
                ADD_FAILURE() << "no answer to register " << int(command[1]);
                return std::nullopt;
            }
            if (seq == 0 && *m == Bytes{kNak})
                return std::nullopt;
            if (m->size() < 6) {
                ADD_FAILURE() << "not a packet";
                return std::nullopt;
            }
            const Bytes payload(m->begin() + 4, m->end() - 2);
            EXPECT_EQ(*m, packet((*m)[0], seq, payload));  // length, sequence, checksum
            data.insert(data.end(), payload.begin(), payload.end());
            host->sendByte(kAck);
            if ((*m)[0] == 0x03)
                return data;
            EXPECT_EQ((*m)[0], 0x02);
        }
    }
    std::optional<std::int32_t> getInt(int reg) {
        const auto b = readReply({1, std::uint8_t(reg)});
        if (!b)
            return std::nullopt;
        EXPECT_EQ(b->size(), 4u);
        return b->size() == 4 ? std::optional(std::int32_t(readLe(*b, 0, 4))) : std::nullopt;
    }
    std::optional<Bytes> getVar(int reg) { return readReply({4, std::uint8_t(reg)}); }

    // The single byte that answers a write or an action (an action's
    // completion byte is read as well).
    int setInt(int reg, std::int32_t value) {
        host->sendCommand(concat({{0, std::uint8_t(reg)}, le32(value)}));
        return firstByte();
    }
    int setVar(int reg, const Bytes& data) {
        const std::size_t first = std::min<std::size_t>(data.size(), 2046);
        host->sendCommand(
            concat({{3, std::uint8_t(reg)}, Bytes(data.begin(), data.begin() + long(first))}));
        int answer = firstByte();
        std::uint8_t seq = 0;
        for (std::size_t at = first; answer == kAck && at < data.size(); at += 2048, ++seq) {
            const std::size_t n = std::min<std::size_t>(2048, data.size() - at);
            const bool last = at + n == data.size();
            host->send(packet(last ? 0x03 : 0x02, seq,
                              Bytes(data.begin() + long(at), data.begin() + long(at + n))));
            answer = firstByte();
        }
        return answer;
    }
    int action(int reg) {
        host->sendCommand({2, std::uint8_t(reg), 0});
        const int answer = firstByte();
        if (answer == kAck) {
            EXPECT_EQ(firstByte(), kComplete) << "action " << reg;
        }
        return answer;
    }
    // The upload as the host sends it on USB: arming word, data, 0 (the
    // command layer's own ending of a setvar on USB), then the store action.
    int upload(const Bytes& data, std::int32_t arming = kArmingWord) {
        EXPECT_EQ(setInt(32, arming), kAck);
        EXPECT_EQ(setVar(29, data), kAck);
        EXPECT_EQ(setInt(32, 0), kAck);
        return action(11);
    }
    int firstByte() {
        const auto m = host->receive();
        if (!m || m->size() != 1)
            return -1;
        return (*m)[0];
    }

    PrivateRuntimeDir runtime;  // outlives the camera, which removes its socket
    camsim::Camera cam;
    std::unique_ptr<HostSocket> host;
};

TEST_F(PictureTest, RegistersArePlainUntilTheStoreIsTurnedOn) {
    cam.setInt(10, 7);
    cam.setInt(16, 40);
    cam.setData(14, {1, 2, 3});
    EXPECT_EQ(getInt(10), 7);
    EXPECT_EQ(getVar(14), (Bytes{1, 2, 3}));
    EXPECT_EQ(setInt(4, 99), kAck);  // no picture 99, but a plain register takes it
    EXPECT_EQ(action(2), kAck);      // accepted, and nothing taken
    EXPECT_EQ(getVar(27), Bytes{});
    EXPECT_FALSE(cam.picturesEnabled());
    EXPECT_TRUE(cam.pictures().empty());

    cam.enablePictures();
    EXPECT_EQ(getInt(10), 0);   // the store's count now, not the register's
    EXPECT_EQ(getInt(16), 40);  // a battery level already set is kept
    EXPECT_EQ(getVar(27), nameBytes("SR981"));
    EXPECT_EQ(getVar(71), concat({le32(10), le32(10)}));
    EXPECT_EQ(getVar(14), std::nullopt);  // no picture selected
    EXPECT_EQ(cam.getInt(10), 7);         // the stored register is untouched
}

TEST_F(PictureTest, CountsFramesLeftAndFreeMemoryFollowThePictures) {
    ASSERT_EQ(cam.generatePictures(3, 64, 48), 3);
    const auto pics = cam.pictures();
    ASSERT_EQ(pics.size(), 3u);
    std::int64_t used = 0;
    for (const auto& p : pics) {
        ASSERT_TRUE(p.thumbnail);
        used += std::int64_t(p.jpeg.size() + p.thumbnail->size());
    }
    EXPECT_EQ(getInt(10), 3);
    EXPECT_EQ(getInt(40), 3);
    EXPECT_EQ(getInt(11), 97);
    EXPECT_EQ(getInt(28), kCard - used);

    cam.setCapacity(5, 1000000);
    cam.setSecondCount(12);
    EXPECT_EQ(getInt(11), 2);
    EXPECT_EQ(getInt(28), 1000000 - used);
    EXPECT_EQ(getInt(40), 12);
    EXPECT_EQ(getInt(10), 3);

    // A card over-full, from pictures added past its room: nothing negative.
    cam.setCapacity(1, 10);
    EXPECT_EQ(getInt(11), 0);
    EXPECT_EQ(getInt(28), 0);
}

TEST_F(PictureTest, WithFoldersTheFirstCounterIsTheFolders) {
    cam.setFolders({"", 4, {}});
    cam.generatePictures(2, 16, 16);
    EXPECT_EQ(getInt(10), 4);
    EXPECT_EQ(getInt(40), 2);
}

TEST_F(PictureTest, SelectedPictureIsReadWhole) {
    cam.freezeClock(kNewYear2001);
    ASSERT_EQ(cam.generatePictures(3, 320, 240), 3);
    const Picture pic = cam.pictures()[1];
    ASSERT_GT(pic.jpeg.size(), 2048u);  // more than one packet

    EXPECT_EQ(setInt(4, 2), kAck);
    EXPECT_EQ(getInt(4), 2);
    EXPECT_EQ(getInt(12), std::int32_t(pic.jpeg.size()));
    EXPECT_EQ(getInt(13), std::int32_t(pic.thumbnail->size()));
    EXPECT_EQ(getVar(14), pic.jpeg);
    EXPECT_EQ(getVar(15), *pic.thumbnail);
    EXPECT_EQ(getVar(79), nameBytes("DSCN0002.JPG"));
    const auto summary = getVar(47);
    ASSERT_TRUE(summary);
    ASSERT_EQ(summary->size(), 32u);
    EXPECT_EQ(readLe(*summary, 0, 3), pic.jpeg.size());
    EXPECT_EQ(readLe(*summary, 20, 4), kNewYear2001);
}

TEST_F(PictureTest, GeneratedPicturesAreRealJpegsWithTheirTimeInApp12) {
    cam.freezeClock(kNewYear2001);
    ASSERT_EQ(cam.generatePictures(2, 320, 240), 2);
    const auto pics = cam.pictures();
    std::vector<Image> images;
    for (const auto& p : pics) {
        const auto image = decodeJpeg(p.jpeg);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, 320);
        EXPECT_EQ(image->height, 240);
        images.push_back(*image);
        const auto app12 = app12AfterSoi(p.jpeg);
        ASSERT_TRUE(app12);
        EXPECT_NE(app12->front(), '\0');  // a title first
        EXPECT_EQ(app12Value(*app12, "TimeDate"), std::to_string(kNewYear2001));
        EXPECT_EQ(p.taken, kNewYear2001);
        const auto thumb = decodeJpeg(*p.thumbnail);
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->width, 40);
        EXPECT_EQ(thumb->height, 30);
    }
    EXPECT_NE(images[0].rgb, images[1].rgb);  // each picture looks its own

    EXPECT_EQ(cam.generatePictures(1, 0, 10), -1);
    EXPECT_EQ(cam.generatePictures(1, 10, 65501), -1);
    EXPECT_EQ(cam.generatePictures(-1, 10, 10), -1);
    EXPECT_EQ(cam.pictures().size(), 2u);
}

TEST_F(PictureTest, OnlyExistingPicturesCanBeSelected) {
    cam.generatePictures(2, 16, 16);
    EXPECT_EQ(getInt(4), 2);  // the newest picture, selected when added
    for (const std::int32_t n : {3, -1, 1000}) {
        EXPECT_EQ(setInt(4, n), kNak) << n;
        EXPECT_EQ(getInt(4), 2) << n;
    }
    // Picture 0 can be selected before a preview exists, but holds nothing.
    EXPECT_EQ(setInt(4, 0), kAck);
    for (const int reg : {12, 13})
        EXPECT_EQ(getInt(reg), std::nullopt) << reg;
    for (const int reg : {14, 15, 47, 79})
        EXPECT_EQ(getVar(reg), std::nullopt) << reg;
}

TEST_F(PictureTest, SnapshotAddsAPictureTakenNowAndSelectsIt) {
    cam.generatePictures(1, 16, 16);
    cam.freezeClock(kNewYear2001 + 60);
    EXPECT_EQ(setInt(4, 1), kAck);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(action(2), kAck);
    const auto after = std::chrono::steady_clock::now();
    EXPECT_EQ(getInt(10), 2);
    // Without a selection of its own, the host reads the new picture.
    EXPECT_EQ(getVar(79), nameBytes("DSCN0002.JPG"));
    const auto summary = getVar(47);
    ASSERT_TRUE(summary);
    EXPECT_EQ(readLe(*summary, 20, 4), kNewYear2001 + 60);
    const Picture shot = cam.pictures()[1];
    const auto image = decodeJpeg(shot.jpeg);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 640);  // the snapshot size
    EXPECT_EQ(image->height, 480);
    const auto times = cam.snapshotTimes();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0], before);
    EXPECT_LE(times[0], after);

    // The snapshot's own time: acknowledged at once, completed after it.
    cam.setSnapshotSize(32, 24);
    cam.setActionTime(2, 400ms);
    host->sendCommand({2, 2, 0});
    EXPECT_EQ(firstByte(), kAck);
    EXPECT_TRUE(host->quietFor(100ms));
    EXPECT_EQ(firstByte(), kComplete);
    const auto small = decodeJpeg(cam.pictures().at(2).jpeg);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 32);
    EXPECT_EQ(cam.snapshotTimes().size(), 2u);
}

TEST_F(PictureTest, SnapshotIsRefusedWhenItCannotBeTaken) {
    const struct {
        const char* why;
        std::function<void(camsim::Camera&)> setUp;
    } cases[] = {
        {"no frame left", [](camsim::Camera& c) { c.setCapacity(2, kCard); }},
        {"no room on the card", [](camsim::Camera& c) { c.setCapacity(100, 3000); }},
        {"handler refuses",
         [](camsim::Camera& c) { c.setAction(2, [](const Bytes&) { return false; }); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        camsim::Camera fresh;
        fresh.generatePictures(2, 8, 8);
        c.setUp(fresh);
        HostSocket freshHost(fresh.startUsb(1));
        freshHost.sendCommand({2, 2, 0});
        EXPECT_EQ(freshHost.receive(), Bytes{kNak});
        EXPECT_EQ(fresh.pictures().size(), 2u);
        EXPECT_TRUE(fresh.snapshotTimes().empty());
    }
}

TEST_F(PictureTest, PreviewIsPictureZeroAndLeavesTheSelection) {
    cam.generatePictures(2, 16, 16);
    EXPECT_EQ(setInt(4, 1), kAck);
    EXPECT_EQ(action(5), kAck);
    EXPECT_EQ(getInt(10), 2);
    EXPECT_EQ(getVar(79), nameBytes("DSCN0001.JPG"));  // still picture 1

    EXPECT_EQ(setInt(4, 0), kAck);
    const auto first = getVar(14);
    ASSERT_TRUE(first);
    EXPECT_EQ(getInt(12), std::int32_t(first->size()));
    const auto image = decodeJpeg(*first);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 160);
    EXPECT_EQ(image->height, 120);

    EXPECT_EQ(action(5), kAck);  // a new preview is a new picture
    EXPECT_NE(getVar(14), first);
}

TEST_F(PictureTest, EraseLastAndEraseAll) {
    cam.generatePictures(3, 8, 8);
    EXPECT_EQ(action(0), kAck);
    EXPECT_EQ(getInt(10), 2);
    EXPECT_EQ(getInt(4), 2);  // the erased picture was selected: now the last one
    EXPECT_EQ(getVar(79), nameBytes("DSCN0002.JPG"));

    EXPECT_EQ(setInt(4, 1), kAck);
    EXPECT_EQ(action(0), kAck);
    EXPECT_EQ(getInt(4), 1);  // a selection still there is kept
    EXPECT_EQ(getVar(79), nameBytes("DSCN0001.JPG"));

    EXPECT_EQ(action(1), kAck);
    EXPECT_EQ(getInt(10), 0);
    EXPECT_EQ(getInt(11), 100);
    EXPECT_EQ(getInt(28), kCard);
    EXPECT_EQ(action(0), kNak);  // nothing left to erase
    EXPECT_EQ(action(1), kAck);

    // Names go on counting after an erase, as a camera's file numbers do.
    EXPECT_EQ(action(2), kAck);
    EXPECT_EQ(getVar(79), nameBytes("DSCN0004.JPG"));
}

TEST_F(PictureTest, ArmedUploadBecomesAPicture) {
    cam.enablePictures();
    cam.freezeClock(5);
    // Not a JPEG the camera can decode: stored as it is, with no thumbnail;
    // its time comes from its APP12 segment.
    const Bytes data = concat({{0xFF, 0xD8, 0xFF, 0xEC, 0, 27},
                               Bytes{'T', 0, 0},
                               Bytes{'T', 'i', 'm', 'e', 'D', 'a', 't', 'e',  '=', '9', '7',
                                     '8', '3', '0', '7', '2', '0', '0', '\n', 0,   0,   0},
                               pattern(6000)});
    EXPECT_EQ(upload(data), kAck);
    ASSERT_EQ(cam.pictures().size(), 1u);
    EXPECT_EQ(getInt(4), 1);
    EXPECT_EQ(getVar(14), data);
    EXPECT_EQ(getInt(13), 0);
    EXPECT_EQ(getVar(79), nameBytes("DSCN0001.JPG"));
    EXPECT_EQ(readLe(getVar(47).value_or(Bytes{}), 20, 4), kNewYear2001);

    // As a host on the serial line sends it (no 0 after the data); without
    // APP12 the time is the clock's.
    EXPECT_EQ(setInt(32, kArmingWord), kAck);
    EXPECT_EQ(setVar(29, {0xFF, 0xD8, 1, 2}), kAck);
    EXPECT_EQ(action(11), kAck);
    EXPECT_EQ(cam.pictures().at(1).taken, 5u);
    // The arming word is spent: the next upload needs its own.
    EXPECT_EQ(setVar(29, data), kAck);
    EXPECT_EQ(action(11), kNak);
    EXPECT_EQ(cam.pictures().size(), 2u);
}

TEST_F(PictureTest, UploadWithoutTheArmingWordIsRefused) {
    const Bytes data = pattern(3000);
    const struct {
        const char* why;
        std::function<void()> send;
    } cases[] = {
        {"never armed", [&] { EXPECT_EQ(setVar(29, data), kAck); }},
        {"wrong word",
         [&] {
             EXPECT_EQ(setInt(32, kArmingWord + 1), kAck);
             EXPECT_EQ(setVar(29, data), kAck);
         }},
        {"disarmed before the data",
         [&] {
             EXPECT_EQ(setInt(32, kArmingWord), kAck);
             EXPECT_EQ(setInt(32, 0), kAck);
             EXPECT_EQ(setVar(29, data), kAck);
         }},
        {"armed before the data, not for it",
         [&] {
             EXPECT_EQ(setVar(29, data), kAck);
             EXPECT_EQ(setInt(32, kArmingWord), kAck);
         }},
        {"armed data replaced",
         [&] {
             EXPECT_EQ(setInt(32, kArmingWord), kAck);
             EXPECT_EQ(setVar(29, data), kAck);
             EXPECT_EQ(setInt(32, 0), kAck);
             EXPECT_EQ(setVar(29, pattern(10)), kAck);
         }},
        {"armed but empty",
         [&] {
             EXPECT_EQ(setInt(32, kArmingWord), kAck);
             EXPECT_EQ(setVar(29, {}), kAck);
         }},
    };
    cam.enablePictures();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        c.send();
        EXPECT_EQ(action(11), kNak);
        EXPECT_TRUE(cam.pictures().empty());
        EXPECT_EQ(setInt(32, 0), kAck);
    }
}

TEST_F(PictureTest, UploadThatDoesNotFitIsRefused) {
    cam.generatePictures(1, 8, 8);
    const auto free = getInt(28);
    ASSERT_TRUE(free);
    cam.setCapacity(100, kCard - *free + 1000);  // 1000 bytes left
    EXPECT_EQ(upload(pattern(1001)), kNak);
    EXPECT_EQ(cam.pictures().size(), 1u);
    EXPECT_EQ(upload(pattern(1000)), kAck);  // exactly the room left
    EXPECT_EQ(getInt(28), 0);
    cam.setCapacity(2, kCard);  // no frame left
    EXPECT_EQ(upload(pattern(10)), kNak);
    EXPECT_EQ(cam.pictures().size(), 2u);
}

TEST_F(PictureTest, ZoomIsStoredAndMalformedZoomsAreRefused) {
    cam.enablePictures();
    const Bytes zoom3 = concat({le32(29), le32(10)});
    EXPECT_EQ(setVar(71, zoom3), kAck);
    EXPECT_EQ(getVar(71), zoom3);
    for (const Bytes& bad : {le32(29), concat({le32(29), le32(0)}), concat({zoom3, {0}})}) {
        EXPECT_EQ(setVar(71, bad), kNak);
        EXPECT_EQ(getVar(71), zoom3);
    }
}

TEST_F(PictureTest, ModelTextIsSettable) {
    for (const std::string model : {"SX381", "SR981", "Q-100 Zoom"}) {
        cam.setModel(model);
        EXPECT_EQ(getVar(27), nameBytes(model));
    }
}

TEST_F(PictureTest, PerPictureFaultsForTheDownload) {
    struct Case {
        const char* what;
        Picture picture;
        std::optional<std::int32_t> length;  // register 12
        std::optional<Bytes> summary;        // register 47, nothing: refused
        Bytes name;
    };
    Picture disagrees, zero, refused, empty, hostile;
    for (Picture* p : {&disagrees, &zero, &refused, &empty, &hostile}) {
        p->jpeg = pattern(3000);
        p->taken = kNewYear2001;
    }
    disagrees.summaryLength = 2999;
    zero.zeroLength = true;
    refused.summary = Picture::Summary::Refused;
    empty.summary = Picture::Summary::Empty;
    hostile.name = "../../x";
    Bytes summary3000(32, 0), summary2999(32, 0);
    for (Bytes* s : {&summary3000, &summary2999}) {
        (*s)[1] = 3000 / 256;
        (*s)[20] = kNewYear2001 & 0xFF;
        (*s)[21] = (kNewYear2001 >> 8) & 0xFF;
        (*s)[22] = (kNewYear2001 >> 16) & 0xFF;
        (*s)[23] = kNewYear2001 >> 24;
    }
    summary3000[0] = 3000 % 256;
    summary2999[0] = 2999 % 256;
    const Case cases[] = {
        {"summary disagrees", disagrees, 3000, summary2999, nameBytes("DSCN0001.JPG")},
        {"length 0", zero, 0, summary3000, nameBytes("DSCN0002.JPG")},
        {"summary refused", refused, 3000, std::nullopt, nameBytes("DSCN0003.JPG")},
        {"summary empty", empty, 3000, Bytes{}, nameBytes("DSCN0004.JPG")},
        {"hostile name", hostile, 3000, summary3000, nameBytes("../../x")},
    };
    for (const auto& c : cases)
        cam.addPicture(c.picture);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(setInt(4, std::int32_t(i + 1)), kAck);
        EXPECT_EQ(getInt(12), c.length);
        EXPECT_EQ(getVar(47), c.summary);
        EXPECT_EQ(getVar(14), pattern(3000));  // the data itself is whole
        EXPECT_EQ(getVar(79), c.name);
    }
}

TEST_F(PictureTest, ClockHasAnOffsetAndCanBeFrozen) {
    const auto host = static_cast<std::uint32_t>(std::time(nullptr));
    EXPECT_LE(std::max(cam.clockNow(), host) - std::min(cam.clockNow(), host), 2u);
    cam.setClockOffset(3600s);
    EXPECT_LE(cam.clockNow() - host - 3600, 2u);
    cam.freezeClock(kNewYear2001);
    cam.generatePictures(1, 8, 8);
    EXPECT_EQ(cam.pictures()[0].taken, kNewYear2001);
    cam.setClockOffset(0s);  // running again
    EXPECT_GE(cam.clockNow(), host);
}

// A folder of the test's own, removed with it.
class PictureFolder {
public:
    PictureFolder() {
        char tmpl[] = "/tmp/tulk-pictures-XXXXXX";
        if (::mkdtemp(tmpl))
            path_ = tmpl;
    }
    ~PictureFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

private:
    fs::path path_;
};

TEST_F(PictureTest, FolderOfJpegFilesIsLoadedAsItIs) {
    camsim::Camera source;
    source.freezeClock(kNewYear2001);
    source.generatePictures(1, 64, 48);
    const Bytes withTime = source.pictures()[0].jpeg;
    const Bytes withoutTime = *source.pictures()[0].thumbnail;  // a JPEG with no APP12
    ASSERT_FALSE(app12AfterSoi(withoutTime));

    PictureFolder folder;
    folder.write("b.jpg", withTime);
    folder.write("A.JPEG", withoutTime);
    folder.write("DSCN0041.JPG", withTime);
    folder.write("notes.txt", {1, 2, 3});
    fs::create_directory(folder.path() / "dir.jpg");
    const utimbuf stamp{1000000000, 1000000000};
    ASSERT_EQ(::utime((folder.path() / "A.JPEG").c_str(), &stamp), 0);

    ASSERT_EQ(cam.loadPictures(folder.path()), 3);
    const auto pics = cam.pictures();
    ASSERT_EQ(pics.size(), 3u);
    EXPECT_EQ(pics[0].name, "A.JPEG");
    EXPECT_EQ(pics[0].jpeg, withoutTime);
    EXPECT_EQ(pics[0].taken, 1000000000u);  // its modification time
    EXPECT_EQ(pics[1].name, "DSCN0041.JPG");
    EXPECT_EQ(pics[2].name, "b.jpg");
    EXPECT_EQ(pics[2].jpeg, withTime);
    EXPECT_EQ(pics[2].taken, kNewYear2001);  // its APP12 TimeDate
    const auto thumb = decodeJpeg(pics[2].thumbnail.value_or(Bytes{}));
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->width, 8);

    EXPECT_EQ(setInt(4, 1), kAck);
    EXPECT_EQ(getVar(79), nameBytes("A.JPEG"));
    // The camera's own names go on after the highest loaded one.
    EXPECT_EQ(action(2), kAck);
    EXPECT_EQ(getVar(79), nameBytes("DSCN0042.JPG"));
}

TEST_F(PictureTest, FolderThatCannotBeReadAddsNothing) {
    PictureFolder folder;
    EXPECT_EQ(cam.loadPictures((folder.path() / "missing").string()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(cam.picturesEnabled());

    // An empty folder is read: it has no pictures.
    PictureFolder none;
    EXPECT_EQ(cam.loadPictures(none.path()), 0);

    // A file that opens but cannot be read (whoever runs the test): the
    // folder is not loaded half.
    folder.write("a.jpg", {0xFF, 0xD8});
    fs::create_symlink("/proc/self/mem", folder.path() / "b.jpg");
    EXPECT_EQ(cam.loadPictures(folder.path()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(cam.pictures().empty());
}

}  // namespace
}  // namespace simtest
