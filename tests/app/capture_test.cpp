// Picture taking against the simulated camera: Take a Picture, the time
// lapse with its dropped ticks and its wait window, Stop, and Connect or quit
// while a time-lapse picture is being taken.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "tests/app/camera_rig.h"

using namespace std::chrono_literals;

namespace {

// The capture the camera saw, as sets of the focus mode (33) and snapshots
// (action 2): each snapshot is wrapped in a focus write on either side and
// no two captures overlap.
bool CapturesAreOneAtATime(const CameraRig& rig, int focus, int* snapshots) {
    int state = 0;  // 0 idle, 1 focus written, 2 snapshot sent
    *snapshots = 0;
    for (const auto& c : rig.camera.commands()) {
        if (c.command == 0 && c.reg == C990_FOCUSMODE) {
            if (c.value != focus) {
                return false;
            }
            state = state == 2 ? 0 : (state == 0 ? 1 : -1);
        } else if (c.command == 2 && c.reg == C990_C2_SNAPSHOT) {
            if (state != 1) {
                return false;
            }
            state = 2;
            ++*snapshots;
        } else if (state != 0) {
            return false;
        }
        if (state < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

class CaptureTest : public QObject {
    Q_OBJECT
private slots:
    void takePictureAddsAPicture() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        g_bSaveEveryTime = 1;
        rig.Click("btnTakePicture");
        QCOMPARE(rig.camera.pictures().size(), std::size_t(4));
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("4"));
        QCOMPARE(rig.Find<QLineEdit>("m_editFramesLeft")->text(), QString("96"));
        int snapshots = 0;
        QVERIFY(CapturesAreOneAtATime(rig, 3, &snapshots));
        QCOMPARE(snapshots, 1);
        // No download follows, whatever "Save Every Time" says.
        for (const auto& c : rig.camera.commands()) {
            QVERIFY(c.reg != C990_FRAMEDATA);
        }
    }

    void refusedSnapshotIsLogged() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.camera.setAction(C990_C2_SNAPSHOT, [](const camsim::Bytes&) { return false; });
        rig.Click("btnTakePicture");
        QVERIFY(LogText().contains("C990_C2_SNAPSHOT failed"));
        QCOMPARE(rig.Writes(C990_FOCUSMODE), (std::vector<std::int32_t>{3, 3}));
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("3"));
    }

    // Ticks every 100 ms against a camera that needs 300 ms a picture: the
    // ticks that come during a capture are dropped, one picture at a time.
    void timeLapseDropsTicksDuringACapture() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.camera.setActionTime(C990_C2_SNAPSHOT, 300ms);
        rig.Find<QLineEdit>("m_editDelay")->setText("50");
        rig.Click("btnRunTimeLapse");
        QCOMPARE(g_bTimeLapseRunning.load(), 1);
        // The wait window is up while a picture is being taken.
        QTRY_VERIFY_WITH_TIMEOUT(g_bTakingPicture.load() == 1, 5000);
        QTRY_VERIFY(rig.Window().findChild<QDialog*>("IDD_TAKING_PICTURE") &&
                    rig.Window().findChild<QDialog*>("IDD_TAKING_PICTURE")->isVisible());
        QCOMPARE(rig.Window().findChild<QDialog*>("IDD_TAKING_PICTURE")->windowTitle(),
                 QString("Taking picture , please wait"));
        // The window says it inside as well, where nothing cuts it off.
        auto* text =
            rig.Window().findChild<QDialog*>("IDD_TAKING_PICTURE")->findChild<QLabel*>("labelText");
        QVERIFY(text && text->isVisible());
        QCOMPARE(text->text(), QString("Taking picture , please wait"));
        QVERIFY(text->width() >= text->fontMetrics().horizontalAdvance(text->text()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.camera.snapshotTimes().size() >= 3, 10000);
        rig.Click("btnStopTimeLapse");
        QCOMPARE(g_bTimeLapseRunning.load(), 0);
        QTRY_VERIFY(g_bTakingPicture.load() == 0);
        QTRY_VERIFY(!rig.Window().findChild<QDialog*>("IDD_TAKING_PICTURE")->isVisible());
        const std::size_t taken = rig.camera.snapshotTimes().size();
        QTest::qWait(400);
        QCOMPARE(rig.camera.snapshotTimes().size(), taken);

        int snapshots = 0;
        QVERIFY(CapturesAreOneAtATime(rig, 3, &snapshots));
        QCOMPARE(std::size_t(snapshots), taken);
        QCOMPARE(rig.camera.pictures().size(), 3 + taken);
        QTRY_COMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString::number(3 + taken));
        // Each capture of 300 ms at a Delay of 100 drops the ticks that fall
        // within it, and they are counted.
        QVERIFY(rig.Window().DroppedTicks() >= long(taken - 1));
        // The field keeps what was typed; the interval was raised to 100.
        QCOMPARE(rig.Find<QLineEdit>("m_editDelay")->text(), QString("50"));
        QCOMPARE(rig.Find<CNumberEdit>("m_editDelay")->Value(), 100);
    }

    void timeLapseNeedsAConnection() {
        CameraRig rig;
        rig.Window();
        rig.Click("btnRunTimeLapse");
        QCOMPARE(g_bTimeLapseRunning.load(), 0);
        rig.Click("btnStopTimeLapse");
        QCOMPARE(g_bTimeLapseRunning.load(), 0);
        QTest::qWait(150);
        QVERIFY(rig.camera.commands().empty());
    }

    // Connect while a time-lapse picture is being taken: the picture ends
    // before the link is signed off, and the time lapse stops.
    void connectWaitsForThePictureThread() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.camera.setActionTime(C990_C2_SNAPSHOT, 500ms);
        rig.Find<QLineEdit>("m_editDelay")->setText("100");
        rig.Click("btnRunTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(g_bTakingPicture.load() == 1, 5000);
        rig.Click("btnConnect");
        QCOMPARE(g_bTakingPicture.load(), 0);
        QCOMPARE(g_bTimeLapseRunning.load(), 0);
        QCOMPARE(g_bConnected.load(), 1);
        const auto commands = rig.camera.commands();
        std::size_t snapshot = commands.size();
        std::size_t signoff = commands.size();
        for (std::size_t i = 0; i < commands.size(); ++i) {
            if (commands[i].command == 2 && commands[i].reg == C990_C2_SNAPSHOT &&
                snapshot == commands.size()) {
                snapshot = i;
            }
            if (commands[i].command == 2 && commands[i].reg == C990_SIGNOFF) {
                signoff = i;
            }
        }
        QVERIFY(snapshot < signoff);
        QVERIFY(signoff < commands.size());
        // The focus write after the snapshot came before the sign-off.
        QVERIFY(snapshot + 1 < signoff);
        QCOMPARE(commands[snapshot + 1].reg, C990_FOCUSMODE);
        QTest::qWait(300);
        QCOMPARE(g_bTakingPicture.load(), 0);
    }

    // Quitting while a picture is being taken waits for it.
    void quitWaitsForThePictureThread() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.setActionTime(C990_C2_SNAPSHOT, 500ms);
        rig.Find<QLineEdit>("m_editDelay")->setText("100");
        rig.Click("btnRunTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(g_bTakingPicture.load() == 1, 5000);
        rig.camera.clearRecord();
        rig.window.reset();
        QCOMPARE(g_bTakingPicture.load(), 0);
        QCOMPARE(g_bConnected.load(), 0);
        const auto commands = rig.camera.commands();
        QVERIFY(!commands.empty());
        QCOMPARE(commands.back().reg, C990_SIGNOFF);
    }

    void delayIsStoredOnlyWhileConnected() {
        CameraRig rig;
        rig.TypeAndLeave("m_editDelay", "2500");
        std::int32_t stored = -1;
        QCOMPARE(SettingDword("TimerValue", &stored, 0), 0);
        rig.ConnectUsb();
        rig.TypeAndLeave("m_editDelay", "3000");
        QCOMPARE(SettingDword("TimerValue", &stored, 0), 1);
        QCOMPARE(stored, 3000);
    }

    void checkBoxesSetTheirFlags() {
        CameraRig rig;
        rig.Click("m_chkSaveEveryTime");
        QCOMPARE(g_bSaveEveryTime.load(), 1);
        rig.Click("m_chkThreaded");
        QCOMPARE(g_bThreadedComms.load(), 1);
        rig.Click("m_chkThreaded");
        QCOMPARE(g_bThreadedComms.load(), 0);
    }
};

QTEST_MAIN(CaptureTest)
#include "capture_test.moc"
