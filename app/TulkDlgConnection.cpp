// The main window's connection settings.
#include <cstdint>

#include "SerialSetup.h"
#include "Settings.h"
#include "TulkDlg.h"
#include "eph.h"

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
