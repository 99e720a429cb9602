// The main window's picture taking: one picture, the time lapse with its
// picture threads, and the counters.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "Settings.h"
#include "TulkDlg.h"
#include "TulkState.h"
#include "activity_log.h"
#include "camera_ops.h"
#include "eph.h"
#include "platform/debug_output.h"

namespace {

constexpr int kShortestInterval = 100;

// The capture without its connection test, for the picture thread, which
// works on the link its window opened.
void Capture() {
    std::lock_guard lock(LinkLock());
    eph_setint(g_iob, C990_FOCUSMODE, g_nFocusMode);
    const unsigned char arg = 0;
    if (eph_action(g_iob, C990_C2_SNAPSHOT, &arg, 1) != 0) {
        WriteLog("TulkDlg", __LINE__, "C990_C2_SNAPSHOT failed");
    }
    eph_setint(g_iob, C990_FOCUSMODE, g_nFocusMode);
}

}  // namespace

void TakePicture() {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return;
    }
    Capture();
}

std::int32_t GetAvailMemory() {
    std::lock_guard lock(LinkLock());
    std::int32_t value = 0;
    if (eph_getint(g_iob, AVAILMEM, &value) == -1) {
        return 0;
    }
    return value;
}

void CTulkDlg::OnTakePicture() {
    if (!g_bConnected) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TakePicture();
    RefreshCounters();
    QApplication::restoreOverrideCursor();
}

void CTulkDlg::OnRunTimeLapse() {
    std::int32_t interval = m_editDelay->Value();
    if (!g_bConnected) {
        return;
    }
    if (interval < kShortestInterval) {
        interval = kShortestInterval;
    }
    m_editDelay->SetValue(interval);
    g_nUploadToFtp = UploadFtpState();
    m_timerTimeLapse.start(interval);
    g_bTimeLapseRunning = 1;
}

std::int32_t CTulkDlg::UploadFtpState() const {
    // The check box's state word: checked, and neither pressed nor focused,
    // reads 1.
    std::int32_t state = m_chkUploadFtp->isChecked() ? 1 : 0;
    if (m_chkUploadFtp->isDown()) {
        state |= 0x4;
    }
    if (m_chkUploadFtp->hasFocus()) {
        state |= 0x8;
    }
    return state;
}

void CTulkDlg::OnStopTimeLapse() {
    if (g_bConnected && g_bTimeLapseRunning) {
        m_timerTimeLapse.stop();
        g_bTimeLapseRunning = 0;
    }
}

void CTulkDlg::TimeLapseTimerProc() {
    ReapPictureThreads();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, ended] {
        PictureThread();
        *ended = true;
    });
    m_pictureThreads.push_back(PictureWorker{std::move(thread), ended});
}

void CTulkDlg::PictureThread() {
    int expected = 0;
    if (!g_bTakingPicture.compare_exchange_strong(expected, 1)) {
        return;
    }
    QElapsedTimer clock;
    clock.start();
    // Widgets live on the window thread; the thread only asks for the wait
    // window and never waits for it while holding the link.
    QMetaObject::invokeMethod(this, "ShowWaitWindow", Qt::QueuedConnection, Q_ARG(bool, true));
    Capture();
    const auto elapsed = static_cast<unsigned long>(clock.elapsed());
    if (g_bSaveEveryTime) {
        GetLastPicture();
    }
    char line[128];
    std::snprintf(line, sizeof line, "Time to take picture %lu ,secs %lu\r\n", elapsed,
                  elapsed / 1000);
    debug_output(line);
    QMetaObject::invokeMethod(this, "ShowWaitWindow", Qt::QueuedConnection, Q_ARG(bool, false));
    QMetaObject::invokeMethod(this, "OnTimer", Qt::BlockingQueuedConnection, Q_ARG(int, 0));
    g_bTakingPicture = 0;
}

void CTulkDlg::ShowWaitWindow(bool show) {
    if (show) {
        if (!m_wndTakingPicture) {
            auto* wait = new QDialog(this);
            wait->setObjectName(QStringLiteral("IDD_TAKING_PICTURE"));
            wait->setWindowTitle(QStringLiteral("Taking picture , please wait"));
            wait->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
            wait->setModal(false);
            wait->setFixedSize(182, 62);
            m_wndTakingPicture = wait;
        }
        m_wndTakingPicture->show();
    } else if (m_wndTakingPicture) {
        m_wndTakingPicture->hide();
    }
}

void CTulkDlg::OnTimer(int /*id*/) {
    RefreshCounters();
}

void CTulkDlg::ReapPictureThreads() {
    std::erase_if(m_pictureThreads, [](PictureWorker& worker) {
        if (!*worker.ended) {
            return false;
        }
        worker.thread.join();
        return true;
    });
}

void CTulkDlg::StopPictureWork() {
    m_timerTimeLapse.stop();
    g_bTimeLapseRunning = 0;
    // A picture thread ends by waiting for this thread to refresh the
    // counters, so the queue keeps moving while we wait; the user's clicks
    // wait until we are done.
    while (!m_pictureThreads.empty()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        ReapPictureThreads();
        if (!m_pictureThreads.empty()) {
            QThread::msleep(5);
        }
    }
    JoinDownloadThread(QEventLoop::ExcludeUserInputEvents);
}

void CTulkDlg::RefreshCounters() {
    if (!g_bConnected) {
        return;
    }
    std::lock_guard lock(LinkLock());
    m_editPictures->setText(QString::number(GetFrameCount(g_iob)));
    m_editFramesLeft->setText(QString::number(GetFramesLeft()));
    m_editAvailMem->setText(QString::number(GetAvailMemory()));
}

void CTulkDlg::OnDelayChange() {
    if (!g_bConnected) {
        return;
    }
    m_nTimerValue = m_editDelay->Value();
    std::int32_t value = m_nTimerValue;
    SettingDword("TimerValue", &value, 1);
}

void CTulkDlg::OnSaveEveryTime() {
    g_bSaveEveryTime = m_chkSaveEveryTime->isChecked() ? 1 : 0;
}

void CTulkDlg::OnThreadedComms() {
    g_bThreadedComms = m_chkThreaded->isChecked() ? 1 : 0;
}
