// Download and erase against the simulated camera: Get Last on the button
// and after every time-lapse picture, Get All Files with Only New, the
// camera's picture names that must not become file names, Delete Last and
// Delete All Images, and the save folder field.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>

#include "camera/download.h"
#include "tests/app/camera_rig.h"

using namespace std::chrono_literals;

namespace {

// Every file below the folder, as paths relative to it, but a time lapse's
// journal (Journals).
QStringList FilesBelow(const QString& folder, bool journals = false) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (IsRunJournal(path) == journals) {
            files << QDir(folder).relativeFilePath(path);
        }
    }
    files.sort();
    return files;
}

// The file holds the picture's bytes and carries the time it was taken.
void VerifyDownloaded(const QString& path, const camsim::Picture& picture) {
    QCOMPARE(FileBytes(path), ToBytes(picture.jpeg));
    long long when = 0;
    QVERIFY(CameraTimeToLocal(*picture.taken, &when));
    QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), when);
}

int Count(const CameraRig& rig, int command, int reg) {
    int n = 0;
    for (const auto& c : rig.camera.commands()) {
        n += c.command == command && c.reg == reg ? 1 : 0;
    }
    return n;
}
int DataReads(const CameraRig& rig) {
    return Count(rig, 4, C990_FRAMEDATA);
}

// A save folder two levels down a scratch folder, so that a name reaching
// out of it still lands where the test can see it.
struct SaveFolder {
    QTemporaryDir scratch;
    QString path = scratch.path() + "/a/b";
    SaveFolder() { QDir().mkpath(path); }
};

void ConnectInto(CameraRig& rig, const SaveFolder& folder) {
    std::string text = folder.path.toStdString();
    SettingString("SaveFolder", &text, 1);
    rig.ConnectUsb();
    QCOMPARE(QDir::currentPath(), folder.path);
}

// Over the serial line, with a fourth picture of the camera's full
// snapshot size, so that a download at the real line rate takes a while.
void ConnectSerialWithALargePicture(CameraRig& rig, const SaveFolder& folder) {
    rig.camera.addPicture(camsim::Picture{});
    std::string text = folder.path.toStdString();
    SettingString("SaveFolder", &text, 1);
    // The window installs its own port map when it opens.
    rig.Window();
    rig.ConnectSerial();
}

void WaitForGetAllFiles(CameraRig& rig) {
    QTRY_VERIFY_WITH_TIMEOUT(g_bDownloading.load() == 0, 20000);
    // The indicator goes when the last worker asks for it to go.
    QTRY_VERIFY(!rig.Window().findChild<QDialog*>("IDD_DOWNLOADING") ||
                !rig.Window().findChild<QDialog*>("IDD_DOWNLOADING")->isVisible());
}

}  // namespace

class DownloadTest : public QObject {
    Q_OBJECT
private slots:
    void init() { g_bDeleteAfterDownload = 0; }

    // Get Last on the button never erases, "Delete After Download" or not.
    void getLastDownloadsTheNewestPicture_data() {
        QTest::addColumn<bool>("deleteAfter");
        QTest::newRow("keep") << false;
        QTest::newRow("delete after") << true;
    }
    void getLastDownloadsTheNewestPicture() {
        QFETCH(bool, deleteAfter);
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        rig.Find<QAbstractButton>("m_chkDeleteAfter")->setChecked(deleteAfter);
        rig.camera.clearRecord();
        rig.Click("btnGetLast");
        const auto pictures = rig.camera.pictures();
        QCOMPARE(pictures.size(), std::size_t(3));
        QCOMPARE(FilesBelow(folder.scratch.path()), QStringList{"a/b/DSCN0003.JPG"});
        VerifyDownloaded(folder.path + "/DSCN0003.JPG", pictures[2]);
        QCOMPARE(Count(rig, 2, ERASELAST), 0);
        QCOMPARE(g_bDeleteAfterDownload.load(), deleteAfter ? 1 : 0);
    }

    // Names from the camera that are no plain file name give way to the
    // made-up name, and nothing is written outside the save folder.
    void hostileNamesAreNotUsed_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("up two") << "../../evil.jpg";
        QTest::newRow("up one") << "..";
        QTest::newRow("here") << ".";
        QTest::newRow("into a folder") << "sub/x.jpg";
        QTest::newRow("backslash") << "..\\..\\evil.jpg";
        QTest::newRow("absolute") << "ABSOLUTE";
        QTest::newRow("control character") << "bad\nname.jpg";
        QTest::newRow("empty") << "";
    }
    void hostileNamesAreNotUsed() {
        QFETCH(QString, name);
        CameraRig rig;
        SaveFolder folder;
        if (name == "ABSOLUTE") {
            name = folder.scratch.path() + "/evil.jpg";
        }
        camsim::Picture hostile;
        hostile.name = name.toStdString();
        rig.camera.addPicture(hostile);
        ConnectInto(rig, folder);
        rig.Click("btnGetLast");
        QCOMPARE(FilesBelow(folder.scratch.path()), QStringList{"a/b/dsn0004.jpg"});
        VerifyDownloaded(folder.path + "/dsn0004.jpg", rig.camera.pictures()[3]);

        // Get All Files names it by its number, the others by their names.
        QFile::remove(folder.path + "/dsn0004.jpg");
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QCOMPARE(FilesBelow(folder.scratch.path()),
                 (QStringList{"a/b/DSCN0001.JPG", "a/b/DSCN0002.JPG", "a/b/DSCN0003.JPG",
                              "a/b/dscn0004.jpg"}));
        VerifyDownloaded(folder.path + "/dscn0004.jpg", rig.camera.pictures()[3]);
    }

    // Names are the camera's bytes: the longest a folder can carry is
    // saved as it is, a longer one is cut to that, one that is no valid
    // text is kept byte for byte, and Only New knows each of them again.
    void everyNameIsSavedAndKnownAgain_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray longest = QByteArray(251, 'L') + ".JPG";
        QTest::newRow("255 bytes") << longest << longest;
        QTest::newRow("242 bytes")
            << QByteArray(238, 'M') + ".JPG" << QByteArray(238, 'M') + ".JPG";
        QTest::newRow("cut to 255") << QByteArray(300, 'N') << QByteArray(255, 'N');
        QTest::newRow("not UTF-8")
            << QByteArray("PIC\xff\xfe\xe9.JPG") << QByteArray("PIC\xff\xfe\xe9.JPG");
    }
    void everyNameIsSavedAndKnownAgain() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, saved);
        CameraRig rig(0);
        SaveFolder folder;
        camsim::Picture picture;
        picture.name = name.toStdString();
        rig.camera.addPicture(picture);
        ConnectInto(rig, folder);
        rig.Click("m_chkOnlyNew");
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        const std::filesystem::path file =
            std::filesystem::path(folder.path.toStdString()) / saved.toStdString();
        QVERIFY(std::filesystem::is_regular_file(file));
        QCOMPARE(std::distance(std::filesystem::directory_iterator(folder.path.toStdString()),
                               std::filesystem::directory_iterator()),
                 1);
        QCOMPARE(std::filesystem::file_size(file), rig.camera.pictures()[0].jpeg.size());
        rig.camera.clearRecord();
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QCOMPARE(DataReads(rig), 0);
    }

    // A longest name that is taken by another picture has no numbered form
    // the folder can carry: the picture takes the made-up name instead.
    void takenLongestNameFallsBackToTheMadeUpName() {
        CameraRig rig(0);
        SaveFolder folder;
        const QString longest = QString(251, 'L') + ".JPG";
        camsim::Picture picture;
        picture.name = longest.toStdString();
        rig.camera.addPicture(picture);
        ConnectInto(rig, folder);
        QFile there(folder.path + "/" + longest);
        QVERIFY(there.open(QIODevice::WriteOnly));
        there.write("another picture");
        there.close();
        rig.Click("btnGetLast");
        QCOMPARE(FilesBelow(folder.path), (QStringList{longest, "dsn0001.jpg"}));
        QCOMPARE(FileBytes(folder.path + "/" + longest), QByteArray("another picture"));
        VerifyDownloaded(folder.path + "/dsn0001.jpg", rig.camera.pictures()[0]);
    }

    // A folder that cannot take pictures fails every picture: the user is
    // told once, with the folder and the reason, and again at the next
    // piece of work.
    void unwritableFolderIsToldOnce() {
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        BoxRecorder boxes;
        boxes.answer(QMessageBox::Ok);
        boxes.answer(QMessageBox::Ok);
        QVERIFY(QDir(folder.path).removeRecursively());
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QTRY_COMPARE(boxes.asked().size(), 1);
        QCOMPARE(DataReads(rig), 3);
        const QString told =
            "Failed to save image!\n\n" + folder.path + ": No such file or directory";
        QCOMPARE(boxes.asked()[0].text, told);
        rig.Click("btnGetLast");
        QTRY_COMPARE(boxes.asked().size(), 2);
        QCOMPARE(boxes.asked()[1].text, told);
        QVERIFY(FilesBelow(folder.scratch.path()).isEmpty());
    }

    // A name the camera will not give makes up the name from the count.
    void unreadableNameIsMadeUp() {
        CameraRig rig;
        SaveFolder folder;
        rig.camera.setRefused(C990_FRAMENAME, true);
        ConnectInto(rig, folder);
        rig.Click("btnGetLast");
        QCOMPARE(FilesBelow(folder.path), QStringList{"dsn0003.jpg"});
        QVERIFY(LogText().contains("Failed to get name from camera"));
    }

    // The time lapse with "Save Every Time" downloads each picture; it
    // erases it only when "Delete After Download" was on at the last Get
    // Last, and never after a download that failed.
    void timeLapseSavesEveryPicture_data() {
        QTest::addColumn<bool>("deleteAfter");
        QTest::addColumn<bool>("dataRefused");
        QTest::newRow("keep") << false << false;
        QTest::newRow("delete after") << true << false;
        QTest::newRow("delete after, download fails") << true << true;
    }
    void timeLapseSavesEveryPicture() {
        QFETCH(bool, deleteAfter);
        QFETCH(bool, dataRefused);
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        rig.Find<QAbstractButton>("m_chkDeleteAfter")->setChecked(deleteAfter);
        rig.Click("btnGetLast");
        QVERIFY(QFile::remove(folder.path + "/DSCN0003.JPG"));
        rig.Click("m_chkSaveEveryTime");
        rig.camera.setRefused(C990_FRAMEDATA, dataRefused);
        rig.camera.clearRecord();
        rig.Find<QLineEdit>("m_editDelay")->setText("100");
        rig.Click("btnRunTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(rig.camera.snapshotTimes().size() >= 2, 10000);
        rig.Click("btnStopTimeLapse");
        QTRY_VERIFY(g_bTakingPicture.load() == 0);
        const int taken = static_cast<int>(rig.camera.snapshotTimes().size());
        const int erased = Count(rig, 2, ERASELAST);
        const auto pictures = rig.camera.pictures();
        // The run's journal is in the save folder, and the status line
        // names it while the run goes on.
        QCOMPARE(FilesBelow(folder.path, true).size(), 1);

        if (dataRefused) {
            QCOMPARE(erased, 0);
            QCOMPARE(pictures.size(), std::size_t(3 + taken));
            QVERIFY(FilesBelow(folder.scratch.path()).isEmpty());
            return;
        }
        QCOMPARE(DataReads(rig), taken);
        QCOMPARE(erased, deleteAfter ? taken : 0);
        QCOMPARE(pictures.size(), std::size_t(deleteAfter ? 3 : 3 + taken));
        QStringList expected;
        for (int i = 0; i < taken; ++i) {
            // Snapshot names count on from the three pictures there were.
            expected << QString("DSCN%1.JPG").arg(4 + i, 4, 10, QChar('0'));
        }
        QCOMPARE(FilesBelow(folder.path), expected);
        if (!deleteAfter) {
            for (int i = 0; i < taken; ++i) {
                VerifyDownloaded(folder.path + "/" + expected[i], pictures[3 + i]);
            }
        }
        // Each erase follows its picture's download.
        int downloadsSeen = 0;
        for (const auto& c : rig.camera.commands()) {
            if (c.command == 4 && c.reg == C990_FRAMEDATA) {
                ++downloadsSeen;
            } else if (c.command == 2 && c.reg == ERASELAST) {
                QVERIFY(downloadsSeen > 0);
                --downloadsSeen;
            }
        }
    }

    void getAllFilesWritesEveryPicture() {
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        const auto pictures = rig.camera.pictures();
        QCOMPARE(FilesBelow(folder.scratch.path()),
                 (QStringList{"a/b/DSCN0001.JPG", "a/b/DSCN0002.JPG", "a/b/DSCN0003.JPG"}));
        for (int i = 0; i < 3; ++i) {
            VerifyDownloaded(folder.path + QString("/DSCN000%1.JPG").arg(i + 1), pictures[i]);
        }
        auto* indicator = rig.Window().findChild<QDialog*>("IDD_DOWNLOADING");
        QVERIFY(indicator);
        QCOMPARE(indicator->windowTitle(), QString("Downloading Picture"));
        QVERIFY(Control<QProgressBar>(indicator, 1024));
        QCOMPARE(Count(rig, 2, ERASELAST) + Count(rig, 2, ERASEALL), 0);
    }

    // A second camera whose pictures carry the same names as the first's:
    // a picture with other bytes takes the next free name, one with the
    // same bytes leaves the file as it is; Get Last alike.
    void sameNamesNeverOverwriteAnotherPicture() {
        SaveFolder folder;
        std::vector<camsim::Picture> first;
        {
            CameraRig rig;
            ConnectInto(rig, folder);
            rig.Click("btnGetAllFiles");
            WaitForGetAllFiles(rig);
            first = rig.camera.pictures();
        }
        // The second camera: its DSCN0001.JPG is the first camera's second
        // picture, its DSCN0002.JPG that same picture again.
        QTemporaryDir store;
        for (const char* name : {"DSCN0001.JPG", "DSCN0002.JPG"}) {
            QFile file(store.path() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ToBytes(first[1].jpeg));
        }
        CameraRig rig(0);
        QCOMPARE(rig.camera.loadPictures(store.path().toStdString()), 2);
        ConnectInto(rig, folder);
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QCOMPARE(FilesBelow(folder.path),
                 (QStringList{"DSCN0001-1.JPG", "DSCN0001.JPG", "DSCN0002.JPG", "DSCN0003.JPG"}));
        QCOMPARE(FileBytes(folder.path + "/DSCN0001.JPG"), ToBytes(first[0].jpeg));
        QCOMPARE(FileBytes(folder.path + "/DSCN0001-1.JPG"), ToBytes(first[1].jpeg));
        QCOMPARE(FileBytes(folder.path + "/DSCN0002.JPG"), ToBytes(first[1].jpeg));
        QCOMPARE(FileBytes(folder.path + "/DSCN0003.JPG"), ToBytes(first[2].jpeg));
        QVERIFY(LogText().contains("already saved as " + folder.path + "/DSCN0002.JPG\r\n"));
        QVERIFY(LogText().contains("saved as " + folder.path + "/DSCN0001-1.JPG\r\n"));
        // Get Last of the same picture again: still one file of it.
        rig.Click("btnGetLast");
        QCOMPARE(FilesBelow(folder.path).size(), 4);
    }

    // The questions that end work or erase pictures have No as their
    // default: Return on a real box keeps everything. Delete All says how
    // many pictures would go.
    void returnOnTheQuestionsKeepsEverything() {
        CameraRig rig;
        rig.ConnectUsb();
        QString informative;
        int boxes = 0;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++boxes;
                informative = box->informativeText();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        answer.start(20);
        rig.Click("btnDeleteAll");
        QCOMPARE(boxes, 1);
        QCOMPARE(informative, QString("3 pictures will be erased from the camera."));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(3));
        QCOMPARE(Count(rig, 2, ERASEALL), 0);
        rig.Click("btnQuit");
        QCOMPARE(boxes, 2);
        QVERIFY(rig.Window().isVisible());
        QCOMPARE(g_bConnected.load(), 1);
    }

    // Only New skips the names already in the folder, whatever they hold,
    // and fetches the rest; without it everything is fetched again.
    void onlyNewSkipsWhatIsThere_data() {
        QTest::addColumn<bool>("onlyNew");
        QTest::newRow("only new") << true;
        QTest::newRow("all") << false;
    }
    void onlyNewSkipsWhatIsThere() {
        QFETCH(bool, onlyNew);
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        QFile there(folder.path + "/DSCN0002.JPG");
        QVERIFY(there.open(QIODevice::WriteOnly));
        there.write("not the picture");
        there.close();
        if (onlyNew) {
            rig.Click("m_chkOnlyNew");
        }
        QCOMPARE(g_bOnlyNew.load(), onlyNew ? 1 : 0);
        rig.camera.clearRecord();
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        const auto pictures = rig.camera.pictures();
        QCOMPARE(DataReads(rig), onlyNew ? 2 : 3);
        VerifyDownloaded(folder.path + "/DSCN0001.JPG", pictures[0]);
        VerifyDownloaded(folder.path + "/DSCN0003.JPG", pictures[2]);
        // The file there is never replaced: without Only New the picture
        // takes the next free name.
        QCOMPARE(FileBytes(folder.path + "/DSCN0002.JPG"), QByteArray("not the picture"));
        if (onlyNew) {
            QVERIFY(!QFileInfo::exists(folder.path + "/DSCN0002-1.JPG"));
        } else {
            VerifyDownloaded(folder.path + "/DSCN0002-1.JPG", pictures[1]);
        }
    }

    // A transfer the camera breaks off leaves no file, so the next Get All
    // Files with Only New fetches the picture.
    void failedTransferIsFetchedNextTime() {
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        rig.Click("m_chkOnlyNew");
        rig.camera.setRefused(C990_FRAMEDATA, true);
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QVERIFY(FilesBelow(folder.scratch.path()).isEmpty());
        rig.camera.setRefused(C990_FRAMEDATA, false);
        rig.camera.clearRecord();
        rig.Click("btnGetAllFiles");
        WaitForGetAllFiles(rig);
        QCOMPARE(DataReads(rig), 3);
        QCOMPARE(FilesBelow(folder.path).size(), 3);
        VerifyDownloaded(folder.path + "/DSCN0002.JPG", rig.camera.pictures()[1]);
    }
    void deleteLastErasesWithoutAsking() {
        CameraRig rig;
        BoxRecorder boxes;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Click("btnDeleteLast");
        QVERIFY(boxes.asked().isEmpty());
        QCOMPARE(rig.Actions(ERASELAST), (std::vector<camsim::Bytes>{{0}}));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(2));
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("2"));
    }

    void deleteLastRefusedIsLogged() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.setAction(ERASELAST, [](const camsim::Bytes&) { return false; });
        rig.Click("btnDeleteLast");
        QVERIFY(LogText().contains("ERASELAST failed"));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(3));
    }

    // Delete All Images asks once and erases only on Yes.
    void deleteAllAsksFirst_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("yes") << QMessageBox::Yes << 0;
        QTest::newRow("no") << QMessageBox::No << 3;
        QTest::newRow("closed") << QMessageBox::NoButton << 3;
    }
    void deleteAllAsksFirst() {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, left);
        CameraRig rig;
        BoxRecorder boxes;
        boxes.answer(answer);
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Click("btnDeleteAll");
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].text, QString("Are You Sure ?"));
        QCOMPARE(rig.Actions(ERASEALL).size(), std::size_t(left == 0 ? 1 : 0));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(left));
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString::number(left));
    }

    // A camera without pictures: nothing is asked, erased or downloaded.
    void emptyCameraDoesNothing() {
        CameraRig rig;
        SaveFolder folder;
        BoxRecorder boxes;
        boxes.answer(QMessageBox::Yes);
        ConnectInto(rig, folder);
        rig.Click("btnDeleteAll");
        QCOMPARE(rig.camera.pictures().size(), std::size_t(0));
        rig.camera.clearRecord();
        for (const char* button :
             {"btnDeleteAll", "btnDeleteLast", "btnGetLast", "btnGetAllFiles"}) {
            rig.Click(button);
        }
        WaitForGetAllFiles(rig);
        QCOMPARE(boxes.asked().size(), 1);
        for (const auto& c : rig.camera.commands()) {
            QVERIFY(c.command == 1);  // the counters only
        }
        QVERIFY(FilesBelow(folder.scratch.path()).isEmpty());
    }

    // Without a camera the buttons do nothing at all.
    void buttonsNeedAConnection() {
        CameraRig rig;
        BoxRecorder boxes;
        boxes.answer(QMessageBox::Yes);
        for (const char* button :
             {"btnDeleteAll", "btnDeleteLast", "btnGetLast", "btnGetAllFiles"}) {
            rig.Click(button);
        }
        QVERIFY(boxes.asked().isEmpty());
        QCOMPARE(g_bDownloading.load(), 0);
        QVERIFY(rig.camera.commands().empty());
    }

    // Leaving the field stores its folder and moves the pictures there; a
    // folder that does not exist is made; one that cannot be used gives a
    // box with the reason, is not stored, and the field and the pictures
    // stay with the folder in use.
    void saveFolderField_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("reason");
        QTest::newRow("existing") << "a/b" << true << "";
        QTest::newRow("missing, made") << "a/new/deeper" << true << "";
        QTest::newRow("a file in its place")
            << "a/file" << false << "Something that is not a folder has that name.";
        QTest::newRow("below a file")
            << "a/file/sub" << false << "It cannot be made: Not a directory.";
    }
    void saveFolderField() {
        QFETCH(QString, typed);
        QFETCH(bool, usable);
        QFETCH(QString, reason);
        CameraRig rig;
        SaveFolder folder;
        BoxRecorder boxes;
        QFile file(folder.scratch.path() + "/a/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ConnectInto(rig, folder);
        const QString wanted = folder.scratch.path() + "/" + typed;
        rig.TypeAndLeave("m_editSaveFolder", wanted);
        std::string stored;
        QCOMPARE(SettingString("SaveFolder", &stored, 0), 0);
        const QString inUse = usable ? wanted : folder.path;
        QCOMPARE(QString::fromStdString(stored), inUse);
        QCOMPARE(rig.Find<QLineEdit>("m_editSaveFolder")->text(), inUse);
        QCOMPARE(QDir::currentPath(), QDir(inUse).canonicalPath());
        if (usable) {
            QVERIFY(boxes.asked().isEmpty());
        } else {
            QCOMPARE(boxes.asked().size(), 1);
            QCOMPARE(boxes.asked()[0].text,
                     QString("Pictures cannot be saved in \"%1\".").arg(wanted));
            QVERIFY2(boxes.asked()[0].informative.startsWith(reason),
                     qPrintable(boxes.asked()[0].informative));
        }
        // Get Last goes where the field says.
        rig.Click("btnGetLast");
        QVERIFY(QFileInfo::exists(inUse + "/DSCN0003.JPG"));
    }
    // While a worker downloads, the indicator window is up with its busy bar
    // and the wait cursor shows; both go when the last worker ends. The
    // camera sends at the real line rate so that a download takes a while.
    void indicatorIsUpWhileDownloading() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialWithALargePicture(rig, folder);
        QCOMPARE(g_bConnected.load(), 1);
        rig.camera.setPacing(true);
        QVERIFY(rig.Window().cursor().shape() != Qt::WaitCursor);
        rig.Click("btnGetAllFiles");
        QTRY_VERIFY_WITH_TIMEOUT(DataReads(rig) == 4 && g_bDownloading.load() == 1, 20000);
        auto* indicator = rig.Window().findChild<QDialog*>("IDD_DOWNLOADING");
        QVERIFY(indicator);
        QTRY_VERIFY(indicator->isVisible());
        // Over the main window, not over the indicator's Cancel.
        QCOMPARE(rig.Window().cursor().shape(), Qt::WaitCursor);
        QVERIFY(!QApplication::overrideCursor());
        WaitForGetAllFiles(rig);
        QVERIFY(!indicator->isVisible());
        QVERIFY(rig.Window().cursor().shape() != Qt::WaitCursor);
        VerifyDownloaded(folder.path + "/DSCN0004.JPG", rig.camera.pictures()[3]);
    }
    // The camera falls silent part-way through a picture's data: no file is
    // left of it, and the next Get All Files with Only New fetches it.
    void transferBrokenOffMidwayLeavesNoFile() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialWithALargePicture(rig, folder);
        QCOMPARE(g_bConnected.load(), 1);
        rig.Click("m_chkOnlyNew");
        rig.camera.setPacing(true);
        rig.camera.clearRecord();
        rig.Click("btnGetAllFiles");
        QTRY_VERIFY_WITH_TIMEOUT(rig.camera.selectedPicture() == 4 && DataReads(rig) == 4, 20000);
        // Let some of its data packets through first.
        QTest::qWait(300);
        rig.camera.setSilent(true);
        WaitForGetAllFiles(rig);
        QCOMPARE(FilesBelow(folder.scratch.path()),
                 (QStringList{"a/b/DSCN0001.JPG", "a/b/DSCN0002.JPG", "a/b/DSCN0003.JPG"}));
        rig.camera.setSilent(false);
        rig.camera.setPacing(false);
        rig.camera.clearRecord();
        // The link may need a try or two to find the camera again.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                rig.Click("btnGetAllFiles");
                WaitForGetAllFiles(rig);
                return QFileInfo::exists(folder.path + "/DSCN0004.JPG");
            }(),
            30000);
        VerifyDownloaded(folder.path + "/DSCN0004.JPG", rig.camera.pictures()[3]);
        // The camera answers again, and the window says so.
        QVERIFY2(rig.Window().StatusLine().startsWith("Connected: "),
                 qPrintable(rig.Window().StatusLine()));
        QVERIFY(rig.Find<QLineEdit>("m_editPictures")->isEnabled());
    }
    // The folder picked while a picture is on its way does not move it: it
    // lands whole in the folder it was asked for, and nothing is left over.
    void folderChangedDuringADownload() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialWithALargePicture(rig, folder);
        rig.camera.setPacing(true);
        QTemporaryDir other;
        // The user leaves the field with another folder while the picture's
        // bytes are coming.
        bool changed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (DataReads(rig) == 1) {
                poll.stop();
                rig.TypeAndLeave("m_editSaveFolder", other.path());
                changed = true;
            }
        });
        poll.start(10);
        rig.Click("btnGetLast");
        QVERIFY(changed);
        QCOMPARE(QDir::currentPath(), QDir(other.path()).canonicalPath());
        VerifyDownloaded(folder.path + "/DSCN0004.JPG", rig.camera.pictures()[3]);
        QCOMPARE(FilesBelow(folder.path).size(), 1);
        QVERIFY(FilesBelow(other.path()).isEmpty());
    }
    // Quitting while a worker downloads waits for it before the link is
    // signed off.
    void quitWaitsForTheDownload() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialWithALargePicture(rig, folder);
        QCOMPARE(g_bConnected.load(), 1);
        rig.camera.setPacing(true);
        rig.Click("btnGetAllFiles");
        QTRY_VERIFY_WITH_TIMEOUT(DataReads(rig) == 4 && g_bDownloading.load() == 1, 20000);
        rig.window.reset();
        QCOMPARE(g_bDownloading.load(), 0);
        QCOMPARE(g_bConnected.load(), 0);
        const auto commands = rig.camera.commands();
        QVERIFY(!commands.empty());
        QCOMPARE(commands.back().reg, C990_SIGNOFF);
        VerifyDownloaded(folder.path + "/DSCN0004.JPG", rig.camera.pictures()[3]);
    }
};

QTEST_MAIN(DownloadTest)
#include "download_test.moc"
