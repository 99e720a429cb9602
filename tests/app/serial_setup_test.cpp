// "Serial Settings": it opens with the stored choices, stores them on OK
// only, never stores a port or speed that names nothing, and the devices
// given for the COM ports persist and reach the link layer.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/SerialSetup.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/platform/serial_devices.h"
#include "link/eph.h"
#include "sim/camsim.h"
#include "tests/app/app_fixture.h"

namespace {

constexpr int kMissing = -999;
int Stored(const char* name) {
    std::int32_t value = 0;
    return SettingDword(name, &value, 0) == 1 ? value : kMissing;
}

void Store(const char* name, int value) {
    std::int32_t v = value;
    QCOMPARE(SettingDword(name, &v, 1), 1);
}

std::string StoredText(const char* name) {
    std::string text = "<missing>";
    SettingString(name, &text, 0);
    return text;
}

QComboBox* Devices(CSerialSetup* dialog, int port) {
    return dialog->findChild<QComboBox*>(QString("m_cbDevice%1").arg(port));
}

void TypeInto(QComboBox* list, const QString& text) {
    list->setFocus();
    list->lineEdit()->selectAll();
    QTest::keyClick(list->lineEdit(), Qt::Key_Backspace);
    QTest::keyClicks(list->lineEdit(), text);
}

// Clicks "Serial Setup" in the window and lets act work the dialog while it
// is up. act must close it; a dialog left open is closed after a while so
// that a failing test cannot hang the run.
void RunSerialSetup(CTulkDlg& window, const std::function<void(CSerialSetup*)>& act) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = window.findChild<CSerialSetup*>();
        if (!dialog) {
            return;
        }
        seen = true;
        QTimer::singleShot(10000, dialog, &QDialog::reject);
        act(dialog);
    });
    Control<QPushButton>(&window, 1083)->click();
    QVERIFY2(seen, "the dialog came up");
}

enum Close { Ok, Cancel, Enter, Escape };

void CloseBy(CSerialSetup* dialog, Close how) {
    switch (how) {
        case Ok:
            QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
            break;
        case Cancel:
            QTest::mouseClick(Control<QPushButton>(dialog, 2), Qt::LeftButton);
            break;
        case Enter:
            QTest::keyClick(Control<QComboBox>(dialog, 1089), Qt::Key_Return);
            break;
        case Escape:
            QTest::keyClick(Control<QComboBox>(dialog, 1085), Qt::Key_Escape);
            break;
    }
}

}  // namespace

class SerialSetupTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshHome> home_;

private slots:
    void init() { home_ = std::make_unique<FreshHome>(); }
    void cleanup() { home_.reset(); }

    void dialogLayout() {
        CSerialSetup dialog;
        QCOMPARE(dialog.windowTitle(), QString("Serial Settings"));
        auto* port = Control<QComboBox>(&dialog, 1085);
        auto* speed = Control<QComboBox>(&dialog, 1089);
        QVERIFY(port && speed);
        QVERIFY(port->isEditable() && speed->isEditable());
        QStringList ports, speeds;
        for (int i = 0; i < port->count(); ++i) {
            ports << port->itemText(i);
        }
        for (int i = 0; i < speed->count(); ++i) {
            speeds << speed->itemText(i);
        }
        QCOMPARE(ports, QStringList({"COM1:", "COM2:", "COM3:", "COM4:"}));
        QCOMPARE(speeds, QStringList({"9600", "19200", "38400", "57600", "115200"}));
        QCOMPARE(Control<QPushButton>(&dialog, 1)->text(), QString("OK"));
        QVERIFY(Control<QPushButton>(&dialog, 1)->isDefault());
        QCOMPARE(Control<QPushButton>(&dialog, 2)->text(), QString("Cancel"));
    }

    void opensWithStoredChoices_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("portShown");
        QTest::addColumn<QString>("speedShown");
        QTest::newRow("nothing stored") << kMissing << kMissing << "COM1:"
                                        << "9600";
        QTest::newRow("COM3 57600") << 3 << 4 << "COM3:"
                                    << "57600";
        QTest::newRow("last of each") << 4 << 5 << "COM4:"
                                      << "115200";
        QTest::newRow("zeros stored") << 0 << 0 << "COM1:"
                                      << "9600";
        QTest::newRow("beyond the lists") << 7 << 6 << "COM1:"
                                          << "9600";
        QTest::newRow("one stored") << 2 << kMissing << "COM2:"
                                    << "9600";
    }
    // Cancel leaves the store exactly as it was, even after a first open.
    void opensWithStoredChoices() {
        QFETCH(int, port);
        QFETCH(int, speed);
        QFETCH(QString, portShown);
        QFETCH(QString, speedShown);
        if (port != kMissing) {
            Store("SerialPort", port);
        }
        if (speed != kMissing) {
            Store("SerialSpeed", speed);
        }
        CTulkDlg window;
        QString shownPort, shownSpeed;
        RunSerialSetup(window, [&](CSerialSetup* dialog) {
            shownPort = Control<QComboBox>(dialog, 1085)->currentText();
            shownSpeed = Control<QComboBox>(dialog, 1089)->currentText();
            CloseBy(dialog, Cancel);
        });
        QCOMPARE(shownPort, portShown);
        QCOMPARE(shownSpeed, speedShown);
        QCOMPARE(Stored("SerialPort"), port);
        QCOMPARE(Stored("SerialSpeed"), speed);
    }

    void storesOnOkOnly_data() {
        QTest::addColumn<int>("before");  // both settings; kMissing for none
        QTest::addColumn<int>("portChoice");
        QTest::addColumn<int>("speedChoice");
        QTest::addColumn<int>("close");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("speed");
        QTest::newRow("fresh, ok untouched") << kMissing << -1 << -1 << int(Ok) << 1 << 1;
        QTest::newRow("fresh, choose, ok") << kMissing << 2 << 3 << int(Ok) << 3 << 4;
        QTest::newRow("fresh, choose, enter") << kMissing << 1 << 4 << int(Enter) << 2 << 5;
        QTest::newRow("fresh, choose, cancel")
            << kMissing << 2 << 3 << int(Cancel) << kMissing << kMissing;
        QTest::newRow("stored, choose, cancel") << 2 << 2 << 3 << int(Cancel) << 2 << 2;
        QTest::newRow("stored, choose, escape") << 2 << 0 << 0 << int(Escape) << 2 << 2;
        QTest::newRow("stored, ok untouched") << 2 << -1 << -1 << int(Ok) << 2 << 2;
    }
    void storesOnOkOnly() {
        QFETCH(int, before);
        QFETCH(int, portChoice);
        QFETCH(int, speedChoice);
        QFETCH(int, close);
        QFETCH(int, port);
        QFETCH(int, speed);
        if (before != kMissing) {
            Store("SerialPort", before);
            Store("SerialSpeed", before);
        }
        CTulkDlg window;
        RunSerialSetup(window, [&](CSerialSetup* dialog) {
            if (portChoice >= 0) {
                Control<QComboBox>(dialog, 1085)->setCurrentIndex(portChoice);
            }
            if (speedChoice >= 0) {
                Control<QComboBox>(dialog, 1089)->setCurrentIndex(speedChoice);
            }
            CloseBy(dialog, Close(close));
        });
        QCOMPARE(Stored("SerialPort"), port);
        QCOMPARE(Stored("SerialSpeed"), speed);
    }

    void typedText_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::newRow("port as listed") << 1085 << "COM2:" << 2;
        QTest::newRow("port, other case, no colon") << 1085 << "com4" << 4;
        QTest::newRow("port with blanks") << 1085 << " COM3: " << 3;
        QTest::newRow("port not listed") << 1085 << "COM9:" << 0;
        QTest::newRow("port empty") << 1085 << "" << 0;
        QTest::newRow("speed as listed") << 1089 << "38400" << 3;
        QTest::newRow("speed not listed") << 1089 << "38401" << 0;
        QTest::newRow("speed words") << 1089 << "fast" << 0;
    }
    // Typed text counts when it names an entry; otherwise OK is not offered,
    // so nothing that names no port or speed is ever stored.
    void typedText() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(int, value);
        CSerialSetup dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        TypeInto(Control<QComboBox>(&dialog, id), typed);
        QCOMPARE(id == 1085 ? dialog.Port() : dialog.Speed(), value);
        QCOMPARE(Control<QPushButton>(&dialog, 1)->isEnabled(), value != 0);
        if (value == 0) {
            // Enter does not get past a disabled OK either.
            QTest::keyClick(Control<QComboBox>(&dialog, id), Qt::Key_Return);
            QVERIFY(dialog.isVisible());
        }
    }

    // The device given for a COM port is stored on OK, reaches the link
    // layer at once and at the next start, and opens the camera there.
    void deviceMapping() {
        camsim::Camera camera;
        const QString terminal = QString::fromStdString(camera.startSerial());
        QVERIFY(!terminal.isEmpty());
        QCOMPARE(eph_portdevice(2), std::string("/dev/ttyS1"));
        {
            CTulkDlg window;
            RunSerialSetup(window, [&](CSerialSetup* dialog) {
                QCOMPARE(Devices(dialog, 2)->currentText(), QString());
                TypeInto(Devices(dialog, 2), terminal);
                CloseBy(dialog, Ok);
            });
            QCOMPARE(StoredText("SerialDevice2"), terminal.toStdString());
            QCOMPARE(eph_portdevice(2), terminal.toStdString());
            // Other ports keep their defaults.
            QCOMPARE(eph_portdevice(1), std::string("/dev/ttyS0"));
            window.reject();
        }
        // As after a restart: the link layer knows nothing until the window
        // starts.
        eph_setportmap({});
        QCOMPARE(eph_portdevice(2), std::string("/dev/ttyS1"));
        CTulkDlg window;
        QCOMPARE(eph_portdevice(2), terminal.toStdString());

        // Shown again though no such device is listed; Cancel changes nothing.
        RunSerialSetup(window, [&](CSerialSetup* dialog) {
            QCOMPARE(Devices(dialog, 2)->currentText(), terminal);
            TypeInto(Devices(dialog, 2), "/dev/ttyUSB7");
            CloseBy(dialog, Cancel);
        });
        QCOMPARE(eph_portdevice(2), terminal.toStdString());
        QCOMPARE(StoredText("SerialDevice2"), terminal.toStdString());

        eph_iob* link = eph_open(2, 9600);
        QVERIFY2(link, "the camera answers on the device given for COM2:");
        eph_close(link, 1);
        eph_free(link);

        // Emptied, the port goes back to its default device.
        RunSerialSetup(window, [&](CSerialSetup* dialog) {
            TypeInto(Devices(dialog, 2), "");
            CloseBy(dialog, Ok);
        });
        QCOMPARE(eph_portdevice(2), std::string("/dev/ttyS1"));
        QCOMPARE(StoredText("SerialDevice2"), std::string());
    }

    void deviceList() {
        const QString dev = home_->path() + "/dev";
        const QString sys = home_->path() + "/sys";
        QVERIFY(QDir().mkpath(dev));
        for (const char* name :
             {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0",
              "ttyAMA0", "rfcomm1", "tty1", "null", "ttySx", "ttyUSB"}) {
            QFile node(dev + "/" + name);
            QVERIFY(node.open(QIODevice::WriteOnly));
        }
        // Of the 8250 ports only those with a known UART type are real.
        auto uart = [&](const char* name, const char* type) {
            QVERIFY(QDir().mkpath(sys + "/" + name));
            QFile file(sys + "/" + name + "/type");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(type);
        };
        uart("ttyS0", "4\n");
        uart("ttyS1", "0\n");
        uart("ttyS10", "4\n");
        const auto found = ListSerialDevicesIn(dev.toStdString(), sys.toStdString());
        QStringList names;
        for (const auto& path : found) {
            QVERIFY(QString::fromStdString(path).startsWith(dev + "/"));
            names << QString::fromStdString(path).mid(dev.size() + 1);
        }
        QCOMPARE(names, QStringList({"rfcomm1", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS10", "ttyUSB0",
                                     "ttyUSB2", "ttyUSB10"}));
        QVERIFY(ListSerialDevicesIn((home_->path() + "/none").toStdString(), sys.toStdString())
                    .empty());
    }
};

QTEST_MAIN(SerialSetupTest)
#include "serial_setup_test.moc"
