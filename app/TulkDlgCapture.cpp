// The main window's picture taking: one picture, the time lapse with its
// picture steps on the camera thread, and the counters.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/ProgressWindow.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/picture_steps.h"
#include "link/eph.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"

namespace {

constexpr int kShortestInterval = 100;

// The capture without its connection test, for the picture step, which
// works on the link its window opened.
bool Capture() {
    return CaptureOnLink(g_iob, g_nFocusMode);
}

long StepMs(std::chrono::steady_clock::time_point started) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count());
}

}  // namespace

bool CameraAction(int action, unsigned char arg, const char* failedLine) {
    return CameraActionOnLink(g_iob, action, arg, failedLine);
}

void TakePicture() {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return;
    }
    Capture();
}

std::int32_t GetAvailMemory() {
    return ReadAvailMemory(g_iob);
}

CameraCounters ReadCounters() {
    std::lock_guard lock(LinkLock());
    CameraCounters counters;
    if (!g_bConnected) {
        return counters;
    }
    counters.pictures = GetFrameCount(g_iob);
    counters.framesLeft = GetFramesLeft();
    counters.availMem = GetAvailMemory();
    return counters;
}

void CTulkDlg::OnTakePicture() {
    if (!g_bConnected) {
        return;
    }
    const CameraCounters counters = CameraWait([] {
        TakePicture();
        return ReadCounters();
    });
    ShowCounters(counters);
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
    ForgetSaveFailures();
    m_nTimeLapsePictures = 0;
    m_nLastStepMs = 0;
    m_nTimeLapseInterval = interval;
    m_clockTimeLapse.Start(std::chrono::milliseconds(interval), [this] { TimeLapseTimerProc(); });
    g_bTimeLapseRunning = 1;
    ShowStatus();
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
        m_clockTimeLapse.Stop();
        g_bTimeLapseRunning = 0;
        ShowStatus();
    }
}

void CTulkDlg::TimeLapseTimerProc() {
    // The previous picture is still being taken: this tick is dropped,
    // never queued.
    int expected = 0;
    if (!g_bTakingPicture.compare_exchange_strong(expected, 1)) {
        ++m_nDroppedTicks;
        debug_output("Time lapse tick dropped: the previous picture is not done\r\n");
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (g_bTakingPicture) {
                TakingPictureWindow()->Begin(QStringLiteral("Taking picture , please wait"), false);
            }
        },
        Qt::QueuedConnection);
    auto counters = std::make_shared<CameraCounters>();
    auto taken = std::make_shared<bool>(false);
    // The picture to publish once the camera work is done, if any.
    auto publish = std::make_shared<std::string>();
    auto started = std::make_shared<std::chrono::steady_clock::time_point>();
    const std::string folder = SaveFolderPath();
    const bool queued = CameraPost(
        [this, counters, folder, taken, publish, started] {
            *started = std::chrono::steady_clock::now();
            *taken = Capture();
            const auto elapsed =
                static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - *started)
                                               .count());
            // Only a picture that reached the folder is published, and only
            // after the camera is done with it (erased or not).
            std::string saved;
            if (g_bSaveEveryTime && GetLastPicture(true, folder, &saved) == 0 &&
                g_nUploadToFtp == 1 && g_bTimeLapseRunning == 1) {
                *publish = saved;
            }
            char line[128];
            std::snprintf(line, sizeof line, "Time to take picture %lu ,secs %lu\r\n", elapsed,
                          elapsed / 1000);
            debug_output(line);
            // The whole step, download included: what stretches the interval.
            m_nLastStepMs = StepMs(*started);
            *counters = ReadCounters();
        },
        [this, counters, taken, publish, started] {
            if (*taken) {
                ++m_nTimeLapsePictures;
            }
            ShowCounters(*counters);
            // The step ends, and the next may begin, once the picture is
            // published: uploads never overlap.
            auto end = [this, publish, started] {
                if (!publish->empty()) {
                    m_nLastStepMs = StepMs(*started);
                }
                if (m_wndTakingPicture) {
                    m_wndTakingPicture->End();
                }
                g_bTakingPicture = 0;
            };
            if (publish->empty()) {
                end();
            } else {
                PublishLastPicture(*publish, end);
            }
        });
    if (!queued) {
        g_bTakingPicture = 0;
    }
}

void CTulkDlg::StopPictureWork() {
    m_clockTimeLapse.Stop();
    g_bTimeLapseRunning = 0;
    ShowStatus();
    // Get All Files queues no further picture.
    m_nGetAllCount = m_nGetAllNext;
}

void CTulkDlg::RefreshCounters() {
    if (!g_bConnected) {
        return;
    }
    ShowCounters(CameraWait([] { return ReadCounters(); }));
}

void CTulkDlg::ShowCounters(const CameraCounters& counters) {
    if (!g_bConnected) {
        return;
    }
    m_editPictures->setText(QString::number(counters.pictures));
    m_editFramesLeft->setText(QString::number(counters.framesLeft));
    m_editAvailMem->setText(QString::number(counters.availMem));
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
