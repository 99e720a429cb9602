// The threading rule fails loudly where it is broken: the window thread
// waiting for the camera link, or a thread that holds the link asking the
// user. Other threads may wait for the link as they please.
#include <gtest/gtest.h>

#include <QApplication>
#include <mutex>
#include <thread>

#include "app/MessageBoxes.h"
#include "app/ThreadRule.h"
#include "camera/camera_ops.h"

namespace {

class ThreadRuleTest : public testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        InstallThreadRule();
    }
    void TearDown() override { SetLinkWaitCheck(nullptr); }
};

TEST_F(ThreadRuleTest, WindowThreadWaitingForTheLinkStops) {
    EXPECT_DEATH({ std::lock_guard lock(LinkLock()); },
                 "threading rule broken: the window thread waits for the camera link");
}

TEST_F(ThreadRuleTest, AskingTheUserWhileHoldingTheLinkStops) {
    SetBoxAnswerer([](const BoxQuestion&) { return QMessageBox::Ok; });
    EXPECT_DEATH(
        {
            std::thread camera([] {
                std::lock_guard lock(LinkLock());
                AskUser(nullptr, BoxQuestion{"Tulk", "Disk is full"});
            });
            camera.join();
        },
        "threading rule broken: a thread that holds the camera link asks the user");
    SetBoxAnswerer(nullptr);
}

TEST_F(ThreadRuleTest, OtherThreadsMayWaitForTheLinkAndAskWithItFree) {
    bool held = false;
    bool freeAfter = false;
    std::thread camera([&] {
        {
            std::lock_guard lock(LinkLock());
            // Recursive: an operation may call another.
            std::lock_guard again(LinkLock());
            held = LinkHeldByThisThread();
        }
        freeAfter = !LinkHeldByThisThread();
        CheckMayWaitForWindow("asked with the link free");
    });
    camera.join();
    EXPECT_TRUE(held);
    EXPECT_TRUE(freeAfter);
    EXPECT_FALSE(LinkHeldByThisThread());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
