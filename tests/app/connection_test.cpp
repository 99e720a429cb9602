// Connect: over the serial line and USB against the simulated camera, the
// counters, the save folder and the settings panel it fills, a failed
// attempt, and a second Connect that signs the first link off.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "Demo.h"
#include "camera_ops.h"
#include "camera_rig.h"

namespace {

QString Text(CameraRig& rig, const char* name) {
    return rig.Find<QLineEdit>(name)->text();
}

}  // namespace

class ConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void connectFillsTheWindow_data() {
        QTest::addColumn<bool>("usb");
        QTest::newRow("serial at 115200") << false;
        QTest::newRow("usb") << true;
    }
    void connectFillsTheWindow() {
        QFETCH(bool, usb);
        CameraRig rig;
        QTemporaryDir folder;
        std::string saveFolder = folder.path().toStdString();
        SettingString("SaveFolder", &saveFolder, 1);
        rig.Window();
        usb ? rig.ConnectUsb() : rig.ConnectSerial(5);

        QCOMPARE(g_bConnected.load(), 1);
        QVERIFY(g_iob);
        if (!usb) {
            QCOMPARE(rig.camera.speedCode(), 5);
            QCOMPARE(rig.camera.lineSpeed(), 115200L);
        }
        QCOMPARE(g_bUseUsb.load(), usb ? 1 : 0);
        std::int32_t storedUsb = -1;
        QCOMPARE(SettingDword("UseUSB", &storedUsb, 0), 1);
        QCOMPARE(storedUsb, usb ? 1 : 0);

        QCOMPARE(Text(rig, "m_editPictures"), QString("3"));
        QCOMPARE(Text(rig, "m_editFramesLeft"), QString("97"));
        QVERIFY(Text(rig, "m_editAvailMem").toLongLong() > 0);
        QCOMPARE(Text(rig, "m_editSaveFolder"), folder.path());
        QCOMPARE(QDir::currentPath(), QDir(folder.path()).canonicalPath());

        QCOMPARE(rig.Find<QComboBox>("m_cbResolution")->currentText(), QString("Normal"));
        QCOMPARE(rig.Find<QComboBox>("m_cbAperture")->currentText(), QString("Medium"));
        QCOMPARE(rig.Find<QComboBox>("m_cbColourMode")->currentText(), QString("B/W"));
        QCOMPARE(rig.Find<QProgressBar>("m_progBattery")->value(), 100);
        QCOMPARE(rig.Find<QComboBox>("m_cbFlash")->currentText(), QString("RedEye"));
        QCOMPARE(rig.Find<QComboBox>("m_cbWhiteBalance")->currentText(), QString("Flash"));
        QCOMPARE(rig.Find<QComboBox>("m_cbImageAdjust")->currentText(), QString("More Contrast"));
        QCOMPARE(rig.Find<QComboBox>("m_cbMetering")->currentText(), QString("Matrix"));
        QCOMPARE(rig.Find<QComboBox>("m_cbFocus")->currentText(), QString("Infinity"));
        QCOMPARE(g_nFocusMode.load(), 3);
        QCOMPARE(rig.Find<QSlider>("m_sliderZoom")->value(), 10);
        QCOMPARE(Text(rig, "m_editZoom"), QString("  1"));
        // Reading the camera never writes back.
        QVERIFY(rig.Writes(C990_FOCUSMODE).empty());
        QVERIFY(!LogText().contains("C999_"));
    }

    void failedConnectStaysNotConnected_data() {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<QString>("reason");
        QTest::newRow("serial") << false << "failed to initialize";
        QTest::newRow("usb") << true << "failed to initialize USB";
    }
    void failedConnectStaysNotConnected() {
        QFETCH(bool, usb);
        QFETCH(QString, reason);
        CameraRig rig;
        eph_setportmap({{1, QDir::temp().filePath("no-such-tty").toStdString()}});
        rig.Window();
        rig.Find<QAbstractButton>("m_chkUseUsb")->setChecked(usb);
        rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 0);
        QVERIFY(!g_iob);
        QCOMPARE(Text(rig, "m_editPictures"), QString("Not connected"));
        QVERIFY2(LogText().contains(reason), qPrintable(LogText()));
        // Every camera button does nothing now.
        rig.Click("btnTakePicture");
        rig.Click("btnGetInfo");
        QVERIFY(rig.camera.commands().empty());
    }

    // An empty store: COM1 at 9600, and "UseUSB" stored.
    void emptyStoreUsesCom1At9600() {
        CameraRig rig;
        rig.Window();
        const std::string path = rig.camera.startSerial();
        eph_setportmap({{1, path}});
        rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 1);
        QCOMPARE(rig.camera.lineSpeed(), 9600L);
        std::int32_t storedUsb = -1;
        QCOMPARE(SettingDword("UseUSB", &storedUsb, 0), 1);
        QCOMPARE(storedUsb, 0);
    }

    void connectTwiceSignsTheFirstLinkOff() {
        CameraRig rig;
        rig.ConnectUsb();
        QCOMPARE(g_bConnected.load(), 1);
        rig.camera.clearRecord();
        rig.camera.generatePictures(1, 64, 48);
        rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 1);
        QVERIFY(g_iob);
        const auto commands = rig.camera.commands();
        QVERIFY(!commands.empty());
        QCOMPARE(commands[0].command, 2);
        QCOMPARE(commands[0].reg, C990_SIGNOFF);
        QCOMPARE(Text(rig, "m_editPictures"), QString("4"));

        // The camera goes away: the next attempt fails and nothing is sent
        // on any button afterwards.
        rig.camera.stop();
        rig.camera.clearRecord();
        rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 0);
        QVERIFY(!g_iob);
        rig.Click("btnTakePicture");
        QVERIFY(rig.camera.commands().empty());
    }

    // From start-up the field shows where pictures go: with nothing stored
    // the pictures folder, made when missing; a stored folder that is gone
    // is made again.
    void saveFolderAtStartUp_data() {
        QTest::addColumn<bool>("stored");
        QTest::newRow("nothing stored") << false;
        QTest::newRow("stored folder gone") << true;
    }
    void saveFolderAtStartUp() {
        QFETCH(bool, stored);
        CameraRig rig;
        QTemporaryDir scratch;
        QString expected = rig.home->path() + "/Pictures/Tulk";
        if (stored) {
            expected = scratch.path() + "/gone/pictures";
            std::string text = expected.toStdString();
            SettingString("SaveFolder", &text, 1);
        }
        QVERIFY(!QFileInfo::exists(expected));
        rig.Window();
        QCOMPARE(Text(rig, "m_editSaveFolder"), expected);
        QVERIFY(QFileInfo(expected).isDir());
        QCOMPARE(QDir::currentPath(), QDir(expected).canonicalPath());
        rig.ConnectUsb();
        QCOMPARE(Text(rig, "m_editSaveFolder"), expected);
    }

    // The demo camera answers Connect on COM1 and on USB.
    void demoCameraAnswersBothCables() {
        FreshHome home;
        auto demo = std::make_unique<CDemoCamera>();
        QCOMPARE(QString::fromStdString(demo->Error()), QString());
        {
            CTulkDlg window;
            window.findChild<QAbstractButton*>("btnConnect")->click();
            QCOMPARE(g_bConnected.load(), 1);
            QCOMPARE(window.findChild<QLineEdit*>("m_editPictures")->text(), QString("6"));
            window.findChild<QAbstractButton*>("m_chkUseUsb")->setChecked(true);
            window.findChild<QAbstractButton*>("btnConnect")->click();
            QCOMPARE(g_bConnected.load(), 1);
            QCOMPARE(g_bUseUsb.load(), 1);
            QCOMPARE(window.findChild<QComboBox*>("m_cbFocus")->currentText(), QString("Normal"));
        }
        demo.reset();
        g_bUseUsb = 0;
        qunsetenv("TULK_COM1");
    }
};

QTEST_MAIN(ConnectionTest)
#include "connection_test.moc"
