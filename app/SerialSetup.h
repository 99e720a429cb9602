// "Serial Settings": the serial port and line speed of the next serial
// connection, and which serial device each COM port name stands for.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/Settings.h"

class QComboBox;
namespace Ui {
class CSerialSetup;
}

class CSerialSetup : public QDialog {
    Q_OBJECT
public:
    // Opens with the stored port and speed chosen ("COM1:" and 9600 when
    // none or no valid one is stored) and the stored devices.
    explicit CSerialSetup(QWidget* parent = nullptr);
    ~CSerialSetup() override;

    // The chosen port as its number (1 = "COM1:"), 0 when the port box's
    // text names none of its ports.
    std::int32_t Port() const { return m_nPort; }
    // The chosen speed as its position in the list counted from 1 (1 = 9600
    // ... 5 = 115200), 0 when the speed box's text names none.
    std::int32_t Speed() const { return m_nSpeed; }
    // The device given for each port; an empty text leaves the port to its
    // default device.
    std::map<int, std::string> Devices() const;

private:
    void DoDataExchange();
    void OnPortChange();
    void OnSpeedChange();
    // OK stores the choices, so it is offered only while both name one.
    void UpdateOk();

    std::unique_ptr<Ui::CSerialSetup> ui;
    QComboBox* m_cbSpeed = nullptr;
    QComboBox* m_cbPort = nullptr;
    std::int32_t m_nSpeed = 0;
    std::int32_t m_nPort = 0;
    std::array<QComboBox*, kSerialPortCount> m_cbDevice{};
};

// Stores the device of each of the four ports; a port missing from the map
// or with an empty device is stored empty (its default device).
void StorePortMap(const std::map<int, std::string>& devices);
// Hands the stored mapping to the link layer, which resolves "COM<n>:"
// through it.
void InstallPortMap();
