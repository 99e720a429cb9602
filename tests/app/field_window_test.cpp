// The window's time lapse as a rig left alone meets it: the camera is
// tulk-camsim in a process of its own, killed and started again, or stopped
// in the middle of a transfer on the serial line at its real rate, while the
// window runs modal. The status line says when the camera was lost and when
// it came back; the camera's record shows nothing lost.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "tests/app/camera_rig.h"
#include "tests/field/camera_record.h"

namespace {

// tulk-camsim in its own process, its pictures and erases recorded in a
// folder the test reads.
class CameraProcess {
public:
    explicit CameraProcess(const QString& record) : record_(record) {}
    ~CameraProcess() { Kill(); }
    bool Start(const QStringList& cable, const QStringList& faults = {}) {
        Kill();
        process_ = std::make_unique<QProcess>();
        QStringList args{"--generate=2", "--record", record_};
        args << cable;
        for (const QString& fault : faults) {
            args << "--fault" << fault;
        }
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_->start(QStringLiteral(TULK_CAMSIM), args);
        if (!process_->waitForStarted(10000)) {
            return false;
        }
        QByteArray out;
        // Ready once it says where it serves.
        while (!out.contains("serving") && process_->waitForReadyRead(20000)) {
            out += process_->readAllStandardOutput();
        }
        return out.contains("serving");
    }
    bool Running() const { return process_ && process_->state() == QProcess::Running; }
    void Signal(int signal) {
        if (Running()) {
            ::kill(static_cast<pid_t>(process_->processId()), signal);
        }
    }
    void Kill() {
        if (Running()) {
            process_->kill();
            process_->waitForFinished(10000);
        }
        process_.reset();
    }

private:
    QString record_;
    std::unique_ptr<QProcess> process_;
};

struct FieldRig {
    CameraRig rig{0};
    QTemporaryDir scratch;
    QString record = scratch.path() + "/record";
    QString pictures = scratch.path() + "/pictures";
    CameraProcess camera{record};

    FieldRig() {
        QDir().mkpath(record);
        QDir().mkpath(pictures);
        std::string text = pictures.toStdString();
        SettingString("SaveFolder", &text, 1);
    }
    QString Status() { return rig.Find<QLabel>("statusLine")->text(); }
    void RunTimeLapse(const char* delay) {
        rig.Find<QAbstractButton>("m_chkSaveEveryTime")->click();
        rig.Find<QAbstractButton>("m_chkDeleteAfter")->setChecked(true);
        rig.Click("btnGetLast");  // Delete After Download is taken at Get Last
        rig.Find<QLineEdit>("m_editDelay")->setText(delay);
        rig.Click("btnRunTimeLapse");
    }
    long Snapshots() const { return field::Count(record.toStdString(), "snapshot"); }
    // Stops the run and checks the camera's record against the folder.
    void StopAndCheck(long atLeastSaved) {
        rig.Click("btnStopTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(g_bTakingPicture.load() == 0, 90000);
        const field::Verdict verdict = field::Check(record.toStdString(), pictures.toStdString());
        QCOMPARE(verdict.strangers, 0L);
        QCOMPARE(verdict.erasedUnsaved, 0L);
        QCOMPARE(verdict.lostPictures, 0L);
        QVERIFY2(verdict.savedOfRun >= atLeastSaved, qPrintable(Status()));
    }
};

}  // namespace

class FieldWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Over USB: the camera vanishes at its second snapshot and is started
    // again a moment later; the run finds it and goes on.
    void cameraKilledAndStartedAgain() {
        FieldRig f;
        QVERIFY(f.camera.Start({"--usb"}, {"vanish,at=2"}));
        f.rig.Find<QAbstractButton>("m_chkUseUsb")->setChecked(true);
        f.rig.Click("btnConnect");
        QCOMPARE(g_bConnected.load(), 1);
        f.RunTimeLapse("500");
        QTRY_VERIFY_WITH_TIMEOUT(f.Status().contains("camera lost at "), 60000);
        QVERIFY2(f.Status().contains("looking for it again"), qPrintable(f.Status()));
        QTest::qWait(1500);
        QVERIFY(f.camera.Start({"--usb"}));
        QTRY_VERIFY_WITH_TIMEOUT(f.Status().contains("camera back at "), 60000);
        QVERIFY2(f.Status().contains(" missed"), qPrintable(f.Status()));
        QCOMPARE(g_bTimeLapseRunning.load(), 1);
        const long before = f.Snapshots();
        QTRY_VERIFY_WITH_TIMEOUT(f.Snapshots() >= before + 2, 60000);
        f.StopAndCheck(3);
    }

    // On the serial line at its real rate: the camera process is stopped
    // while a picture flows and continued later; the link gets back in step.
    void cameraStoppedMidTransferOnTheSerialLine() {
        FieldRig f;
        const QString link = f.scratch.path() + "/com1";
        QVERIFY(f.camera.Start({"--serial", "--pace", "--link", link}));
        qputenv("TULK_COM1", QFile::encodeName(link));
        std::int32_t port = 1;
        std::int32_t speed = 5;
        SettingDword("SerialPort", &port, 1);
        SettingDword("SerialSpeed", &speed, 1);
        f.rig.Find<QAbstractButton>("m_chkUseUsb")->setChecked(false);
        f.rig.Click("btnConnect");
        QVERIFY2(g_bConnected.load() == 1, qPrintable(f.Status()));
        f.RunTimeLapse("1000");
        QTRY_VERIFY_WITH_TIMEOUT(f.Snapshots() >= 1, 60000);
        QTest::qWait(1500);
        f.camera.Signal(SIGSTOP);
        QTest::qWait(8000);
        f.camera.Signal(SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(f.Snapshots() >= 3, 120000);
        f.StopAndCheck(2);
    }
};

QTEST_MAIN(FieldWindowTest)
#include "field_window_test.moc"
