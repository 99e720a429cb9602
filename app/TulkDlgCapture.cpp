// The main window's picture taking: one picture, the time lapse with its
// picture steps on the camera thread, and the counters.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <string>

#include "app/LinkHealth.h"
#include "app/ProgressWindow.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/picture_steps.h"
#include "camera/transfer_progress.h"
#include "ftp/FtpUpload.h"
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
    m_nLastStepMs = 0;
    m_nTimeLapseInterval = interval;
    m_strRunOutage.clear();
    m_bRunOutage = false;
    m_strJournal.clear();
    RunSettings settings;
    settings.interval = std::chrono::milliseconds(interval);
    settings.saveEveryTime = g_bSaveEveryTime != 0;
    settings.deleteAfter = g_bDeleteAfterDownload != 0;
    settings.folder = SaveFolderPath();
    settings.focusMode = g_nFocusMode;
    // Save Every Time and Delete After Download are read at each tick, as
    // the boxes may change while the run goes on.
    settings.readAtTick = [] {
        return std::make_pair(g_bSaveEveryTime != 0, g_bDeleteAfterDownload != 0);
    };
    settings.about = {{"program", "tulk"},
                      {"camera", m_strModel.toStdString()},
                      {"connection", m_strConnected.toStdString()}};
    m_runTimeLapse.Start(settings, [this](RunEvent& event) { OnRunEvent(event); });
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
    // A run whose camera is lost is stopped as well.
    if (g_bTimeLapseRunning && (g_bConnected || m_bRunOutage)) {
        m_runTimeLapse.Stop();
        g_bTimeLapseRunning = 0;
        ShowStatus();
    }
}

bool CTulkDlg::CWindowRunCamera::RunOnLink(const std::function<void()>& work) {
    // The run's thread waits here for the camera thread, never for the
    // window: the job's end is told through the promise, not the window.
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();
    g_bTakingPicture = 1;
    const bool posted = m_window.m_camera.Post(
        [this, &work, finished] {
            const auto started = std::chrono::steady_clock::now();
            work();
            m_window.m_nLastStepMs = StepMs(started);
            const CameraCounters counters = ReadCounters();
            // With publishing, the step ends once the picture is published
            // (StepEnded): uploads never overlap.
            if (g_nUploadToFtp != 1) {
                g_bTakingPicture = 0;
            }
            QMetaObject::invokeMethod(
                &m_window,
                [this, counters] {
                    m_window.ShowCounters(counters);
                    if (m_window.m_wndTakingPicture) {
                        m_window.m_wndTakingPicture->End();
                    }
                },
                Qt::QueuedConnection);
            finished->set_value();
        },
        &m_window);
    if (!posted) {
        g_bTakingPicture = 0;
        return false;
    }
    done.wait();
    return true;
}

eph_iob* CTulkDlg::CWindowRunCamera::Link() {
    return g_bConnected ? g_iob : nullptr;
}

bool CTulkDlg::CWindowRunCamera::Reopen() {
    std::lock_guard lock(LinkLock());
    // Until the camera answers again the window has no link: its handlers
    // do nothing, as when no camera is connected.
    g_bConnected = 0;
    if (g_iob) {
        eph_close(g_iob, 0);
        eph_free(g_iob);
        g_iob = nullptr;
    }
    LinkHealthReset();
    g_bUseUsb = m_nUseUsb;
    g_iob = eph_open(m_nPort, m_nSpeed);
    if (!g_iob) {
        return false;
    }
    g_iob->progress_cb = TransferProgressCallback;
    g_iob->error_cb = LinkHealthErrorCallback;
    g_bConnected = 1;
    return true;
}

void CTulkDlg::OnRunEvent(RunEvent& event) {
    if (event.kind == RunEvent::Tick) {
        g_bTakingPicture = 1;
    }
    // Publishing runs here, on the run's thread, never with the link held
    // and never waiting for the window: the next tick waits for it, so
    // uploads never overlap.
    if (event.kind == RunEvent::PictureSaved && g_nUploadToFtp == 1 && g_bTimeLapseRunning == 1) {
        std::string reason;
        const FtpResult result =
            FtpUploadLastPicture(event.path.c_str(), &reason, m_ftp.AbortFlag());
        if (result == FtpResult::NoSettings) {
            g_nUploadToFtp = 0;
        }
        event.published = result == FtpResult::Published    ? std::string("published")
                          : result == FtpResult::NoSettings ? "off: " + reason
                                                            : "failed: " + reason;
        QMetaObject::invokeMethod(
            this, [this, result, reason] { ShowPublication(result, reason); },
            Qt::QueuedConnection);
    }
    if (event.kind == RunEvent::StepEnded || event.kind == RunEvent::Ended) {
        g_bTakingPicture = 0;
    }
    QMetaObject::invokeMethod(
        this, [this, event] { ShowRunEvent(event); }, Qt::QueuedConnection);
}

void CTulkDlg::ShowRunEvent(const RunEvent& event) {
    switch (event.kind) {
        case RunEvent::Tick:
            if (g_bTimeLapseRunning && g_bTakingPicture) {
                TakingPictureWindow()->Begin(QStringLiteral("Taking picture , please wait"), false);
            }
            break;
        case RunEvent::CameraLost:
            m_bRunOutage = true;
            m_strRunOutage = QString::fromStdString(event.text);
            if (m_wndTakingPicture) {
                m_wndTakingPicture->End();
            }
            break;
        case RunEvent::CameraBack:
            m_bRunOutage = false;
            m_strRunOutage = QString::fromStdString(event.text);
            m_bLinkFailing = false;
            break;
        case RunEvent::Ended:
            m_bRunOutage = false;
            if (m_wndTakingPicture) {
                m_wndTakingPicture->End();
            }
            break;
        case RunEvent::Journal:
            m_strJournal = QString::fromStdString(event.path);
            break;
        case RunEvent::StepEnded:
            if (m_wndTakingPicture) {
                m_wndTakingPicture->End();
            }
            break;
        case RunEvent::PictureSaved:
        case RunEvent::StepFailed:
        case RunEvent::TickDropped:
            break;
    }
    ShowLinkState();
}

void CTulkDlg::StopPictureWork() {
    m_runTimeLapse.Stop();
    g_bTimeLapseRunning = 0;
    m_bRunOutage = false;
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
