// The main window's download and erase column: Get All Files with its worker
// per picture, Only New, Get Last, Delete Last, Delete All Images and the
// save folder.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <mutex>
#include <string>

#include "app/MessageBoxes.h"
#include "app/ProgressWindow.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/picture_steps.h"
#include "log/activity_log.h"

namespace {

// The picture count, 0 without a link (Connect or quit may have closed it
// while the job waited its turn). Camera thread.
int FrameCountIfConnected() {
    return g_bConnected ? GetFrameCount(g_iob) : 0;
}

}  // namespace

int AlreadyDownloaded(int index, const std::string& folder) {
    return PictureAlreadyDownloaded(g_iob, index + 1, folder) ? 1 : 0;
}

int GetLastPicture(const std::string& folder, std::string* saved) {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return -1;
    }
    return DownloadNewestPicture(g_iob, folder, saved);
}

void CTulkDlg::OnGetAllFiles() {
    if (!g_bConnected || m_bGettingAll) {
        return;
    }
    const int count = CameraWait(FrameCountIfConnected);
    if (count <= 0 || !g_bConnected || m_bDestroyed) {
        return;
    }
    // The window stays up for the whole run and is the one the user may
    // work with meanwhile: its Cancel stops after the picture in hand.
    m_bGettingAll = true;
    ForgetSaveFailures();
    m_nGetAllNext = 0;
    m_nGetAllCount = count;
    CProgressWindow* progress = DownloadingWindow();
    progress->setWindowModality(Qt::ApplicationModal);
    progress->Begin(QStringLiteral("Downloading pictures into the save folder"), true);
    // Over the window that waits, not over the Cancel button.
    setCursor(Qt::WaitCursor);
    NextDownload();
}

void CTulkDlg::NextDownload() {
    if (m_nGetAllNext >= m_nGetAllCount || !g_bConnected) {
        EndGetAllFiles();
        return;
    }
    const int index = m_nGetAllNext++;
    DownloadingWindow()->SetItem(index + 1, m_nGetAllCount);
    g_bDownloading = 1;
    const bool onlyNew = g_bOnlyNew != 0;
    const std::string folder = SaveFolderPath();
    const bool queued = CameraPost(
        [index, onlyNew, folder] {
            if (!g_bConnected || (onlyNew && AlreadyDownloaded(index, folder))) {
                return;
            }
            DownloadNumberedPicture(g_iob, index + 1, folder);
        },
        [this] {
            g_bDownloading = 0;
            NextDownload();
        });
    if (!queued) {
        g_bDownloading = 0;
        EndGetAllFiles();
    }
}

void CTulkDlg::EndGetAllFiles() {
    if (!m_bGettingAll) {
        return;
    }
    m_bGettingAll = false;
    m_nGetAllNext = m_nGetAllCount = 0;
    DownloadingWindow()->End();
    DownloadingWindow()->setWindowModality(Qt::NonModal);
    unsetCursor();
}

void CTulkDlg::OnOnlyNew() {
    g_bOnlyNew = m_chkOnlyNew->isChecked() ? 1 : 0;
}

void CTulkDlg::OnGetLast() {
    if (!g_bConnected) {
        return;
    }
    g_nUploadToFtp = UploadFtpState();
    g_bDeleteAfterDownload = m_chkDeleteAfter->isChecked() ? 1 : 0;
    DownloadingWindow()->Begin(QStringLiteral("Downloading the newest picture"), false);
    const std::string folder = SaveFolderPath();
    ForgetSaveFailures();
    CameraWait([&folder] { GetLastPicture(folder); });
    DownloadingWindow()->End();
}

void CTulkDlg::OnDeleteLast() {
    if (!g_bConnected) {
        return;
    }
    const bool erased = CameraWait([] {
        // An erase whose answer was lost is not sent again blindly: it
        // could erase a second picture.
        return g_bConnected && EraseLastChecked(g_iob) == CameraChange::Done;
    });
    if (erased) {
        RefreshCounters();
    }
}

void CTulkDlg::OnDeleteAll() {
    if (!g_bConnected) {
        return;
    }
    const int count = CameraWait(FrameCountIfConnected);
    if (count == 0 || !g_bConnected) {
        return;
    }
    // A count the camera would not give reads as every picture.
    const QString howMany =
        count < 0    ? QStringLiteral("Every picture on the camera will be erased.")
        : count == 1 ? QStringLiteral("1 picture will be erased from the camera.")
                     : QStringLiteral("%1 pictures will be erased from the camera.").arg(count);
    if (AreYouSure(howMany) != 1 || !g_bConnected) {
        return;
    }
    const bool erased =
        CameraWait([] { return g_bConnected && CameraAction(ERASEALL, 0, "ERASEALL failed"); });
    if (erased) {
        RefreshCounters();
    }
}

void CTulkDlg::OnSaveFolderEdited() {
    const QString typed = m_editSaveFolder->GetText();
    // An empty field stands for the pictures folder; a relative name is
    // taken from where pictures go now.
    const QString folder = typed.isEmpty() ? DefaultSaveFolder() : QDir(typed).absolutePath();
    QString why;
    if (!UseSaveFolder(folder, &why)) {
        SaveFolderRefused(folder, why);
        m_editSaveFolder->SetText(m_strFolderInUse);
        return;
    }
    SetFolderInUse(folder);
    std::string text = typed.isEmpty() ? std::string() : folder.toStdString();
    SettingString("SaveFolder", &text, 1);
    if (typed != folder) {
        m_editSaveFolder->SetText(folder);
    }
}
