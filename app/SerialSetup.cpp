#include "app/SerialSetup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/Settings.h"
#include "app/WidgetTools.h"
#include "app/platform/serial_devices.h"
#include "link/eph.h"
#include "ui_SerialSetup.h"

namespace {

// The list entry whose text the box shows, or -1. Case and a missing colon
// do not matter ("com3" names "COM3:"); surrounding blanks neither.
int NamedEntry(const QComboBox* box) {
    auto plain = [](QString text) {
        text = text.trimmed();
        if (text.endsWith(QLatin1Char(':'))) {
            text.chop(1);
        }
        return text;
    };
    const QString shown = plain(box->currentText());
    for (int i = 0; i < box->count(); ++i) {
        if (shown.compare(plain(box->itemText(i)), Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

// Selects the entry of a stored choice (counted from 1); anything the box
// does not offer falls back to its first entry.
void SelectStored(QComboBox* box, const char* name) {
    std::int32_t stored = 0;
    const bool read = SettingDword(name, &stored, 0) == 1;
    box->setCurrentIndex(read && stored >= 1 && stored <= box->count() ? stored - 1 : 0);
}

}  // namespace

CSerialSetup::CSerialSetup(QWidget* parent) : QDialog(parent), ui(new Ui::CSerialSetup) {
    ui->setupUi(this);
    DoDataExchange();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    const auto stored = LoadPortMap();
    QStringList found;
    for (const auto& path : ListSerialDevices()) {
        found << QString::fromStdString(path);
    }
    for (int port = 1; port <= kSerialPortCount; ++port) {
        QComboBox* box = m_cbDevice[port - 1];
        box->addItems(found);
        const auto it = stored.find(port);
        const QString device = it == stored.end() ? QString() : QString::fromStdString(it->second);
        // A device that is not there now (a pseudo-terminal, a cable that is
        // out) stays offered as stored.
        if (!device.isEmpty() && box->findText(device) < 0) {
            box->addItem(device);
        }
        box->setCurrentIndex(box->findText(device));
        box->setEditText(device);
        box->lineEdit()->setPlaceholderText(QStringLiteral("default: /dev/ttyS%1").arg(port - 1));
    }

    connect(ui->btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cbPort, &QComboBox::currentIndexChanged, this, &CSerialSetup::OnPortChange);
    connect(m_cbPort, &QComboBox::editTextChanged, this, &CSerialSetup::OnPortChange);
    connect(m_cbSpeed, &QComboBox::currentIndexChanged, this, &CSerialSetup::OnSpeedChange);
    connect(m_cbSpeed, &QComboBox::editTextChanged, this, &CSerialSetup::OnSpeedChange);
    SelectStored(m_cbPort, "SerialPort");
    SelectStored(m_cbSpeed, "SerialSpeed");
    OnPortChange();
    OnSpeedChange();
}

CSerialSetup::~CSerialSetup() {
    // The base class hides the dialog after this part of it is gone; the
    // focus leaving a list then completes its text, which must not reach
    // the handlers here any more.
    DisconnectChildren(this);
}

void CSerialSetup::DoDataExchange() {
    m_cbSpeed = ui->m_cbSpeed;
    // The list is the link's own speed table, in the order of its codes.
    if (m_cbSpeed->count() == 0) {
        for (const eph_linespeed& speed : EPH_LINE_SPEEDS) {
            m_cbSpeed->addItem(QString::number(speed.bps));
        }
    }
    m_cbPort = ui->m_cbPort;
    m_cbDevice = {ui->m_cbDevice1, ui->m_cbDevice2, ui->m_cbDevice3, ui->m_cbDevice4};
}

void CSerialSetup::OnPortChange() {
    m_nPort = NamedEntry(m_cbPort) + 1;
    UpdateOk();
}

void CSerialSetup::OnSpeedChange() {
    m_nSpeed = NamedEntry(m_cbSpeed) + 1;
    UpdateOk();
}

void CSerialSetup::UpdateOk() {
    ui->btnOk->setEnabled(m_nPort != 0 && m_nSpeed != 0);
}

std::map<int, std::string> CSerialSetup::Devices() const {
    std::map<int, std::string> devices;
    for (int port = 1; port <= kSerialPortCount; ++port) {
        const QString device = m_cbDevice[port - 1]->currentText().trimmed();
        if (!device.isEmpty()) {
            devices[port] = device.toStdString();
        }
    }
    return devices;
}

void StorePortMap(const std::map<int, std::string>& devices) {
    for (int port = 1; port <= kSerialPortCount; ++port) {
        const auto it = devices.find(port);
        std::string device = it == devices.end() ? std::string() : it->second;
        SettingString(SerialDeviceSettingName(port).c_str(), &device, 1);
    }
}

void InstallPortMap() {
    eph_setportmap(LoadPortMap());
}
