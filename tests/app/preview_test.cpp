// Preview against the simulated camera: Take A Preview and Run Preview save
// the camera's preview pictures into the save folder, and the splash window
// shows the last one at its own size from its top-left corner.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "app/SplashWindow.h"
#include "tests/app/camera_rig.h"

namespace {

// The splash windows there are (the program makes one at most).
QList<QWidget*> SplashWindows() {
    QList<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "SplashWindow") {
            found << w;
        }
    }
    return found;
}

QWidget* Splash() {
    const QList<QWidget*> found = SplashWindows();
    return found.size() == 1 ? found[0] : nullptr;
}

// What the splash window shows, pixel for pixel.
QImage Shown() {
    QWidget* splash = Splash();
    return splash ? splash->grab().toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

QImage Decoded(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

QColor WindowColour() {
    return Splash() ? Splash()->palette().color(QPalette::Window) : QColor();
}

// The part of the picture the 160 × 120 window can hold, over the window
// colour where the picture is smaller.
QImage Expected(const QImage& picture, QColor background) {
    QImage expected(160, 120, QImage::Format_RGB32);
    expected.fill(background);
    for (int y = 0; y < qMin(120, picture.height()); ++y) {
        for (int x = 0; x < qMin(160, picture.width()); ++x) {
            expected.setPixel(x, y, picture.pixel(x, y));
        }
    }
    return expected;
}

// A picture file with four coloured quarters, so that any scaling or offset
// shows.
QString QuarteredJpeg(const QString& path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    const QColor quarters[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixelColor(x, y,
                                quarters[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)]);
        }
    }
    image.save(path, "JPEG", 95);
    return path;
}

struct SaveFolder {
    QTemporaryDir dir;
    QString path = dir.path();
};

void ConnectInto(CameraRig& rig, const SaveFolder& folder) {
    std::string text = folder.path.toStdString();
    SettingString("SaveFolder", &text, 1);
    rig.ConnectUsb();
    QCOMPARE(QDir::currentPath(), folder.path);
}

int Previews(const CameraRig& rig) {
    return static_cast<int>(rig.Actions(C990_C2_PREVIEW).size());
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private slots:
    // The first preview makes the splash window: borderless, no task-bar
    // button, 160 × 120 at the screen's top-left corner, showing the
    // picture the camera sent. The next preview reuses it.
    void takePreviewShowsThePicture() {
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        QVERIFY(SplashWindows().isEmpty());
        rig.Click("btnTakePreview");
        const QString file = folder.path + "/preview00.jpg";
        QCOMPARE(FileBytes(file), ToBytes(rig.camera.previewPicture()->jpeg));
        QWidget* splash = Splash();
        QVERIFY(splash);
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->geometry(), QRect(0, 0, 160, 120));
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(splash->windowType(), Qt::Tool);
        QCOMPARE(Shown(), Expected(Decoded(file), WindowColour()));
        QVERIFY(!QApplication::overrideCursor());

        const QImage first = Shown();
        rig.Click("btnTakePreview");
        QCOMPARE(SplashWindows().size(), 1);
        QCOMPARE(Previews(rig), 2);
        QCOMPARE(FileBytes(file), ToBytes(rig.camera.previewPicture()->jpeg));
        QCOMPARE(Shown(), Expected(Decoded(file), WindowColour()));
        QVERIFY(Shown() != first);
        QCOMPARE(QDir(folder.path).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"preview00.jpg"});
    }

    // Run Preview: sixteen previews from one press, preview00.jpg first, then
    // preview15.jpg down to preview01.jpg, the last one on show.
    void runPreviewTakesSixteen() {
        CameraRig rig;
        SaveFolder folder;
        ConnectInto(rig, folder);
        rig.Find<QAbstractButton>("m_chkRunPreview")->setChecked(true);
        rig.camera.clearRecord();
        rig.Click("btnTakePreview");
        QCOMPARE(Previews(rig), 16);
        QStringList order{"preview00.jpg"};
        for (int n = 15; n >= 1; --n) {
            order << QString("preview%1.jpg").arg(n, 2, 10, QChar('0'));
        }
        QStringList names = order;
        names.sort();
        QCOMPARE(QDir(folder.path).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
        // Each was written after the one before it, and each is a preview of
        // its own.
        for (int i = 1; i < order.size(); ++i) {
            const QFileInfo before(folder.path + "/" + order[i - 1]);
            const QFileInfo after(folder.path + "/" + order[i]);
            QVERIFY2(before.lastModified() <= after.lastModified(), qPrintable(order[i]));
            QVERIFY2(FileBytes(before.filePath()) != FileBytes(after.filePath()),
                     qPrintable(order[i]));
        }
        const QString last = folder.path + "/preview01.jpg";
        QCOMPARE(FileBytes(last), ToBytes(rig.camera.previewPicture()->jpeg));
        QCOMPARE(Shown(), Expected(Decoded(last), WindowColour()));
    }

    // A preview the camera refuses leaves no file (its box was answered) and
    // the window keeps the picture it had.
    void refusedPreviewKeepsTheLastPicture() {
        CameraRig rig;
        SaveFolder folder;
        BoxRecorder boxes;
        ConnectInto(rig, folder);
        rig.Click("btnTakePreview");
        const QImage before = Shown();
        QVERIFY(!before.isNull());
        rig.camera.setAction(C990_C2_PREVIEW, [](const camsim::Bytes&) { return false; });
        rig.Click("btnTakePreview");
        QCOMPARE(boxes.asked().size(), 1);
        QVERIFY(!QFileInfo::exists(folder.path + "/preview00.jpg"));
        QVERIFY(LogText().contains("Bad handle"));
        QCOMPARE(Shown(), before);
        QVERIFY(Splash()->isVisible());
    }

    // Without a camera the button does nothing.
    void needsAConnection() {
        CameraRig rig;
        SaveFolder folder;
        QDir::setCurrent(folder.path);
        rig.Click("btnTakePreview");
        QVERIFY(SplashWindows().isEmpty());
        QVERIFY(QDir(folder.path).isEmpty());
        QVERIFY(rig.camera.commands().empty());
    }

    // The picture at its own size from the top-left corner, never scaled:
    // a large one is cut off, a small one leaves the window colour around
    // it. A file that is no picture, an empty one and a missing one are
    // logged; only the first of those clears the window.
    void showSplashPicture_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("shows");
        QTest::newRow("640 x 480") << "large"
                                   << ""
                                   << "picture";
        QTest::newRow("80 x 60") << "small"
                                 << ""
                                 << "picture";
        QTest::newRow("160 x 120") << "exact"
                                   << ""
                                   << "picture";
        QTest::newRow("not a picture") << "text"
                                       << " Load picture failed"
                                       << "nothing";
        QTest::newRow("empty file") << "empty"
                                    << "File size is < 1"
                                    << "previous";
        QTest::newRow("missing file") << "missing"
                                      << "Bad handle"
                                      << "previous";
    }
    void showSplashPicture() {
        QFETCH(QString, file);
        QFETCH(QString, logLine);
        QFETCH(QString, shows);
        FreshHome home;
        QTemporaryDir dir;
        CTulkDlg window;
        const QString previous = QuarteredJpeg(dir.filePath("previous.jpg"), 200, 200);
        window.ShowSplashPicture(previous);
        const QImage before = Shown();
        QCOMPARE(before, Expected(Decoded(previous), WindowColour()));

        QString path = dir.filePath(file);
        if (file == "large") {
            QuarteredJpeg(path, 640, 480);
        } else if (file == "small") {
            QuarteredJpeg(path, 80, 60);
        } else if (file == "exact") {
            QuarteredJpeg(path, 160, 120);
        } else if (file == "text" || file == "empty") {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file == "text" ? QByteArray("this is no picture\n") : QByteArray());
        }
        window.ShowSplashPicture(path);
        QCOMPARE(SplashWindows().size(), 1);
        QVERIFY(Splash()->isVisible());
        if (shows == "picture") {
            const QImage picture = Decoded(path);
            QCOMPARE(Shown(), Expected(picture, WindowColour()));
            // The top-left quarter's colour reaches the window's far corner
            // only when the picture is drawn at its own size.
            QCOMPARE(QColor(Shown().pixel(159, 119)) == QColor(picture.pixel(0, 0)),
                     file == "large");
        } else if (shows == "nothing") {
            QImage blank(160, 120, QImage::Format_RGB32);
            blank.fill(WindowColour());
            QCOMPARE(Shown(), blank);
        } else {
            QCOMPARE(Shown(), before);
        }
        // The case's own complaint and no other.
        for (const char* complaint : {"Bad handle", "File size is < 1", "Alloc failed",
                                      "Read was < 1", " Load picture failed"}) {
            QVERIFY2(LogText().contains(complaint) == (logLine == complaint), complaint);
        }
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
