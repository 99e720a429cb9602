// A camera that keeps its pictures in folders, through registers 83, 84 and
// 10, and the one-line tree syntax of tulk-camsim.
#include "sim/folder_spec.h"
#include "tests/sim/camera_fixture.h"

namespace simtest {
namespace {

using camsim::Folder;

Folder folder(const std::string& name, std::int32_t pictures, std::vector<Folder> children = {}) {
    return Folder{name, pictures, std::move(children)};
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class FolderTest : public CameraTest {
protected:
    void SetUp() override {
        CameraTest::SetUp();
        // Register 10 of its own must not show through a folder's count.
        cam.setInt(10, 99);
        cam.setFolders(folder("ignored", 1,
                              {folder("A", 0, {folder("B", 5)}), folder("C", 3),
                               folder("DCIM    ", 0, {folder("100CAM  ", 2)})}));
    }

    // getint, acknowledged; -1 when no value came.
    std::int64_t readInt(int reg) {
        host->writeCommand({1, std::uint8_t(reg)});
        auto p = host->readPacket();
        if (!p || p->payload.size() != 4)
            return -1;
        host->writeByte(kAck);
        return std::int64_t(p->payload[0] | p->payload[1] << 8 | p->payload[2] << 16 |
                            std::uint32_t(p->payload[3]) << 24);
    }
    int select(std::int32_t n) { return command(concat({{0, 83}, le32(n)})); }
    int change(const std::string& name) { return command(concat({{3, 84}, bytesOf(name)})); }
    // The selected subfolder's name as the camera sends it.
    Bytes selectedName() {
        host->writeCommand({4, 84});
        return readTransfer();
    }
};

TEST_F(FolderTest, WalkThroughTheTree) {
    EXPECT_EQ(cam.currentFolder(), "\\");
    EXPECT_EQ(command({0, 83}), kAck);
    EXPECT_EQ(readInt(83), 3);
    EXPECT_EQ(readInt(10), 1);
    const char* names[] = {"A", "C", "DCIM    "};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(select(i + 1), kAck);
        EXPECT_EQ(selectedName(), concat({bytesOf(names[i]), {0}})) << i;
    }

    EXPECT_EQ(change("A"), kAck);
    EXPECT_EQ(cam.currentFolder(), "\\A");
    EXPECT_EQ(readInt(83), 1);
    EXPECT_EQ(readInt(10), 0);
    ASSERT_EQ(select(1), kAck);
    EXPECT_EQ(selectedName(), (Bytes{'B', 0}));
    EXPECT_EQ(change("B"), kAck);
    // The record keeps the name written, as for any setvar.
    EXPECT_EQ(cam.commands().back().data, bytesOf("B"));
    EXPECT_EQ(cam.currentFolder(), "\\A\\B");
    EXPECT_EQ(readInt(83), 0);
    EXPECT_EQ(readInt(10), 5);

    EXPECT_EQ(change("\\"), kAck);
    EXPECT_EQ(cam.currentFolder(), "\\");
    EXPECT_EQ(change("C"), kAck);
    EXPECT_EQ(readInt(10), 3);
    EXPECT_EQ(cam.getData(84), Bytes{});  // a change of folder is not stored

    // A new tree starts at its root.
    cam.setFolders(folder("", 7, {folder("C", 0)}));
    EXPECT_EQ(cam.currentFolder(), "\\");
    EXPECT_EQ(readInt(10), 7);
}

TEST_F(FolderTest, PaddedNamesAreSentWholeAndMatchedWithoutTheirSpaces) {
    ASSERT_EQ(select(3), kAck);
    EXPECT_EQ(selectedName(), bytesOf(std::string("DCIM    ") + '\0'));
    EXPECT_EQ(change("DCIM"), kAck);
    EXPECT_EQ(change("100CAM"), kAck);
    EXPECT_EQ(cam.currentFolder(), "\\DCIM\\100CAM");
    EXPECT_EQ(readInt(10), 2);
    EXPECT_EQ(change("\\"), kAck);
    EXPECT_EQ(change("DCIM    "), kAck);
    EXPECT_EQ(cam.currentFolder(), "\\DCIM");
}

TEST_F(FolderTest, UnknownFolderIsRefusedAndTheCameraStays) {
    ASSERT_EQ(change("A"), kAck);
    const char* refused[] = {"B\\", "C", "X", "", "A", "\\A", " B"};
    for (const char* name : refused) {
        EXPECT_EQ(change(name), kNak) << '"' << name << '"';
        EXPECT_EQ(cam.currentFolder(), "\\A") << '"' << name << '"';
    }
}

TEST_F(FolderTest, SelectionOutOfRangeIsRefused) {
    // No subfolder selected yet: there is no name to read.
    host->writeCommand({4, 84});
    EXPECT_EQ(host->readByte(), kNak);

    for (std::int32_t n : {0, 4, -1, 0x10000}) {
        EXPECT_EQ(select(n), kNak) << n;
    }
    ASSERT_EQ(select(2), kAck);
    EXPECT_EQ(select(4), kNak);
    EXPECT_EQ(selectedName(), (Bytes{'C', 0}));  // the refusal kept the selection

    // Entering a folder forgets the selection of the one before.
    ASSERT_EQ(change("A"), kAck);
    ASSERT_EQ(change("B"), kAck);
    EXPECT_EQ(select(1), kNak);
    host->writeCommand({4, 84});
    EXPECT_EQ(host->readByte(), kNak);
}

TEST_F(FolderTest, TreeDeeperThanTenLevels) {
    Folder deepest = folder("L12", 9);
    for (int level = 11; level >= 1; --level)
        deepest = folder("L" + std::to_string(level), 0, {deepest});
    cam.setFolders(folder("", 0, {deepest}));
    std::string path;
    for (int level = 1; level <= 12; ++level) {
        const std::string name = "L" + std::to_string(level);
        ASSERT_EQ(change(name), kAck) << name;
        path += "\\" + name;
    }
    EXPECT_EQ(cam.currentFolder(), path);
    EXPECT_EQ(readInt(10), 9);
}

// A camera that never had folders and one whose folders were taken away
// answer alike.
class NoFoldersTest : public FolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        CameraTest::SetUp();
        cam.setInt(10, 99);
        if (GetParam()) {
            cam.setFolders(folder("", 1, {folder("A", 2)}));
            cam.clearFolders();
        }
    }
};

TEST_P(NoFoldersTest, RefusesEveryChangeOfFolder) {
    EXPECT_EQ(cam.currentFolder(), "");
    EXPECT_EQ(command({0, 83}), kAck);
    EXPECT_EQ(change("\\"), kNak);
    EXPECT_EQ(change("A"), kNak);
    EXPECT_EQ(readInt(83), 0);
    EXPECT_EQ(select(1), kNak);
    EXPECT_EQ(readInt(10), 99);
}

INSTANTIATE_TEST_SUITE_P(Cameras, NoFoldersTest, ::testing::Bool());

// --- the one-line syntax -------------------------------------------------------

// The tree as text, for readable failures.
std::string dump(const Folder& f) {
    std::string out = "[" + f.name + "]" + std::to_string(f.pictures);
    if (!f.children.empty()) {
        out += "(";
        for (const auto& c : f.children)
            out += dump(c) + (&c == &f.children.back() ? "" : ",");
        out += ")";
    }
    return out;
}

TEST(FolderSpec, ParsesTrees) {
    const struct {
        const char* spec;
        Folder tree;
    } cases[] = {
        {"", folder("", 0)},
        {":4", folder("", 4)},
        {":4,A(B:3),C:2", folder("", 4, {folder("A", 0, {folder("B", 3)}), folder("C", 2)})},
        {"DCIM    (100CAM  :2,101CAM)",
         folder("", 0, {folder("DCIM    ", 0, {folder("100CAM  ", 2), folder("101CAM", 0)})})},
        {"A:1(B:2(C:3))", folder("", 0, {folder("A", 1, {folder("B", 2, {folder("C", 3)})})})},
    };
    for (const auto& c : cases) {
        Folder root;
        std::string error;
        EXPECT_TRUE(camsim::parseFolderSpec(c.spec, root, error)) << c.spec << ": " << error;
        EXPECT_EQ(dump(root), dump(c.tree)) << c.spec;
    }
}

TEST(FolderSpec, RefusesMalformedSpecs) {
    for (const char* spec : {"A(", "A)", ",A", "A,", "A:", "A:x", ":1,:2", "A(:3)", "A()",
                             "A:99999999999", "A(B))", ":-1"}) {
        Folder root;
        std::string error;
        EXPECT_FALSE(camsim::parseFolderSpec(spec, root, error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

}  // namespace
}  // namespace simtest
