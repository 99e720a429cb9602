// Publishing time-lapse pictures to a real FTP server on 127.0.0.1: the
// server each test needs is started here and stopped by its process id. The
// camera is the simulator, the window the real one.
#include <unistd.h>
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

#include "ftp/FtpDlg.h"
#include "ftp/FtpUpload.h"
#include "tests/app/camera_rig.h"

namespace {

const QString kUser = QStringLiteral("camera");
const QString kPassword = QStringLiteral("s3cret");

// pyftpdlib serving the folder home with one user, on a port of its own
// choosing; every command it receives is in its log.
class FtpServer {
public:
    explicit FtpServer(const QStringList& options = {}) {
        dir_.setAutoRemove(!qEnvironmentVariableIsSet("TULK_KEEP_FTP_HOME"));
        QDir().mkpath(home());
        QStringList args{QStringLiteral(TULK_FTP_SERVER), home(), kUser, kPassword, portFile()};
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        // Not the folder the window makes current, which a test removes.
        process_.setWorkingDirectory(dir_.path());
        process_.start(QStringLiteral("/usr/bin/python3"), args + options);
        if (!process_.waitForStarted(10000)) {
            return;
        }
        for (int i = 0; i < 200 && !QFile::exists(portFile()); ++i) {
            QTest::qWait(50);
        }
        port_ = QString::fromLatin1(FileBytes(portFile())).trimmed();
    }
    ~FtpServer() { Stop(); }

    bool Running() const { return !port_.isEmpty() && process_.state() == QProcess::Running; }
    void Stop() {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
            process_.waitForFinished(10000);
        }
    }
    bool Exited() { return process_.state() == QProcess::NotRunning; }
    QString home() const { return dir_.path() + "/home"; }
    QString Site() const { return QStringLiteral("127.0.0.1:") + port_; }
    QString Log() const { return QString::fromUtf8(FileBytes(portFile() + ".log")); }
    // Uploads the server completed.
    int Completed() const { return Log().count(QRegularExpression("STOR .* completed=1")); }

private:
    QString portFile() const { return dir_.path() + "/port"; }
    QTemporaryDir dir_;
    QProcess process_;
    QString port_;
};

// Every file below the folder, relative to it.
QStringList FilesIn(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(folder).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

void StoreFtpSettings(const QString& site, const QString& dir, bool passive,
                      const QString& password = kPassword) {
    for (const auto& [name, value] :
         {std::pair{"FTPSite", site}, std::pair{"FTPName", kUser}, std::pair{"FTPPass", password},
          std::pair{"FTPDir", dir}, std::pair{"FTPPassive", QString(passive ? "1" : "0")}}) {
        std::string text = value.toStdString();
        QCOMPARE(SettingString(name, &text, 1), 0);
    }
}

// Connected over USB, pictures saved in a folder of their own, "Save Every
// Time" and "Upload to FTP" ticked, and the time lapse running.
struct PublishingRig {
    CameraRig rig;
    QTemporaryDir saveFolder;

    explicit PublishingRig(int delayMs = 200) {
        std::string text = saveFolder.path().toStdString();
        SettingString("SaveFolder", &text, 1);
        rig.ConnectUsb();
        rig.Click("m_chkSaveEveryTime");
        rig.Find<QAbstractButton>("m_chkUploadFtp")->setChecked(true);
        rig.Find<QLineEdit>("m_editDelay")->setText(QString::number(delayMs));
    }
    void Run() { rig.Click("btnRunTimeLapse"); }
    // Stops the time lapse and waits until its last step, publication
    // included, is over.
    void Stop() {
        rig.Click("btnStopTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(g_bTakingPicture.load() == 0, 60000);
    }
    QString Status() { return rig.Window().StatusLine(); }
    QByteArray Newest() { return ToBytes(rig.camera.pictures().back().jpeg); }
};

// What the program prints on its standard output meanwhile.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        saved_ = ::dup(1);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), 1);
    }
    ~StdoutCapture() { Release(); }
    QString Release() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, 1);
            ::close(saved_);
            saved_ = -1;
            std::rewind(file_);
            char buffer[4096];
            std::size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
                text_ += QString::fromUtf8(buffer, static_cast<qsizetype>(n));
            }
            std::fclose(file_);
        }
        return text_;
    }

private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
    QString text_;
};

// Clicks "FTP Settings" and lets act work the dialog while it is up; a
// dialog left open is closed after a while, so a failing test cannot hang.
void RunFtpSettings(CTulkDlg& window, const std::function<void(CFtpDlg*)>& act) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = window.findChild<CFtpDlg*>();
        if (!dialog) {
            return;
        }
        seen = true;
        QTimer::singleShot(10000, dialog, &QDialog::reject);
        act(dialog);
    });
    Control<QPushButton>(&window, 1079)->click();
    QVERIFY2(seen, "the dialog came up");
}

QString Stored(const char* name) {
    std::string value = "(missing)";
    SettingString(name, &value, 0);
    return QString::fromStdString(value);
}

}  // namespace

class FtpPublishTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        g_nUploadToFtp = 0;
        g_bDeleteAfterDownload = 0;
    }

    // Two or more time-lapse pictures leave one "lastpic.jpg", the newest
    // picture's bytes, and no temporary file, in the remote folder; in
    // active and in passive mode, and with no folder at all.
    void timeLapsePublishesTheNewestPicture_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("landsIn");
        QTest::addColumn<bool>("passive");
        QTest::newRow("active, folder") << "www"
                                        << "www" << false;
        QTest::newRow("passive, folder") << "www"
                                         << "www" << true;
        QTest::newRow("from the root, two levels") << "/www/cam"
                                                   << "www/cam" << false;
        QTest::newRow("empty folder: the login's") << ""
                                                   << "" << true;
    }
    void timeLapsePublishesTheNewestPicture() {
        QFETCH(QString, dir);
        QFETCH(QString, landsIn);
        QFETCH(bool, passive);
        FtpServer server;
        QVERIFY(server.Running());
        const QString remote = server.home() + (landsIn.isEmpty() ? "" : "/" + landsIn);
        QVERIFY(QDir().mkpath(remote));
        PublishingRig rig;
        StoreFtpSettings(server.Site(), dir, passive);
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(server.Completed() >= 2, 30000);
        rig.Stop();

        const int taken = static_cast<int>(rig.rig.camera.snapshotTimes().size());
        QCOMPARE(server.Completed(), taken);
        QCOMPARE(FilesIn(server.home()),
                 QStringList{landsIn.isEmpty() ? "lastpic.jpg" : landsIn + "/lastpic.jpg"});
        QCOMPARE(FileBytes(remote + "/lastpic.jpg"), rig.Newest());
        const QString log = server.Log();
        QCOMPARE(log.contains("PASV") || log.contains("EPSV"), passive);
        QCOMPARE(log.contains("PORT") || log.contains("EPRT"), !passive);
        QVERIFY(log.contains("RNTO lastpic.jpg"));
        QVERIFY2(
            rig.Status().contains(QRegularExpression("; FTP \\d\\d:\\d\\d:\\d\\d: published$")),
            qPrintable(rig.Status()));
        QVERIFY(LogText().contains("published as lastpic.jpg"));
    }

    // A setting that is missing turns publishing off: nothing reaches the
    // server, and the next pictures do not try again.
    void missingSettingTurnsPublishingOff() {
        FtpServer server;
        QVERIFY(server.Running());
        PublishingRig rig;
        std::string site = server.Site().toStdString();
        SettingString("FTPSite", &site, 1);
        std::string name = kUser.toStdString();
        SettingString("FTPName", &name, 1);
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(rig.rig.camera.snapshotTimes().size() >= 2, 20000);
        rig.Stop();
        QCOMPARE(g_nUploadToFtp.load(), 0);
        QVERIFY(!server.Log().contains("USER"));
        QVERIFY(!FilesIn(rig.saveFolder.path()).isEmpty());
        QVERIFY2(rig.Status().contains("FTP") && rig.Status().contains("settings are missing"),
                 qPrintable(rig.Status()));
    }

    // A refused login prints "ERROR!  ..." and goes to the log and the
    // status line; publishing stays on and the next picture tries again.
    void refusedLoginTriesAgain() {
        FtpServer server;
        QVERIFY(server.Running());
        PublishingRig rig;
        StoreFtpSettings(server.Site(), "", true, "wrong");
        StdoutCapture out;
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(server.Log().count("PASS ") >= 2, 30000);
        rig.Stop();
        const QString printed = out.Release();
        QVERIFY2(printed.count("ERROR!  ") >= 2, qPrintable(printed));
        QVERIFY(printed.contains(QRegularExpression("ERROR!  .*(530|denied)")));
        QVERIFY(LogText().count("ERROR!  ") >= 2);
        QCOMPARE(g_nUploadToFtp.load(), 1);
        QVERIFY(FilesIn(server.home()).isEmpty());
        QVERIFY2(
            rig.Status().contains(QRegularExpression("; FTP \\d\\d:\\d\\d:\\d\\d: failed: .+")),
            qPrintable(rig.Status()));
    }

    // A server that stops in the middle of the transfer leaves the picture
    // it had as it was; the failure is shown.
    void serverStoppingMidTransferKeepsThePreviousPicture() {
        FtpServer server({"--die-after=4096"});
        QVERIFY(server.Running());
        const QByteArray previous("the picture of an hour ago");
        QVERIFY(QDir().mkpath(server.home() + "/www"));
        QFile old(server.home() + "/www/lastpic.jpg");
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(previous) == previous.size());
        old.close();
        PublishingRig rig(1000);
        StoreFtpSettings(server.Site(), "www", false);
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(server.Exited(), 20000);
        rig.Stop();
        QVERIFY(rig.Newest().size() > 4096);
        QCOMPARE(FileBytes(server.home() + "/www/lastpic.jpg"), previous);
        QVERIFY2(rig.Status().contains("failed"), qPrintable(rig.Status()));
        QVERIFY(LogText().contains("ERROR!  "));
    }

    // A picture whose download failed is not published: neither the file
    // of an earlier picture nor anything else goes to the server.
    void failedDownloadIsNotPublished() {
        FtpServer server;
        QVERIFY(server.Running());
        PublishingRig rig;
        StoreFtpSettings(server.Site(), "", true);
        // An earlier picture is in the folder under the name the next one
        // would take.
        QFile earlier(rig.saveFolder.path() + "/DSCN0004.JPG");
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
        earlier.close();
        rig.rig.camera.setRefused(C990_FRAMEDATA, true);
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(rig.rig.camera.snapshotTimes().size() >= 2, 20000);
        rig.Stop();
        QVERIFY(!server.Log().contains("USER"));
        QVERIFY(FilesIn(server.home()).isEmpty());
        QVERIFY(!rig.Status().contains("FTP"));
    }

    // While a slow server takes the picture, the camera is free: "Take a
    // Picture" is done before the upload is.
    void cameraIsFreeDuringTheUpload() {
        FtpServer server({"--read-limit=4096"});
        QVERIFY(server.Running());
        PublishingRig rig(1000);
        StoreFtpSettings(server.Site(), "", true);
        rig.Run();
        QTRY_VERIFY_WITH_TIMEOUT(server.Log().contains("STOR "), 20000);
        QCOMPARE(server.Completed(), 0);
        const auto before = rig.rig.camera.snapshotTimes().size();
        rig.rig.Click("btnTakePicture");
        QCOMPARE(rig.rig.camera.snapshotTimes().size(), before + 1);
        QCOMPARE(server.Completed(), 0);
        QCOMPARE(g_bTakingPicture.load(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(server.Completed() >= 1, 60000);
        rig.Stop();
        QCOMPARE(FilesIn(server.home()), QStringList{"lastpic.jpg"});
    }

    // Get Last on its button never publishes, time lapse or not.
    void getLastButtonNeverPublishes() {
        FtpServer server;
        QVERIFY(server.Running());
        PublishingRig rig;
        StoreFtpSettings(server.Site(), "", true);
        rig.rig.Click("btnGetLast");
        QCOMPARE(g_nUploadToFtp.load(), 1);
        QVERIFY(!FilesIn(rig.saveFolder.path()).isEmpty());
        QTest::qWait(300);
        QVERIFY(!server.Log().contains("USER"));
    }

    // The dialog shows the stored settings in its fields; OK stores what
    // the fields hold, Cancel stores nothing whatever was typed.
    void dialogShowsAndStoresTheSettings_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void dialogShowsAndStoresTheSettings() {
        QFETCH(bool, ok);
        CameraRig rig(0);
        StoreFtpSettings("ftp.example.org", "pub", true);
        QStringList shown;
        bool passiveShown = false;
        RunFtpSettings(rig.Window(), [&](CFtpDlg* dialog) {
            QCOMPARE(dialog->windowTitle(), QString("FTP Settings"));
            for (int id : {1064, 1065, 1066, 1067}) {
                auto* field = Control<QLineEdit>(dialog, id);
                shown << field->text();
                QCOMPARE(field->echoMode(), QLineEdit::Normal);
                field->setText(QString("typed %1").arg(id));
            }
            auto* passive = dialog->findChild<QCheckBox*>("m_chkPassive");
            QCOMPARE(passive->text(), QString("Passive mode"));
            passiveShown = passive->isChecked();
            passive->setChecked(false);
            QTest::mouseClick(Control<QPushButton>(dialog, ok ? 1 : 2), Qt::LeftButton);
        });
        QCOMPARE(shown, (QStringList{"ftp.example.org", kUser, kPassword, "pub"}));
        QVERIFY(passiveShown);
        if (ok) {
            QCOMPARE((QStringList{Stored("FTPSite"), Stored("FTPName"), Stored("FTPPass"),
                                  Stored("FTPDir"), Stored("FTPPassive")}),
                     (QStringList{"typed 1064", "typed 1065", "typed 1066", "typed 1067", "0"}));
        } else {
            QCOMPARE((QStringList{Stored("FTPSite"), Stored("FTPName"), Stored("FTPPass"),
                                  Stored("FTPDir"), Stored("FTPPassive")}),
                     (QStringList{"ftp.example.org", kUser, kPassword, "pub", "1"}));
        }
    }

    // Before any settings exist the fields are empty and passive mode is
    // off; OK stores four empty values, which then count as present.
    void dialogOnAnEmptyStore() {
        CameraRig rig(0);
        RunFtpSettings(rig.Window(), [&](CFtpDlg* dialog) {
            for (int id : {1064, 1065, 1066, 1067}) {
                QCOMPARE(Control<QLineEdit>(dialog, id)->text(), QString());
            }
            QVERIFY(!dialog->findChild<QCheckBox*>("m_chkPassive")->isChecked());
            QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
        });
        for (const char* name : {"FTPSite", "FTPName", "FTPPass", "FTPDir"}) {
            QCOMPARE(Stored(name), QString());
        }
        // Present, though empty: the upload goes ahead and says why it
        // cannot reach a server.
        QTemporaryDir dir;
        QFile file(dir.path() + "/p.jpg");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        std::string reason;
        QCOMPARE(FtpUploadLastPicture(file.fileName().toUtf8().constData(), &reason),
                 FtpResult::Failed);
        QVERIFY(!reason.empty());
    }

    // A store that refuses the settings turns publishing off until the box
    // is read again; its check mark stays.
    void refusedStoreTurnsPublishingOff() {
        CameraRig rig(0);
        rig.Window();
        // The store's file cannot be a file: every call fails.
        const QString storeFile = rig.home->configHome() + "/Orvandel/Tulk.conf";
        QFile::remove(storeFile);
        QVERIFY(QDir().mkpath(storeFile));
        auto* box = rig.Find<QAbstractButton>("m_chkUploadFtp");
        box->setChecked(true);
        g_nUploadToFtp = 1;
        RunFtpSettings(rig.Window(), [&](CFtpDlg* dialog) {
            Control<QLineEdit>(dialog, 1064)->setText("ftp.example.org");
            QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
        });
        QCOMPARE(g_nUploadToFtp.load(), 0);
        QVERIFY(box->isChecked());
        QVERIFY(!box->isDown());
    }

    // The remote file's address from the site and the folder.
    void fileAddress_data() {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("explicitTls");
        QTest::newRow("host") << "example.org"
                              << "www"
                              << "ftp://example.org/www/f.jpg" << false;
        QTest::newRow("port, blanks") << " 10.0.0.2:2121 "
                                      << ""
                                      << "ftp://10.0.0.2:2121/f.jpg" << false;
        QTest::newRow("ftp://, path ignored") << "ftp://example.org/ignored"
                                              << "a/b/"
                                              << "ftp://example.org/a/b/f.jpg" << false;
        QTest::newRow("ftps") << "FTPS://example.org"
                              << "x"
                              << "ftps://example.org/x/f.jpg" << false;
        QTest::newRow("ftpes") << "ftpes://example.org:21"
                               << ""
                               << "ftp://example.org:21/f.jpg" << true;
        QTest::newRow("from the root") << "example.org"
                                       << "/pub//cam"
                                       << "ftp://example.org/%2Fpub/cam/f.jpg" << false;
        QTest::newRow("odd characters") << "example.org"
                                        << "my pics/#1?"
                                        << "ftp://example.org/my%20pics/%231%3F/f.jpg" << false;
        QTest::newRow("no host") << "ftp://"
                                 << "www"
                                 << "" << false;
        QTest::newRow("empty") << ""
                               << ""
                               << "" << false;
    }
    void fileAddress() {
        QFETCH(QString, site);
        QFETCH(QString, dir);
        QFETCH(QString, url);
        QFETCH(bool, explicitTls);
        bool tls = !explicitTls;
        QCOMPARE(QString::fromStdString(
                     FtpFileUrl(site.toStdString(), dir.toStdString(), "f.jpg", &tls)),
                 url);
        if (!url.isEmpty()) {
            QCOMPARE(tls, explicitTls);
        }
    }
};

QTEST_MAIN(FtpPublishTest)
#include "ftp_publish_test.moc"
