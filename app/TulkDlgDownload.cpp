// The main window's download and erase column: Get All Files with its worker
// per picture, Only New, Get Last, Delete Last, Delete All Images and the
// save folder.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "MessageBoxes.h"
#include "Settings.h"
#include "TulkDlg.h"
#include "TulkState.h"
#include "activity_log.h"
#include "camera_ops.h"
#include "download.h"
#include "link_buffer.h"
#include "platform/debug_output.h"

namespace {

constexpr long kNameSize = 256;

// The name register of the selected picture, or nothing when it cannot be
// read. The caller holds the link.
bool ReadPictureName(std::string* name) {
    LinkBuffer buffer(g_iob, kNameSize);
    if (!buffer.data) {
        return false;
    }
    long length = kNameSize;
    if (eph_getvar(g_iob, C990_FRAMENAME, &buffer.data, &length) != 0) {
        return false;
    }
    *name = PlainPictureName(buffer.data, length);
    return true;
}

std::string MadeUpName(const char* format, int number) {
    char name[32];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

// The worker of Get All Files for one picture.
void DownloadThread(CTulkDlg* window, int index) {
    if (!g_bConnected) {
        g_bDownloading = 0;
        return;
    }
    QMetaObject::invokeMethod(window, "ShowDownloadWindow", Qt::QueuedConnection,
                              Q_ARG(bool, true));
    {
        std::lock_guard lock(LinkLock());
        // Connect or quit may have closed the link while we were starting.
        if (g_bConnected) {
            const int number = index + 1;
            std::string name;
            if (eph_setint(g_iob, C990_CURRENTFRAME, number) != 0) {
                WriteLog("TulkDlg", __LINE__, "Failed to get current frame number");
            } else if (!ReadPictureName(&name)) {
                WriteLog("TulkDlg", __LINE__, "Failed to get name from camera");
            }
            if (name.empty()) {
                name = MadeUpName("dscn%04d.jpg", number);
            }
            char line[300];
            std::snprintf(line, sizeof line, "Downloading pic %i (%s)\r\n", number, name.c_str());
            debug_output(line);
            DownloadPicture(g_iob, name.c_str(), number);
        }
    }
    QMetaObject::invokeMethod(window, "ShowDownloadWindow", Qt::QueuedConnection,
                              Q_ARG(bool, false));
    g_bDownloading = 0;
}

}  // namespace

std::string PlainPictureName(const unsigned char* bytes, long length) {
    std::string name;
    for (long i = 0; i < length && bytes[i] != 0 && name.size() < kNameSize - 1; ++i) {
        name.push_back(static_cast<char>(bytes[i]));
    }
    // The name becomes a file in the save folder: anything that could
    // reach outside it, or that no file can carry, is not used.
    if (name.empty() || name == "." || name == "..") {
        return {};
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) {
            return {};
        }
    }
    return name;
}

int AlreadyDownloaded(int index) {
    std::lock_guard lock(LinkLock());
    const int number = index + 1;
    if (eph_setint(g_iob, C990_CURRENTFRAME, number) != 0) {
        return 0;
    }
    std::string name;
    if (!ReadPictureName(&name)) {
        return 0;
    }
    // A name we would not use is looked for under the one the worker gives.
    if (name.empty()) {
        name = MadeUpName("dscn%04d.jpg", number);
    }
    if (!QFileInfo::exists(QString::fromStdString(name))) {
        return 0;
    }
    char line[300];
    std::snprintf(line, sizeof line, "Skipping pic %i (%s)\r\n", number, name.c_str());
    debug_output(line);
    return 1;
}

void GetLastPicture() {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return;
    }
    const int count = GetFrameCount(g_iob);
    if (count == 0) {
        return;
    }
    // No picture is selected first: after a capture the camera has the new
    // one selected.
    std::string name;
    if (!ReadPictureName(&name)) {
        WriteLog("TulkDlg", __LINE__, "Failed to get name from camera");
    }
    if (name.empty()) {
        name = MadeUpName("dsn%04d.jpg", count);
    }
    const int downloaded = DownloadPicture(g_iob, name.c_str(), count);
    if (g_bTakingPicture != 1) {
        return;
    }
    // A picture that did not reach the folder stays on the camera.
    if (downloaded != 0) {
        return;
    }
    if (GetFrameCount(g_iob) != 0 && g_bDeleteAfterDownload) {
        const unsigned char arg = 0;
        if (eph_action(g_iob, ERASELAST, &arg, 1) != 0) {
            WriteLog("TulkDlg", __LINE__, "ERASELAST failed");
        }
    }
}

void CTulkDlg::OnGetAllFiles() {
    if (!g_bConnected) {
        return;
    }
    const int count = GetFrameCount(g_iob);
    for (int index = 0; index < count; ++index) {
        while (g_bDownloading) {
            if (m_wndDownloading) {
                m_wndDownloading->repaint();
            }
            QThread::msleep(10);
            PumpWaitingMessage();
        }
        // The user may have connected again or quit while we waited.
        if (!g_bConnected || m_bDestroyed) {
            return;
        }
        if (g_bOnlyNew && AlreadyDownloaded(index)) {
            continue;
        }
        if (m_downloadThread.joinable()) {
            m_downloadThread.join();
        }
        g_bDownloading = 1;
        m_downloadThread = std::thread(DownloadThread, this, index);
        QThread::msleep(100);
        PumpWaitingMessage();
    }
}

void CTulkDlg::JoinDownloadThread(QEventLoop::ProcessEventsFlags flags) {
    while (g_bDownloading) {
        QCoreApplication::processEvents(flags);
        QThread::msleep(5);
    }
    if (m_downloadThread.joinable()) {
        m_downloadThread.join();
    }
    // The worker's last requests to the window.
    QCoreApplication::processEvents(flags);
}

void CTulkDlg::ShowDownloadWindow(bool show) {
    if (show) {
        if (!m_wndDownloading) {
            auto* indicator = new QDialog(this);
            indicator->setObjectName(QStringLiteral("IDD_DOWNLOADING"));
            indicator->setWindowTitle(QStringLiteral("Downloading Picture"));
            indicator->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
            indicator->setModal(false);
            auto* bar = new QProgressBar(indicator);
            bar->setProperty("id", 1024);
            // Nothing measures a download's progress: the bar only shows
            // that one is running.
            bar->setRange(0, 0);
            bar->setTextVisible(false);
            auto* layout = new QVBoxLayout(indicator);
            layout->addWidget(bar);
            indicator->setFixedSize(281, 38);
            m_wndDownloading = indicator;
        }
        m_wndDownloading->show();
        m_wndDownloading->repaint();
        if (!m_bDownloadCursor) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_bDownloadCursor = true;
        }
    } else {
        if (m_wndDownloading) {
            m_wndDownloading->hide();
        }
        if (m_bDownloadCursor) {
            QApplication::restoreOverrideCursor();
            m_bDownloadCursor = false;
        }
    }
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
    QApplication::setOverrideCursor(Qt::WaitCursor);
    GetLastPicture();
    QApplication::restoreOverrideCursor();
}

void CTulkDlg::OnDeleteLast() {
    if (!g_bConnected || GetFrameCount(g_iob) == 0) {
        return;
    }
    int status = 0;
    {
        std::lock_guard lock(LinkLock());
        const unsigned char arg = 0;
        status = eph_action(g_iob, ERASELAST, &arg, 1);
    }
    if (status != 0) {
        WriteLog("TulkDlg", __LINE__, "ERASELAST failed");
        return;
    }
    RefreshCounters();
}

void CTulkDlg::OnDeleteAll() {
    if (!g_bConnected || GetFrameCount(g_iob) == 0) {
        return;
    }
    if (AreYouSure() != 1) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int status = 0;
    {
        std::lock_guard lock(LinkLock());
        const unsigned char arg = 0;
        status = eph_action(g_iob, ERASEALL, &arg, 1);
    }
    if (status != 0) {
        WriteLog("TulkDlg", __LINE__, "ERASEALL failed");
    } else {
        RefreshCounters();
    }
    QApplication::restoreOverrideCursor();
}

void CTulkDlg::OnSaveFolderEdited() {
    std::string text = m_editSaveFolder->GetText().toStdString();
    SettingString("SaveFolder", &text, 1);
    SettingString("SaveFolder", &text, 0);
    // A folder that does not exist leaves the current folder where it was.
    if (!text.empty()) {
        QDir::setCurrent(QString::fromStdString(text));
    }
}
