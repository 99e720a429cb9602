#include "app/ThreadRule.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "camera/camera_ops.h"
#include "log/activity_log.h"

namespace {

void CheckLinkWait() {
    if (OnWindowThread()) {
        ThreadRuleBroken("the window thread waits for the camera link");
    }
}

}  // namespace

bool OnWindowThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void InstallThreadRule() {
    SetLinkWaitCheck(&CheckLinkWait);
}

void CheckMayWaitForWindow(const char* what) {
    if (LinkHeldByThisThread()) {
        ThreadRuleBroken(what);
    }
}

void ThreadRuleBroken(const char* what) {
#ifdef TULK_CHECK_THREAD_RULE
    std::fprintf(stderr, "tulk: threading rule broken: %s\n", what);
    std::abort();
#else
    WriteLog("ThreadRule", __LINE__, what);
#endif
}
