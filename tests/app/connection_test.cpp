// Connect: over the serial line and USB against the simulated camera, the
// counters, the save folder and the settings panel it fills, a failed
// attempt, and a second Connect that signs the first link off.
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <string>

#include "app/demo/Demo.h"
#include "camera/camera_ops.h"
#include "tests/app/camera_rig.h"

using namespace std::chrono_literals;

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

    // The status line says how the camera is connected.
    void statusLineAfterConnect() {
        CameraRig rig;
        QCOMPARE(rig.Window().StatusLine(), QString("Not connected"));
        rig.ConnectSerial(5);
        QCOMPARE(rig.Window().StatusLine(), QString("Connected: SR981 on COM1 (%1) at 115200 baud")
                                                .arg(QString::fromStdString(eph_portdevice(1))));
        rig.ConnectUsb();
        QCOMPARE(rig.Window().StatusLine(), QString("Connected: SR981 on USB"));
    }

    // A failed Connect after a good one says why, and the first camera's
    // values leave the window.
    void failedConnectSaysWhy_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("no device") << false;
        QTest::newRow("silent camera") << true;
    }
    void failedConnectSaysWhy() {
        QFETCH(bool, silent);
        CameraRig rig;
        rig.ConnectUsb();
        QCOMPARE(Text(rig, "m_editPictures"), QString("3"));
        QString device = QDir::temp().filePath("no-such-tty");
        QString why = QString("COM1 (%1): No such file or directory").arg(device);
        // Another camera on the serial line, which never answers; the first
        // one still signs off.
        camsim::Camera other;
        if (silent) {
            device = QString::fromStdString(other.startSerial());
            other.setSilent(true);
            why = "the camera did not answer at 19200 baud";
        }
        eph_setportmap({{1, device.toStdString()}});
        rig.Find<QAbstractButton>("m_chkUseUsb")->setChecked(false);
        rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 0);
        QCOMPARE(rig.Window().StatusLine(), "Not connected: " + why);
        QVERIFY2(LogText().contains("Connect failed: " + why), qPrintable(LogText()));
        QCOMPARE(Text(rig, "m_editPictures"), QString("Not connected"));
        QCOMPARE(Text(rig, "m_editFramesLeft"), QString());
        QCOMPARE(rig.Find<QComboBox>("m_cbResolution")->currentIndex(), -1);
        QCOMPARE(Text(rig, "m_editZoom"), QString());
    }

    // A camera that falls silent holds quitting for a few seconds, not for
    // the link's time-outs; a camera that answers signs off as always, and
    // the next window's link waits for its camera again.
    void quitWithASilentCamera_data() {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<bool>("silent");
        QTest::newRow("serial, silent") << false << true;
        QTest::newRow("USB, silent") << true << true;
        QTest::newRow("serial, answering") << false << false;
    }
    void quitWithASilentCamera() {
        QFETCH(bool, usb);
        QFETCH(bool, silent);
        const QString gaveUp = "The camera did not answer at quitting: closed without it";
        {
            CameraRig rig;
            rig.Window();
            usb ? rig.ConnectUsb() : rig.ConnectSerial(5);
            QCOMPARE(g_bConnected.load(), 1);
            rig.camera.setSilent(silent);
            rig.camera.clearRecord();
            BoxRecorder boxes;
            boxes.answer(QMessageBox::Yes);
            QElapsedTimer quitting;
            quitting.start();
            rig.Click("btnQuit");
            QVERIFY(!rig.Window().isVisible());
            // The link's own time-outs would take a minute.
            QVERIFY2(quitting.elapsed() < 15000, qPrintable(QString::number(quitting.elapsed())));
            QCOMPARE(LogText().contains(gaveUp), silent);
            QCOMPARE(g_bConnected.load(), 0);
            // The sign-off went out either way.
            QVERIFY(!rig.camera.commands().empty());
        }
        CameraRig rig;
        rig.Window();
        usb ? rig.ConnectUsb() : rig.ConnectSerial(5);
        QCOMPARE(g_bConnected.load(), 1);
        const auto before = rig.camera.snapshotTimes().size();
        rig.Click("btnTakePicture");
        QCOMPARE(rig.camera.snapshotTimes().size(), before + 1);
    }

    // A camera that goes away while connected: the status line says so and
    // the camera's fields show that they are stale, until a Connect works.
    void cameraThatGoesAwayIsShown() {
        CameraRig rig;
        rig.ConnectUsb();
        QVERIFY(rig.Find<QLineEdit>("m_editPictures")->isEnabled());
        rig.camera.stop();
        rig.Click("btnTakePicture");
        QCOMPARE(rig.Window().StatusLine(), QString("Camera not answering: Connect again"));
        QVERIFY(!rig.Find<QLineEdit>("m_editPictures")->isEnabled());
        QVERIFY(!rig.Find<QWidget>("grpCameraSettings")->isEnabled());
        QVERIFY(!rig.camera.startUsb(0).empty());
        rig.Click("btnConnect");
        QCOMPARE(rig.Window().StatusLine(), QString("Connected: SR981 on USB"));
        QVERIFY(rig.Find<QLineEdit>("m_editPictures")->isEnabled());
        QVERIFY(rig.Find<QWidget>("grpCameraSettings")->isEnabled());
    }

    // During a time lapse: pictures taken, when the next is due, and that
    // the interval stretched when a picture took longer than the Delay.
    void statusLineDuringATimeLapse() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.setActionTime(C990_C2_SNAPSHOT, 350ms);
        rig.Find<QLineEdit>("m_editDelay")->setText("100");
        rig.Click("btnRunTimeLapse");
        const QRegularExpression line(
            "^Time lapse: ([2-9]|[1-9]\\d+) pictures taken, next in 0\\.[0-9] s; interval "
            "stretched: the last picture took (0\\.[3-9]|[1-9]\\d*\\.\\d) s; journal: .+/"
            "tulk-run-\\d{8}-\\d{6}\\.jsonl$");
        QTRY_VERIFY_WITH_TIMEOUT(line.match(rig.Window().StatusLine()).hasMatch(), 10000);
        rig.Click("btnStopTimeLapse");
        QTRY_VERIFY(g_bTakingPicture.load() == 0);
        QCOMPARE(rig.Window().StatusLine(), QString("Connected: SR981 on USB"));
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
