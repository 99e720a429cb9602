// The main window's connection: Connect, the save folder and the serial
// settings.
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "app/LinkHealth.h"
#include "app/MessageBoxes.h"
#include "app/SerialSetup.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/transfer_progress.h"
#include "link/eph.h"
#include "log/activity_log.h"
#include "log/platform/last_error.h"

namespace {

// Why eph_open gave no link, in words: the device the port stands for
// could not be opened, or the camera behind it did not answer.
std::string ConnectFailure(bool usb, int port, const std::string& device, int error) {
    if (usb) {
        return "no camera answered on USB";
    }
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EACCES:
        case EPERM:
        case EBUSY:
        case ENOTTY:
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
            return "COM" + std::to_string(port) + " (" + device + "): " + std::strerror(error);
        default:
            return "the camera did not answer at 19200 baud";
    }
}

}  // namespace

void CloseLink() {
    std::lock_guard lock(LinkLock());
    if (g_iob) {
        eph_close(g_iob, 1);
        eph_free(g_iob);
        g_iob = nullptr;
    }
    g_bConnected = 0;
}

void CTulkDlg::OnConnect() {
    // No new picture step or download: those queued finish on the old link
    // before the camera thread closes it.
    StopPictureWork();

    const std::int32_t useUsb = m_chkUseUsb->isChecked() ? 1 : 0;
    std::int32_t stored = useUsb;
    SettingDword("UseUSB", &stored, 1);
    std::int32_t port = 1;
    if (SettingDword("SerialPort", &port, 0) != 1) {
        port = 1;
    }
    std::int32_t position = 1;
    if (SettingDword("SerialSpeed", &position, 0) != 1) {
        position = 1;
    }
    const long speed = eph_speedofcode(position);
    const std::string device = eph_portdevice(port);

    m_strConnectFailure.clear();
    m_labelStatus->setText(useUsb ? QStringLiteral("Connecting on USB...")
                                  : QStringLiteral("Connecting on COM%1 (%2)...")
                                        .arg(port)
                                        .arg(QString::fromStdString(device)));
    std::string failure;
    const bool connected = CameraWait([useUsb, port, speed, &device, &failure] {
        CloseLink();
        LinkHealthReset();
        g_bUseUsb = useUsb;
        sys_setlasterror(0);
        g_iob = eph_open(port, speed);
        if (!g_iob) {
            failure = ConnectFailure(useUsb != 0, port, device, sys_lasterror());
            return false;
        }
        g_iob->progress_cb = TransferProgressCallback;
        g_iob->error_cb = LinkHealthErrorCallback;
        g_bConnected = 1;
        return true;
    });
    m_bLinkFailing = false;
    // A time lapse's lost camera is opened again as this Connect opened it.
    m_runCamera.m_nUseUsb = useUsb;
    m_runCamera.m_nPort = port;
    m_runCamera.m_nSpeed = speed;
    if (!connected) {
        // Nothing of the camera before may pass for this one.
        m_strConnectFailure =
            QString::fromStdString(failure.empty() ? "the window is closing" : failure);
        m_strConnected.clear();
        WriteLog("TulkDlg", __LINE__, ("Connect failed: " + failure).c_str());
        ClearCameraFields();
        ShowLinkState();
        return;
    }
    const QString place = useUsb ? QStringLiteral("USB")
                                 : QStringLiteral("COM%1 (%2) at %3 baud")
                                       .arg(port)
                                       .arg(QString::fromStdString(device))
                                       .arg(speed == 0 ? 9600 : speed);
    m_strConnected = QStringLiteral("Connected on %1").arg(place);
    ShowLinkState();
    RefreshCounters();
    SetSaveFolder(QString());
    RefreshZoom();
    OnGetInfo();
    const QString model = m_strModel.isEmpty() ? QStringLiteral("camera") : m_strModel;
    m_strConnected = QStringLiteral("Connected: %1 on %2").arg(model, place);
    ShowLinkState();
}

void CTulkDlg::SetSaveFolder(const QString& folder) {
    QString text = folder;
    if (text.isEmpty()) {
        std::string stored;
        if (SettingString("SaveFolder", &stored, 0) == 0) {
            text = QString::fromStdString(stored);
        }
    }
    if (text.isEmpty()) {
        text = DefaultSaveFolder();
    }
    // A relative name, stored by an older Tulk, counts from where the
    // program started, not from where pictures went last.
    if (QDir::isRelativePath(text)) {
        text = QDir(m_strStartFolder).absoluteFilePath(text);
    }
    QString why;
    if (UseSaveFolder(text, &why)) {
        SetFolderInUse(text);
    } else {
        SaveFolderRefused(text, why);
    }
    m_editSaveFolder->SetText(m_strFolderInUse);
}

void CTulkDlg::SetFolderInUse(const QString& folder) {
    m_strFolderInUse = folder;
    std::lock_guard lock(m_folderMutex);
    m_strFolderPath = QDir(folder).absolutePath().toStdString() + "/";
}

std::string CTulkDlg::SaveFolderPath() const {
    std::lock_guard lock(m_folderMutex);
    return m_strFolderPath;
}

QString CTulkDlg::DefaultSaveFolder() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) {
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    }
    return pictures + QStringLiteral("/Tulk");
}

bool CTulkDlg::UseSaveFolder(const QString& folder, QString* why) {
    const std::filesystem::path path(folder.toStdString());
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        std::filesystem::create_directories(path, error);
        if (error) {
            *why = QStringLiteral("It cannot be made: %1.")
                       .arg(QString::fromStdString(error.message()));
            return false;
        }
    }
    if (!std::filesystem::is_directory(path, error)) {
        *why = QStringLiteral("Something that is not a folder has that name.");
        return false;
    }
    const QFileInfo info(folder);
    if (!info.isWritable() || !info.isExecutable()) {
        *why = QStringLiteral("Tulk may not write in it.");
        return false;
    }
    if (!QDir::setCurrent(folder)) {
        *why = QStringLiteral("It cannot be opened.");
        return false;
    }
    return true;
}

void CTulkDlg::SaveFolderRefused(const QString& folder, const QString& why) {
    // Pictures keep going where they went; the field says where that is.
    if (m_strFolderInUse.isEmpty()) {
        QString ignored;
        const QString fallback = DefaultSaveFolder();
        SetFolderInUse(fallback != folder && UseSaveFolder(fallback, &ignored)
                           ? fallback
                           : QDir::currentPath());
    }
    AskUser(this,
            BoxQuestion{QStringLiteral("Tulk"),
                        QStringLiteral("Pictures cannot be saved in \"%1\".").arg(folder),
                        QMessageBox::Warning, QMessageBox::Ok, QMessageBox::NoButton,
                        why + QStringLiteral(" They go on into \"%1\".").arg(m_strFolderInUse)});
}

void CTulkDlg::OnSerialSetup() {
    CSerialSetup dialog(this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    std::int32_t port = dialog.Port();
    std::int32_t speed = dialog.Speed();
    SettingDword("SerialPort", &port, 1);
    SettingDword("SerialSpeed", &speed, 1);
    const auto devices = dialog.Devices();
    StorePortMap(devices);
    // The next Connect uses the devices even if the store refused them.
    eph_setportmap(devices);
}
