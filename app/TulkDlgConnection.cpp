// The main window's connection: Connect, the save folder and the serial
// settings.
#include <QCheckBox>
#include <QDir>
#include <cstdint>
#include <mutex>
#include <string>

#include "SerialSetup.h"
#include "Settings.h"
#include "TulkDlg.h"
#include "TulkState.h"
#include "camera_ops.h"
#include "eph.h"
#include "transfer_progress.h"

namespace {

// The serial settings list counts its line speeds from 1.
long SpeedOfPosition(std::int32_t position) {
    switch (position) {
        case 1:
            return 9600;
        case 2:
            return 19200;
        case 3:
            return 38400;
        case 4:
            return 57600;
        case 5:
            return 115200;
        default:
            return position;
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
    const long speed = SpeedOfPosition(position);

    const bool connected = CameraWait([useUsb, port, speed] {
        CloseLink();
        g_bUseUsb = useUsb;
        g_iob = eph_open(port, speed);
        if (!g_iob) {
            return false;
        }
        g_iob->progress_cb = TransferProgressCallback;
        g_bConnected = 1;
        return true;
    });
    if (!connected) {
        return;
    }
    RefreshCounters();
    SetSaveFolder(QString());
    RefreshZoom();
    OnGetInfo();
}

void CTulkDlg::SetSaveFolder(const QString& folder) {
    QString text = folder;
    if (text.isEmpty()) {
        std::string stored;
        if (SettingString("SaveFolder", &stored, 0) == 0) {
            text = QString::fromStdString(stored);
        }
    }
    m_editSaveFolder->SetText(text);
    // A folder that is gone leaves the current folder as it was.
    if (!text.isEmpty()) {
        QDir::setCurrent(text);
    }
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
