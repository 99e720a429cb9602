// The main window's upload: files dropped on the window and "Select File"
// send a picture file to the camera, which stores it as a picture.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

#include "app/MessageBoxes.h"
#include "app/ProgressWindow.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/transfer_progress.h"
#include "link/eph.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"

namespace {

// The file dialog shows the description; what follows it in parentheses
// is what Qt filters by (patterns apart by blanks, not by semicolons).
struct FileType {
    const char* description;
    const char* patterns;
};
constexpr FileType kFileTypes[] = {
    {"Supported Files Types(*.jpg;*.tif)", "*.jpg *.tif"},
    {"JPEG Files (*.jpg)", "*.jpg"},
    {"TIFF (*.tif)", "*.tif"},
};

constexpr std::chrono::milliseconds kDropRetry{100};

void TulkError(QWidget* owner, const char* text, const std::string& reason = std::string()) {
    AskUser(owner,
            BoxQuestion{QStringLiteral("Tulk Error"), QString::fromUtf8(text), QMessageBox::NoIcon,
                        QMessageBox::Ok, QMessageBox::NoButton, QString::fromStdString(reason)});
}

// The frames left, 0 without a link, which counts as none. Camera thread.
int FramesLeftIfConnected() {
    return g_bConnected ? GetFramesLeft() : 0;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int UploadFile(const std::string& path, std::string* reason) {
    // Why, for the user, in the box beneath "Failed to upload file!".
    auto refuse = [reason](std::string why) {
        if (reason) {
            *reason = std::move(why);
        }
        return -1;
    };
    std::error_code error;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
    if (error) {
        WriteLog("TulkDlg", __LINE__, "File doesnt exist");
        return refuse("The file does not exist.");
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        const int openError = errno;
        WriteLog("TulkDlg", __LINE__, path.c_str());
        return refuse("The file cannot be opened: " + std::string(std::strerror(openError)) + ".");
    }
    const long long size = fileSize > static_cast<std::uintmax_t>(LLONG_MAX)
                               ? LLONG_MAX
                               : static_cast<long long>(fileSize);
    if (size == 0) {
        WriteLog("TulkDlg", __LINE__, "Zero length file");
        return refuse("The file is empty.");
    }
    // The link sends at most what a long counts.
    std::unique_ptr<unsigned char[]> block;
    if (size > 0 && size <= LONG_MAX) {
        block.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(size)]);
    }
    if (!block) {
        WriteLog("TulkDlg", __LINE__, "Out of mem");
        return refuse("There is not enough memory to read the file.");
    }
    if (std::fread(block.get(), 1, static_cast<std::size_t>(size), file.get()) !=
        static_cast<std::size_t>(size)) {
        std::snprintf(g_szErrorText, kErrorTextSize, "Bad read from %s", path.c_str());
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return refuse("The file could not be read to its end.");
    }

    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return refuse("The camera is not connected.");
    }
    CurrentTransfer().Begin(path, 0);
    std::int32_t avail = 0;
    if (eph_getint(g_iob, AVAILMEM, &avail) != 0) {
        WriteLog("TulkDlg", __LINE__, "AVAILMEM");
        return refuse("The camera did not say how much room it has.");
    }
    // The camera counts its free memory in a signed 32-bit value; the file's
    // size is compared whole, so a file of 2 GiB or more never passes.
    if (static_cast<long long>(avail) < size) {
        std::snprintf(g_szErrorText, kErrorTextSize,
                      "upload free memory %lu less than file size%lu",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(avail)),
                      static_cast<unsigned long>(size));
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return refuse("The file (" + std::to_string(size) +
                      " bytes) is larger than the camera's free memory (" +
                      std::to_string(avail < 0 ? 0 : avail) + " bytes).");
    }
    if (eph_setint(g_iob, C990_MAGIC, static_cast<std::int32_t>(C990_MAGIC_ARM)) != 0) {
        WriteLog("TulkDlg", __LINE__, "C990_MAGIC");
        return refuse("The camera refused to take an upload.");
    }
    CurrentTransfer().Begin(path, static_cast<long>(size));
    if (eph_setvar(g_iob, C990_UPLOAD, block.get(), static_cast<long>(size)) != 0) {
        WriteLog("TulkDlg", __LINE__, "C990_UPLOAD failed");
        return refuse("The camera did not take the file's bytes.");
    }
    if (!CameraAction(C2_STORE, 0, "C2_STORE")) {
        return refuse("The camera did not store the file.");
    }
    return 0;
}

void CTulkDlg::OnDropFiles(const QStringList& drop) {
    if (!g_bConnected) {
        return;
    }
    // A box or dialog is up over the window (not the window itself, which
    // the program runs modally): the files wait until it has been answered.
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this) {
        QTimer::singleShot(kDropRetry, this, [this, drop] { OnDropFiles(drop); });
        return;
    }
    // A drop that arrives while a file is being sent waits its turn.
    if (m_bUploading) {
        m_pendingDrops.push_back(drop);
        return;
    }
    // A handler is waiting for the camera, or Get All Files runs: the files
    // go when that is over.
    if (m_nCameraWaits > 0 || m_bGettingAll) {
        QTimer::singleShot(kDropRetry, this, [this, drop] { OnDropFiles(drop); });
        return;
    }
    m_pendingDrops.push_back(drop);
    UploadPendingDrops();
}

void CTulkDlg::UploadPendingDrops() {
    m_bUploading = true;
    while (!m_pendingDrops.empty()) {
        const QStringList paths = m_pendingDrops.front();
        m_pendingDrops.pop_front();
        for (const QString& path : paths) {
            // The user may have connected again or quit while a file went.
            if (!g_bConnected || m_bDestroyed) {
                m_pendingDrops.clear();
                break;
            }
            const std::string file = path.toStdString();
            char line[4200];
            std::snprintf(line, sizeof line, "File dropped %s\r\n", file.c_str());
            debug_output(line);
            if (CameraWait(FramesLeftIfConnected) <= 0) {
                TulkError(this, "Camera is out of memory!");
                break;
            }
            std::string reason;
            if (UploadWithProgress(file, &reason) == -1) {
                TulkError(this, "Failed to upload file!", reason);
                break;
            }
            RefreshCounters();
        }
    }
    m_bUploading = false;
}

int CTulkDlg::UploadWithProgress(const std::string& path, std::string* reason) {
    // A large file takes minutes on a serial line: the window keeps
    // painting and shows how far it has got, but takes no input until the
    // upload has ended.
    DownloadingWindow()->Begin(QStringLiteral("Uploading to the camera"), false);
    // Not run at all (the window is closing) is not a success.
    int result = -1;
    CameraWait([&path, &result, reason] { result = UploadFile(path, reason); });
    DownloadingWindow()->End();
    return result;
}

QString CTulkDlg::ChooseFile() {
    QStringList filters;
    for (const FileType& type : kFileTypes) {
        filters << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(type.description),
                                                 QString::fromLatin1(type.patterns));
    }
    QFileDialog dialog(nullptr, QStringLiteral("Open File"));
    dialog.setObjectName(QStringLiteral("ChooseFile"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The list shows each type's description alone.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

void CTulkDlg::OnSelectFile() {
    if (!g_bConnected || m_bUploading) {
        return;
    }
    const QString path = ChooseFile();
    if (path.isEmpty() || !g_bConnected) {
        return;
    }
    if (CameraWait(FramesLeftIfConnected) < 2) {
        TulkError(this, "Not enough memory!");
        return;
    }
    m_bUploading = true;
    std::string reason;
    if (UploadWithProgress(path.toStdString(), &reason) == -1) {
        TulkError(this, "Failed to upload file!", reason);
    } else {
        RefreshCounters();
    }
    m_bUploading = false;
    if (!m_pendingDrops.empty()) {
        UploadPendingDrops();
    }
}
