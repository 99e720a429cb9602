// The window never hangs and never freezes: every handler that waits for the
// camera over the serial line at its real rate keeps the window's timers and
// painting going and leaves the user's input queued until it has ended; a box
// that a camera operation asks for comes when the link is free, so a click
// that needs the link meanwhile goes through; Get All Files shows its
// progress, can be cancelled and leaves nothing partial; and the window run
// as the program runs it (exec) takes dropped files.
#include <qpa/qwindowsysteminterface.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

#include "app/ProgressWindow.h"
#include "tests/app/camera_rig.h"
#include "tests/app/platform/file_size_limit.h"

using namespace std::chrono_literals;

namespace {

// Every file below the folder, hidden ones included, by name, but a time
// lapse's journal.
QStringList FilesIn(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!IsRunJournal(path)) {
            files << QFileInfo(path).fileName();
        }
    }
    files.sort();
    return files;
}

int Snapshots(const CameraRig& rig) {
    return static_cast<int>(rig.camera.snapshotTimes().size());
}

// Input as the window system brings it: queued for the window's thread,
// never handed straight to the widget.
void PostKey(QWidget* window, int key, const QString& text) {
    QWindow* handle = window->window()->windowHandle();
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
        handle, QEvent::KeyPress, key, Qt::NoModifier, text);
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
        handle, QEvent::KeyRelease, key, Qt::NoModifier, text);
}
void PostClick(QWidget* button) {
    QWidget* top = button->window();
    QWindow* handle = top->windowHandle();
    const QPointF local = button->mapTo(top, button->rect().center());
    const QPointF global = button->mapToGlobal(button->rect().center());
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        handle, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        handle, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

// While a handler runs: a timer of the window thread's own ticks, asks the
// window to repaint and counts the paints, and at its first tick posts the
// user's input.
class Watch : public QObject {
public:
    Watch(QWidget* window, std::function<void()> input) : window_(window), input_(input) {
        window_->installEventFilter(this);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            if (!busy) {
                return;
            }
            ++ticks;
            window_->update();
            if (input_) {
                std::exchange(input_, nullptr)();
            }
        });
        timer_.start(20);
    }
    ~Watch() override { window_->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (busy && watched == window_ && event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    bool busy = false;
    int ticks = 0;
    int paints = 0;

private:
    QWidget* window_;
    std::function<void()> input_;
    QTimer timer_;
};

struct SaveFolder {
    QTemporaryDir dir;
    QString path = dir.path() + "/pictures";
    SaveFolder() { QDir().mkpath(path); }
};

void ConnectSerialInto(CameraRig& rig, const SaveFolder& folder, std::int32_t speedPosition) {
    std::string text = folder.path.toStdString();
    SettingString("SaveFolder", &text, 1);
    rig.Window();
    rig.ConnectSerial(speedPosition);
    QCOMPARE(g_bConnected.load(), 1);
    rig.camera.setPacing(true);
}

enum class Handler {
    Connect,
    GetInfo,
    TakePicture,
    Preview,
    RunPreview,
    GetLast,
    DeleteAll,
    Upload,
    RegisterDump,
    RegisterRead
};

}  // namespace

class ResponsiveTest : public QObject {
    Q_OBJECT
private slots:
    // Each handler that can take more than 100 ms: a window timer fires and
    // the window paints while it runs; a key typed meanwhile reaches its
    // field only after the handler has returned.
    void handlersKeepTheWindowAlive_data() {
        QTest::addColumn<Handler>("handler");
        QTest::addColumn<int>("speedPosition");
        QTest::newRow("Connect, 9600") << Handler::Connect << 1;
        QTest::newRow("Get Info, 9600") << Handler::GetInfo << 1;
        QTest::newRow("Take a Picture, 9600") << Handler::TakePicture << 1;
        QTest::newRow("Take A Preview, 115200") << Handler::Preview << 5;
        QTest::newRow("Run Preview, 115200") << Handler::RunPreview << 5;
        QTest::newRow("Get Last, 9600") << Handler::GetLast << 1;
        QTest::newRow("Delete All Images, 9600") << Handler::DeleteAll << 1;
        QTest::newRow("upload, 9600") << Handler::Upload << 1;
        QTest::newRow("All Register Dump, 115200") << Handler::RegisterDump << 5;
        QTest::newRow("Read, 9600") << Handler::RegisterRead << 1;
    }
    void handlersKeepTheWindowAlive() {
        QFETCH(Handler, handler);
        QFETCH(int, speedPosition);
        CameraRig rig;
        SaveFolder folder;
        BoxRecorder boxes;
        boxes.answer(QMessageBox::Yes);
        rig.camera.setActionTime(C990_C2_SNAPSHOT, 300ms);
        rig.camera.setActionTime(ERASEALL, 300ms);
        QTemporaryDir files;
        const QString upload = files.path() + "/upload.jpg";
        QImage(96, 64, QImage::Format_RGB32).save(upload, "JPEG");
        if (handler == Handler::Connect) {
            std::string text = folder.path.toStdString();
            SettingString("SaveFolder", &text, 1);
            rig.Window();
            rig.camera.setPacing(true);
            const std::string path = rig.camera.startSerial();
            eph_setportmap({{1, path}});
            std::int32_t port = 1;
            SettingDword("SerialPort", &port, 1);
            SettingDword("SerialSpeed", &speedPosition, 1);
        } else {
            ConnectSerialInto(rig, folder, speedPosition);
        }
        if (handler == Handler::RunPreview) {
            rig.Find<QAbstractButton>("m_chkRunPreview")->setChecked(true);
        }
        auto* field = rig.Find<QLineEdit>("m_editRegister");
        field->setText("1");
        field->setFocus();
        const int before = Snapshots(rig);
        Watch watch(&rig.Window(), [&] { PostKey(&rig.Window(), Qt::Key_7, "7"); });

        watch.busy = true;
        switch (handler) {
            case Handler::Connect:
                rig.Click("btnConnect");
                break;
            case Handler::GetInfo:
                rig.Click("btnGetInfo");
                break;
            case Handler::TakePicture:
                rig.Click("btnTakePicture");
                break;
            case Handler::Preview:
            case Handler::RunPreview:
                rig.Click("btnTakePreview");
                break;
            case Handler::GetLast:
                rig.Click("btnGetLast");
                break;
            case Handler::DeleteAll:
                rig.Click("btnDeleteAll");
                break;
            case Handler::Upload:
                // The upload runs when the drop has ended, inside this.
                rig.DropFiles({upload});
                break;
            case Handler::RegisterDump:
                rig.Click("btnRegisterDump");
                break;
            case Handler::RegisterRead:
                rig.Click("btnRegisterRead");
                break;
        }
        watch.busy = false;
        const QString atReturn = field->text();

        QVERIFY2(watch.ticks > 0, "no timer of the window fired while the handler ran");
        QVERIFY2(watch.paints > 0, "the window did not paint while the handler ran");
        QCOMPARE(atReturn, QString("1"));
        QTRY_COMPARE(field->text(), QString("17"));
        // The handler did its work.
        switch (handler) {
            case Handler::Connect:
                QCOMPARE(g_bConnected.load(), 1);
                QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("3"));
                break;
            case Handler::GetInfo:
                QCOMPARE(rig.Find<QComboBox>("m_cbFlash")->currentIndex() >= 0, true);
                break;
            case Handler::TakePicture:
                QCOMPARE(Snapshots(rig), before + 1);
                break;
            case Handler::Preview:
            case Handler::RunPreview:
                QVERIFY(QFileInfo::exists(folder.path + "/preview00.jpg"));
                QCOMPARE(QFileInfo::exists(folder.path + "/preview01.jpg"),
                         handler == Handler::RunPreview);
                break;
            case Handler::GetLast:
                QCOMPARE(FileBytes(folder.path + "/DSCN0003.JPG"),
                         ToBytes(rig.camera.pictures()[2].jpeg));
                break;
            case Handler::DeleteAll:
                QVERIFY(rig.camera.pictures().empty());
                break;
            case Handler::Upload:
                QCOMPARE(rig.camera.pictures().size(), std::size_t(4));
                QCOMPARE(ToBytes(rig.camera.pictures()[3].jpeg), FileBytes(upload));
                break;
            case Handler::RegisterDump:
                QVERIFY(LogText().contains("RegDump: Result for (93) was ("));
                break;
            case Handler::RegisterRead:
                // Register 1 got the value field's 1 and its own value back.
                QCOMPARE(rig.Writes(1).size(), std::size_t(2));
                QCOMPARE(rig.Writes(1).back(), rig.camera.getInt(1));
                break;
        }
    }

    // Get All Files keeps one window up for the whole run and shows which
    // picture, of how many, and how far its bytes have got. Meanwhile the
    // window's timers run and it paints, and the main window takes no input:
    // a click on Take a Picture takes no picture.
    void getAllFilesShowsItsProgress() {
        CameraRig rig;
        SaveFolder folder;
        rig.camera.addPicture(camsim::Picture{});
        ConnectSerialInto(rig, folder, 5);
        const int before = Snapshots(rig);
        Watch watch(&rig.Window(), [&] { PostClick(rig.Find<QWidget>("btnTakePicture")); });
        watch.busy = true;
        rig.Click("btnGetAllFiles");
        auto* progress = rig.Window().findChild<CProgressWindow*>("IDD_DOWNLOADING");
        QVERIFY(progress);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->windowTitle(), QString("Downloading Picture"));
        auto* item = progress->findChild<QLabel*>("labelItem");
        auto* details = progress->findChild<QLabel*>("labelDetails");
        // The big fourth picture, part-way.
        QTRY_VERIFY_WITH_TIMEOUT(
            item->text() == "DSCN0004.JPG (4 of 4)" && details->text().contains(" left"), 30000);
        QVERIFY2(details->text().contains(" of ") && details->text().contains("/s"),
                 qPrintable(details->text()));
        auto* bar = Control<QProgressBar>(progress, 1024);
        QVERIFY(bar->maximum() > 0 && bar->value() > 0 && bar->value() < bar->maximum());
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 120000);
        watch.busy = false;
        QVERIFY(watch.ticks > 0);
        QVERIFY(watch.paints > 0);
        QCOMPARE(FilesIn(folder.path),
                 (QStringList{"DSCN0001.JPG", "DSCN0002.JPG", "DSCN0003.JPG", "DSCN0004.JPG"}));
        QCoreApplication::processEvents();
        QCOMPARE(Snapshots(rig), before);
        QVERIFY(rig.Window().cursor().shape() != Qt::WaitCursor);
        // The same click once Get All Files is over takes its picture.
        PostClick(rig.Find<QWidget>("btnTakePicture"));
        QTRY_COMPARE_WITH_TIMEOUT(Snapshots(rig), before + 1, 20000);
    }

    // Cancel stops after the picture in hand: that one is whole, the later
    // ones are not fetched, and nothing partial is left.
    void cancelStopsAfterThePictureInHand() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialInto(rig, folder, 1);
        rig.Click("btnGetAllFiles");
        auto* progress = rig.Window().findChild<CProgressWindow*>("IDD_DOWNLOADING");
        auto* item = progress->findChild<QLabel*>("labelItem");
        QTRY_VERIFY_WITH_TIMEOUT(item->text() == "DSCN0002.JPG (2 of 3)", 30000);
        QTest::mouseClick(progress->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 30000);
        QCOMPARE(FilesIn(folder.path), (QStringList{"DSCN0001.JPG", "DSCN0002.JPG"}));
        QCOMPARE(FileBytes(folder.path + "/DSCN0002.JPG"), ToBytes(rig.camera.pictures()[1].jpeg));
        QVERIFY(rig.Window().cursor().shape() != Qt::WaitCursor);
    }

    // The disk fills during Get All Files: the camera layer's "Failed to
    // save image!" box comes when the link is free, and a click that needs
    // the link, made while the box is up, is carried out. Get All Files
    // then ends; no file is left partial.
    void boxDuringGetAllFilesLeavesTheLinkFree() {
        CameraRig rig;
        SaveFolder folder;
        rig.camera.addPicture(camsim::Picture{});
        ConnectSerialInto(rig, folder, 5);
        int snapshotsAtBox = -1;
        int boxesShown = 0;
        const int before = Snapshots(rig);
        SetBoxAnswerer([&](const BoxQuestion& question) {
            if (question.text.startsWith("Failed to save image! Check disk space!\n\n") &&
                boxesShown++ == 0) {
                rig.Click("btnTakePicture");
                snapshotsAtBox = Snapshots(rig);
            }
            return QMessageBox::Ok;
        });
        // The small pictures fit; the big fourth one does not.
        const long limit = static_cast<long>(rig.camera.pictures()[3].jpeg.size() / 2);
        FileSizeLimit full(limit);
        QVERIFY(full.Active());
        rig.Click("btnGetAllFiles");
        auto* progress = rig.Window().findChild<CProgressWindow*>("IDD_DOWNLOADING");
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 60000);
        SetBoxAnswerer(nullptr);
        QCOMPARE(boxesShown, 1);
        QCOMPARE(snapshotsAtBox, before + 1);
        QCOMPARE(FilesIn(folder.path),
                 (QStringList{"DSCN0001.JPG", "DSCN0002.JPG", "DSCN0003.JPG"}));
    }

    // The time lapse with Save Every Time, when the picture cannot be saved:
    // the box comes after the picture step has let go of the link; a click
    // that needs the link goes through while it is up; the time lapse goes
    // on and no partial file is left.
    void boxDuringTimeLapseLeavesTheLinkFree() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialInto(rig, folder, 5);
        rig.camera.setPacing(false);
        rig.Click("m_chkSaveEveryTime");
        rig.Find<QLineEdit>("m_editDelay")->setText("300");
        int boxes = 0;
        int snapshotsBefore = -1;
        int snapshotsAfter = -1;
        SetBoxAnswerer([&](const BoxQuestion& question) {
            if (question.text.startsWith("Failed to save image! Check disk space!\n\n") &&
                boxes++ == 0) {
                snapshotsBefore = Snapshots(rig);
                rig.Click("btnTakePicture");
                snapshotsAfter = Snapshots(rig);
            }
            return QMessageBox::Ok;
        });
        // A snapshot of 640 x 480 does not fit.
        FileSizeLimit full(4096);
        QVERIFY(full.Active());
        rig.Click("btnRunTimeLapse");
        QTRY_VERIFY_WITH_TIMEOUT(boxes >= 1 && Snapshots(rig) >= snapshotsAfter + 2, 20000);
        rig.Click("btnStopTimeLapse");
        QTRY_VERIFY(g_bTakingPicture.load() == 0);
        SetBoxAnswerer(nullptr);
        QCOMPARE(snapshotsAfter, snapshotsBefore + 1);
        // Every picture fails alike: the user is told once.
        QCOMPARE(boxes, 1);
        QCOMPARE(FilesIn(folder.path), QStringList{});
    }

    // A refused preview: its box comes when the link is free; Take a Picture
    // clicked while it is up takes its picture.
    void boxOfAFailedPreviewLeavesTheLinkFree() {
        CameraRig rig;
        SaveFolder folder;
        ConnectSerialInto(rig, folder, 5);
        rig.camera.setAction(C990_C2_PREVIEW, [](const camsim::Bytes&) { return false; });
        int snapshotsBefore = -1;
        int snapshotsAfter = -1;
        SetBoxAnswerer([&](const BoxQuestion&) {
            snapshotsBefore = Snapshots(rig);
            rig.Click("btnTakePicture");
            snapshotsAfter = Snapshots(rig);
            return QMessageBox::Ok;
        });
        rig.Click("btnTakePreview");
        SetBoxAnswerer(nullptr);
        QCOMPARE(snapshotsAfter, snapshotsBefore + 1);
        QVERIFY(!QFileInfo::exists(folder.path + "/preview00.jpg"));
        QCOMPARE(FilesIn(folder.path), QStringList{});
    }

    // The window run as the program runs it, with exec: a file dropped on it
    // is uploaded.
    void droppedFileIsUploadedUnderExec() {
        CameraRig rig;
        QTemporaryDir files;
        const QString path = files.path() + "/dropped.jpg";
        QImage(40, 30, QImage::Format_RGB32).save(path, "JPEG");
        rig.window = std::make_unique<CTulkDlg>();
        QTimer::singleShot(0, [&] {
            rig.ConnectUsb();
            rig.DropFiles({path});
        });
        // The window closes once the file is on the camera, or after a
        // while without it, so that a failure ends the test.
        QElapsedTimer waited;
        waited.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (rig.camera.pictures().size() == 4 || waited.elapsed() > 20000) {
                poll.stop();
                rig.window->reject();
            }
        });
        poll.start(50);
        rig.window->exec();
        QCOMPARE(rig.camera.pictures().size(), std::size_t(4));
        QCOMPARE(ToBytes(rig.camera.pictures()[3].jpeg), FileBytes(path));
    }
};

QTEST_MAIN(ResponsiveTest)
#include "responsive_test.moc"
