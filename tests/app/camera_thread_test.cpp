// The camera thread and what goes with it: jobs run in order on one thread
// with the link held, their boxes and completions come on the window thread
// once the link is free, a last job closes the queue, a completion whose
// window is gone is dropped; the time-lapse clock skips the ticks that fall
// due during one and waits for it when stopped; the progress window's
// details line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <ostream>
#include <thread>
#include <vector>

#include "app/CameraWorker.h"
#include "app/MessageBoxes.h"
#include "app/ProgressWindow.h"
#include "app/ThreadRule.h"
#include "camera/camera_ops.h"
#include "log/activity_log.h"

using namespace std::chrono_literals;

namespace {

// Runs the window thread's events until the condition holds or 10 s pass.
bool EventsUntil(const std::function<bool()>& condition) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > 10000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool LinkFree() {
    if (!LinkLock().try_lock()) {
        return false;
    }
    LinkLock().unlock();
    return true;
}

TEST(CameraWorkerTest, RunsJobsInOrderOnOneThreadWithTheLinkHeld) {
    CCameraWorker worker;
    QObject context;
    std::vector<int> ran;
    std::vector<int> done;
    std::vector<std::thread::id> threads;
    bool heldInJobs = true;
    bool doneOnWindowWithLinkFree = true;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(worker.Post(
            [&, i] {
                ran.push_back(i);
                threads.push_back(std::this_thread::get_id());
                heldInJobs = heldInJobs && LinkHeldByThisThread();
            },
            &context,
            [&, i] {
                done.push_back(i);
                // The next job may hold the link by now; after the last one
                // nothing does.
                doneOnWindowWithLinkFree =
                    doneOnWindowWithLinkFree && OnWindowThread() && (i < 2 || LinkFree());
            }));
    }
    ASSERT_TRUE(EventsUntil([&] { return done.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2}));
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_EQ(threads[1], threads[2]);
    EXPECT_TRUE(heldInJobs);
    EXPECT_TRUE(doneOnWindowWithLinkFree);
}

TEST(CameraWorkerTest, BoxesOfAJobComeBeforeItsCompletionWithTheLinkFree) {
    QWidget owner;
    InstallMessageBoxHook(&owner);
    std::vector<std::string> events;
    SetBoxAnswerer([&](const BoxQuestion& question) {
        events.push_back("box " + question.text.toStdString() + (LinkFree() ? " link free" : ""));
        return QMessageBox::Cancel;
    });
    CCameraWorker worker;
    int answer = 0;
    worker.Post(
        [&] {
            answer = ShowMessage("Disk is full", MB_OKCANCEL);
            events.push_back("job goes on");
        },
        &owner, [&] { events.push_back("done"); });
    ASSERT_TRUE(EventsUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(events,
              (std::vector<std::string>{"job goes on", "box Disk is full link free", "done"}));
    SetBoxAnswerer(nullptr);
    InstallMessageBoxHook(nullptr);
}

TEST(CameraWorkerTest, LastJobClosesTheQueue) {
    CCameraWorker worker;
    std::atomic<int> ran{0};
    EXPECT_TRUE(worker.Post([&] { ran = 1; }, nullptr, {}, true));
    EXPECT_FALSE(worker.Post([&] { ran = 2; }, nullptr));
    EXPECT_FALSE(worker.Accepting());
    worker.Join();
    EXPECT_EQ(ran.load(), 1);
}

TEST(CameraWorkerTest, CompletionIsDroppedWhenItsWindowIsGone) {
    CCameraWorker worker;
    auto context = std::make_unique<QObject>();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool done = false;
    worker.Post([released] { released.wait(); }, context.get(), [&] { done = true; });
    context.reset();
    release.set_value();
    worker.Join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(done);
}

struct DetailsCase {
    long done;
    long total;
    std::chrono::milliseconds elapsed;
    const char* text;
};

void PrintTo(const DetailsCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ProgressDetailsTest : public testing::TestWithParam<DetailsCase> {};

TEST_P(ProgressDetailsTest, SaysBytesRateAndTimeLeft) {
    const DetailsCase& c = GetParam();
    EXPECT_EQ(CProgressWindow::Details(c.done, c.total, c.elapsed).toStdString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressDetailsTest,
    testing::Values(
        // Nothing yet, or too soon for a rate.
        DetailsCase{0, 1000, 0ms, "0 bytes of 1000 bytes"}, DetailsCase{100, 0, 300ms, "100 bytes"},
        DetailsCase{5000, 20000, 1000ms, "5000 bytes of 19.5 KB, 5000 bytes/s, 3 s left"},
        // Whole: no time left to show.
        DetailsCase{20480, 20480, 2000ms, "20.0 KB of 20.0 KB, 10.0 KB/s"},
        DetailsCase{20 << 20, 40 << 20, 120000ms,
                    "20.0 MB of 40.0 MB, 170.7 KB/s, 2 min 00 s left"}));

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallThreadRule();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
