// Upload to the camera against the simulated camera: files dropped on the
// window and "Select File" with its dialog, the camera's free memory and
// frames, and every refusal with its box and log line.
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <chrono>
#include <functional>
#include <memory>

#include "tests/app/camera_rig.h"

using namespace std::chrono_literals;

namespace {

// Files to send, in a folder of their own.
struct Files {
    QTemporaryDir dir;
    QString Jpeg(const QString& name, int width, int height, QColor colour) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = dir.filePath(name);
        image.save(path, "JPEG");
        return path;
    }
    QString Raw(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(bytes);
        }
        return path;
    }
};

// What a file manager does: the drag comes into the window over the save
// folder field and the files are dropped there, through the window system's
// side of the window as a real drop would come.
void Drop(CameraRig& rig, const QStringList& paths) {
    rig.DropFiles(paths);
}

// Answers the file dialog when it opens, while the object lives: the test
// looks at it once, then picks a file or cancels. The answer is given again
// for as long as the dialog stays open, should the dialog's own work on its
// folder (done on a thread of its own) have undone it.
class FileDialogAnswer {
public:
    using Step = std::function<void(QFileDialog*)>;
    explicit FileDialogAnswer(Step answer, Step look = {}) {
        QObject::connect(&poll_, &QTimer::timeout, [this, answer, look] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                if (!seen_ && look) {
                    look(dialog);
                }
                seen_ = true;
                answer(dialog);
            }
        });
        poll_.start(10);
    }

private:
    QTimer poll_;
    bool seen_ = false;
};

// The user types the file's whole path and presses Open.
void Choose(QFileDialog* dialog, const QString& path) {
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) {
        name->setText(path);
    }
    static_cast<QDialog*>(dialog)->accept();
}

// The commands of an upload the camera saw, in the order it saw them: the
// free-memory read, the arming word, the data, the store.
QStringList UploadTraffic(const CameraRig& rig) {
    QStringList seen;
    for (const auto& c : rig.camera.commands()) {
        if (c.command == 1 && c.reg == AVAILMEM) {
            seen << "read free memory";
        } else if (c.command == 0 && c.reg == C990_MAGIC) {
            seen << QString("magic %1").arg(static_cast<std::uint32_t>(c.value), 0, 16);
        } else if (c.command == 3 && c.reg == C990_UPLOAD) {
            seen << QString("data %1").arg(c.data.size());
        } else if (c.command == 2 && c.reg == C2_STORE) {
            seen << QString("store %1").arg(c.data.size() == 1 ? int(c.data[0]) : -1);
        }
    }
    return seen;
}

// Makes the card's free bytes exactly this many, with the pictures it holds.
void LeaveFreeOnCard(CameraRig& rig, std::int64_t free) {
    std::int64_t used = 0;
    for (const auto& p : rig.camera.pictures()) {
        used += static_cast<std::int64_t>(p.jpeg.size() + (p.thumbnail ? p.thumbnail->size() : 0));
    }
    rig.camera.setCapacity(100, used + free);
}

const BoxQuestion& OnlyBox(const BoxRecorder& boxes) {
    static const BoxQuestion none;
    return boxes.asked().size() == 1 ? boxes.asked()[0] : none;
}

void VerifyTulkError(const BoxRecorder& boxes, const QString& text) {
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(OnlyBox(boxes).caption, QString("Tulk Error"));
    QCOMPARE(OnlyBox(boxes).text, text);
    QCOMPARE(OnlyBox(boxes).icon, QMessageBox::NoIcon);
    QCOMPARE(OnlyBox(boxes).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

}  // namespace

class UploadTest : public QObject {
    Q_OBJECT
private slots:
    // Dropped files are stored on the camera byte for byte, one after the
    // other, on either cable; nothing is shown.
    void dropSendsEveryFile_data() {
        QTest::addColumn<bool>("usb");
        QTest::newRow("serial") << false;
        QTest::newRow("usb") << true;
    }
    void dropSendsEveryFile() {
        QFETCH(bool, usb);
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString red = files.Jpeg("red.jpg", 320, 240, Qt::red);
        const QString blue = files.Jpeg("blue.tif", 64, 48, Qt::blue);
        // The window installs its own port map when it opens.
        rig.Window();
        usb ? rig.ConnectUsb() : rig.ConnectSerial();
        QCOMPARE(g_bConnected.load(), 1);
        rig.camera.clearRecord();
        Drop(rig, {red, blue});
        QTRY_COMPARE(rig.camera.pictures().size(), std::size_t(5));
        QVERIFY(boxes.asked().isEmpty());
        const auto pictures = rig.camera.pictures();
        QCOMPARE(ToBytes(pictures[3].jpeg), FileBytes(red));
        QCOMPARE(ToBytes(pictures[4].jpeg), FileBytes(blue));
        // On USB the command layer disarms the camera after each data write.
        QStringList expected;
        for (const QString& path : {red, blue}) {
            expected << "read free memory"
                     << "magic 5d21a3b" << QString("data %1").arg(FileBytes(path).size());
            if (usb) {
                expected << "magic 0";
            }
            // The counters are read again after each file the camera took.
            expected << "store 0"
                     << "read free memory";
        }
        QCOMPARE(UploadTraffic(rig), expected);
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("5"));
        QVERIFY(!QApplication::overrideCursor());
    }

    // Every refusal ends in the same box, with the reason beneath its text;
    // the detail goes to the log, and nothing is stored.
    void refusalsAreLoggedAndShown_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("traffic");
        QTest::newRow("empty file") << "empty"
                                    << "Zero length file"
                                    << "The file is empty." << QStringList{};
        QTest::newRow("missing file") << "missing"
                                      << "File doesnt exist"
                                      << "The file does not exist." << QStringList{};
        QTest::newRow("too large")
            << "large"
            << "upload free memory 1000 less than file size1001"
            << "The file (1001 bytes) is larger than the camera's free memory (1000 bytes)."
            << QStringList{"read free memory"};
        QTest::newRow("free memory unreadable")
            << "availmem"
            << "AVAILMEM"
            << "The camera did not say how much room it has." << QStringList{"read free memory"};
        QTest::newRow("arming refused")
            << "magic"
            << "C990_MAGIC"
            << "The camera refused to take an upload."
            << QStringList{"read free memory", "magic 5d21a3b", "magic 5d21a3b", "magic 5d21a3b",
                           "magic 5d21a3b"};
        // Refused before any data, four times; USB disarms all the same.
        QTest::newRow("data refused")
            << "data"
            << "C990_UPLOAD failed"
            << "The camera did not take the file's bytes."
            << QStringList{"read free memory", "magic 5d21a3b", "data 0", "data 0",
                           "data 0",           "data 0",        "magic 0"};
        QTest::newRow("store refused")
            << "store"
            << "C2_STORE"
            << "The camera did not store the file."
            // USB disarms after the data; a refused action is asked four times.
            << QStringList{"read free memory", "magic 5d21a3b", "data 1001", "magic 0",
                           "store 0",          "store 0",       "store 0",   "store 0"};
    }
    void refusalsAreLoggedAndShown() {
        QFETCH(QString, fault);
        QFETCH(QString, logLine);
        QFETCH(QString, reason);
        QFETCH(QStringList, traffic);
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        QString path = files.Raw("picture.jpg", QByteArray(1001, 'x'));
        if (fault == "empty") {
            path = files.Raw("empty.jpg", {});
        } else if (fault == "missing") {
            path = files.dir.filePath("missing.jpg");
        }
        rig.ConnectUsb();
        if (fault == "large") {
            LeaveFreeOnCard(rig, 1000);
        } else if (fault == "availmem") {
            rig.camera.setRefused(AVAILMEM, true);
        } else if (fault == "magic") {
            rig.camera.setRefused(C990_MAGIC, true);
        } else if (fault == "data") {
            rig.camera.setRefused(C990_UPLOAD, true);
        } else if (fault == "store") {
            rig.camera.setAction(C2_STORE, [](const camsim::Bytes&) { return false; });
        }
        rig.camera.clearRecord();
        Drop(rig, {path});
        QTRY_COMPARE(boxes.asked().size(), 1);
        VerifyTulkError(boxes, "Failed to upload file!");
        QCOMPARE(OnlyBox(boxes).informative, reason);
        QVERIFY2(LogText().contains(logLine), qPrintable(LogText()));
        QCOMPARE(UploadTraffic(rig).join(", "), traffic.join(", "));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(3));
    }

    // The first failure ends the whole drop: the files before it stay on the
    // camera, the ones after it are not tried.
    void dropStopsAtTheFirstFailure() {
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString first = files.Jpeg("first.jpg", 32, 32, Qt::green);
        const QString empty = files.Raw("empty.jpg", {});
        const QString last = files.Jpeg("last.jpg", 32, 32, Qt::yellow);
        rig.ConnectUsb();
        Drop(rig, {first, empty, last});
        QTRY_COMPARE(boxes.asked().size(), 1);
        VerifyTulkError(boxes, "Failed to upload file!");
        const auto pictures = rig.camera.pictures();
        QCOMPARE(pictures.size(), std::size_t(4));
        QCOMPARE(ToBytes(pictures[3].jpeg), FileBytes(first));
    }

    // The frames left decide before anything is read: a drop needs one, Select
    // File two; a count that cannot be read counts as none.
    void framesLeft_data() {
        QTest::addColumn<bool>("select");
        QTest::addColumn<int>("framesLeft");
        QTest::addColumn<QString>("box");
        QTest::newRow("drop, none left") << false << 0 << "Camera is out of memory!";
        QTest::newRow("drop, count unreadable") << false << -1 << "Camera is out of memory!";
        QTest::newRow("drop, one left") << false << 1 << "";
        QTest::newRow("select, one left") << true << 1 << "Not enough memory!";
        QTest::newRow("select, two left") << true << 2 << "";
    }
    void framesLeft() {
        QFETCH(bool, select);
        QFETCH(int, framesLeft);
        QFETCH(QString, box);
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString path = files.Jpeg("one.jpg", 40, 30, Qt::cyan);
        rig.ConnectUsb();
        if (framesLeft < 0) {
            rig.camera.setRefused(C990_FRAMESLEFT, true);
        } else {
            rig.camera.setCapacity(3 + framesLeft, 32 << 20);
        }
        rig.camera.clearRecord();
        if (select) {
            FileDialogAnswer answer([path](QFileDialog* dialog) { Choose(dialog, path); });
            rig.Click("btnSelectFile");
        } else {
            Drop(rig, {path});
        }
        if (box.isEmpty()) {
            QTRY_COMPARE(rig.camera.pictures().size(), std::size_t(4));
            QVERIFY(boxes.asked().isEmpty());
        } else {
            QTRY_COMPARE(boxes.asked().size(), 1);
            VerifyTulkError(boxes, box);
            QVERIFY(UploadTraffic(rig).isEmpty());
            QCOMPARE(rig.camera.pictures().size(), std::size_t(3));
        }
    }

    // The file dialog: its title, its three types with the first chosen, and
    // only a file that exists; the file chosen is sent.
    void selectFileOpensTheDialog() {
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString path = files.Jpeg("chosen.jpg", 48, 48, Qt::magenta);
        rig.Window();
        rig.ConnectSerial();
        QCOMPARE(g_bConnected.load(), 1);
        QStringList shown;
        QString title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        FileDialogAnswer answer([&](QFileDialog* dialog) { Choose(dialog, path); },
                                [&](QFileDialog* dialog) {
                                    title = dialog->windowTitle();
                                    mode = dialog->fileMode();
                                    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
                                    for (int i = 0; types && i < types->count(); ++i) {
                                        shown << types->itemText(i);
                                    }
                                    shown << (types ? types->currentText() : QString());
                                    QVERIFY(!dialog->parentWidget());
                                });
        rig.Click("btnSelectFile");
        QCOMPARE(title, QString("Open File"));
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QCOMPARE(shown, (QStringList{"Supported Files Types(*.jpg;*.tif)", "JPEG Files (*.jpg)",
                                     "TIFF (*.tif)", "Supported Files Types(*.jpg;*.tif)"}));
        QTRY_COMPARE(rig.camera.pictures().size(), std::size_t(4));
        QCOMPARE(ToBytes(rig.camera.pictures()[3].jpeg), FileBytes(path));
        QVERIFY(boxes.asked().isEmpty());
    }

    void cancelledDialogDoesNothing() {
        CameraRig rig;
        BoxRecorder boxes;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        bool opened = false;
        FileDialogAnswer answer([&](QFileDialog* dialog) {
            opened = true;
            dialog->reject();
        });
        rig.Click("btnSelectFile");
        QVERIFY(opened);
        QVERIFY(boxes.asked().isEmpty());
        QVERIFY(rig.camera.commands().empty());
    }

    // Without a camera neither way does anything or shows anything.
    void notConnectedDoesNothing() {
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString path = files.Jpeg("one.jpg", 16, 16, Qt::black);
        bool opened = false;
        FileDialogAnswer answer([&](QFileDialog* dialog) {
            opened = true;
            dialog->reject();
        });
        Drop(rig, {path});
        rig.Click("btnSelectFile");
        QCoreApplication::processEvents();
        QVERIFY(!opened);
        QVERIFY(boxes.asked().isEmpty());
        QVERIFY(rig.camera.commands().empty());
    }

    // Free memory of exactly the file's size is enough.
    void fileThatJustFitsIsSent() {
        CameraRig rig;
        Files files;
        BoxRecorder boxes;
        const QString path = files.Raw("fits.jpg", QByteArray(5000, 'y'));
        rig.ConnectUsb();
        LeaveFreeOnCard(rig, 5000);
        Drop(rig, {path});
        QTRY_COMPARE(rig.camera.pictures().size(), std::size_t(4));
        QVERIFY(boxes.asked().isEmpty());
    }

    // Files dropped while another drop is being sent follow it, in the order
    // they came; files dropped while a message box is up wait until it has
    // been answered.
    void dropsWaitTheirTurn() {
        CameraRig rig;
        Files files;
        auto boxes = std::make_unique<BoxRecorder>();
        const QString first = files.Jpeg("first.jpg", 32, 32, Qt::red);
        const QString second = files.Jpeg("second.jpg", 32, 32, Qt::green);
        const QString third = files.Jpeg("third.jpg", 32, 32, Qt::blue);
        rig.ConnectUsb();
        rig.camera.setActionTime(C2_STORE, 500ms);
        QTimer::singleShot(100ms, [&] { Drop(rig, {second}); });
        Drop(rig, {first});
        QCOMPARE(rig.camera.pictures().size(), std::size_t(5));

        // A preview the camera refuses: its box is up, with the link held,
        // when the next file is dropped.
        // Real boxes from here on.
        boxes.reset();
        rig.camera.setAction(C990_C2_PREVIEW, [](const camsim::Bytes&) { return false; });
        std::size_t heldWhileBoxUp = 0;
        bool boxSeen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll.stop();
                boxSeen = true;
                Drop(rig, {third});
                QTest::qWait(200);
                heldWhileBoxUp = rig.camera.pictures().size();
                box->done(QMessageBox::Ok);
            }
        });
        poll.start(10);
        rig.Click("btnTakePreview");
        QVERIFY(boxSeen);
        QCOMPARE(heldWhileBoxUp, std::size_t(5));
        QTRY_COMPARE(rig.camera.pictures().size(), std::size_t(6));
        const auto pictures = rig.camera.pictures();
        QCOMPARE(ToBytes(pictures[3].jpeg), FileBytes(first));
        QCOMPARE(ToBytes(pictures[4].jpeg), FileBytes(second));
        QCOMPARE(ToBytes(pictures[5].jpeg), FileBytes(third));
    }

    // A long upload does not freeze the window: it keeps handling its
    // timers, with the wait cursor up, until the camera has stored the file.
    void windowKeepsRunningDuringAnUpload() {
        CameraRig rig;
        Files files;
        const QString path = files.Jpeg("slow.jpg", 64, 64, Qt::darkGreen);
        rig.ConnectUsb();
        rig.camera.setActionTime(C2_STORE, 1500ms);
        int ticksWhileBusy = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (QApplication::overrideCursor() &&
                QApplication::overrideCursor()->shape() == Qt::WaitCursor) {
                ++ticksWhileBusy;
            }
        });
        ticker.start(20);
        Drop(rig, {path});
        QCOMPARE(rig.camera.pictures().size(), std::size_t(4));
        QVERIFY(ticksWhileBusy > 0);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(UploadTest)
#include "upload_test.moc"
