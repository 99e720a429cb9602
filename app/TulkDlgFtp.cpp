// The main window's FTP publishing: the "FTP Settings" button and the
// upload of each time-lapse picture, on the FTP thread once the camera work
// of its step is done.
#include <QCheckBox>
#include <QTime>
#include <memory>
#include <string>

#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "ftp/FtpDlg.h"
#include "ftp/FtpUpload.h"

void CTulkDlg::OnFtpSettings() {
    CFtpDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    // A store that refuses one setting gets none of those after it, and
    // publishing stops until the next Run Time Lapse or Get Last finds the
    // box checked; the check mark stays as the user left it.
    if (!dialog.StoreSettings()) {
        g_nUploadToFtp = 0;
        m_chkUploadFtp->setDown(false);
    }
}

void CTulkDlg::ShowPublication(FtpResult result, const std::string& reason) {
    const QString when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const QString why = QString::fromStdString(reason);
    switch (result) {
        case FtpResult::Published:
            m_strLastPublication = QStringLiteral("FTP %1: published").arg(when);
            break;
        case FtpResult::NoSettings:
            m_strLastPublication = QStringLiteral("FTP %1: off, %2").arg(when, why);
            break;
        case FtpResult::Failed:
            m_strLastPublication = QStringLiteral("FTP %1: failed: %2").arg(when, why);
            break;
    }
    ShowStatus();
}

void CTulkDlg::PublishLastPicture(const std::string& path, std::function<void()> finished) {
    auto result = std::make_shared<FtpResult>(FtpResult::Failed);
    auto reason = std::make_shared<std::string>();
    const std::atomic<bool>* abort = m_ftp.AbortFlag();
    const bool posted = m_ftp.Post(
        [path, result, reason, abort] {
            *result = FtpUploadLastPicture(path.c_str(), reason.get(), abort);
            // Off until the box is read again.
            if (*result == FtpResult::NoSettings) {
                g_nUploadToFtp = 0;
            }
        },
        this,
        [this, result, reason, finished] {
            ShowPublication(*result, *reason);
            finished();
        });
    if (!posted) {
        finished();
    }
}
