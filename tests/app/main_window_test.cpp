// The main window: its controls, the start on an empty or a filled store,
// the settings kept at exit, the ways out with and without the question, the
// link closed at exit, dropped files, the shared boxes and the message pump.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "app/EditControls.h"
#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "log/activity_log.h"
#include "sim/camsim.h"
#include "tests/app/app_fixture.h"

namespace {

// The title of the group box a control sits in, "" outside any.
QString GroupOf(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        if (const auto* group = qobject_cast<const QGroupBox*>(p)) {
            return group->title();
        }
    }
    return {};
}

QString CaptionOf(const QWidget* w) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    return {};
}

// What the store holds under a name, kMissing when nothing.
constexpr int kMissing = -999;
int Stored(const char* name) {
    std::int32_t value = 0;
    return SettingDword(name, &value, 0) == 1 ? value : kMissing;
}

void Store(const char* name, std::int32_t value) {
    QCOMPARE(SettingDword(name, &value, 1), 1);
}

QCheckBox* Box(const QWidget* w, int id) {
    return Control<QCheckBox>(w, id);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshHome> home_;

private slots:
    void init() { home_ = std::make_unique<FreshHome>(); }
    void cleanup() { home_.reset(); }

    void controls_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("member");
        const QString none;
        const QString settings = "Camera Settings";
        const QString lapse = "Time Lapse Control";
        const QString upload = "Upload";
        const QString sound = "Sound Trigger ";
        const QString alone = "Leave me well alone";
        auto row = [](int id, const char* kind, const QString& caption, const QString& group,
                      const char* member) {
            QTest::addRow("%d", id) << id << QString(kind) << caption << group << QString(member);
        };
        row(1, "QPushButton", "Quit", none, "");
        row(57670, "QPushButton", "&Help", none, "");
        row(1000, "QPushButton", "Connect to Camera", none, "");
        row(1001, "QPushButton", "Take a Picture", none, "");
        row(1040, "QPushButton", "Take A Preview", none, "");
        row(1090, "QCheckBox", "Run Preview", none, "m_chkRunPreview");
        row(1020, "QLineEdit", none, none, "m_editPictures");
        row(1026, "QLineEdit", none, none, "m_editFramesLeft");
        row(1055, "CNumberEdit", none, none, "m_editAvailMem");
        row(1023, "QPushButton", "Get All Files", none, "");
        row(1037, "QCheckBox", "Only New", none, "m_chkOnlyNew");
        row(1033, "QPushButton", "Get Last", none, "");
        row(1028, "QPushButton", "Delete Last", none, "");
        row(1027, "QPushButton", "Delete All Images", none, "");
        row(1036, "CTextEdit", none, none, "m_editSaveFolder");
        row(1061, "QPushButton", "Browse", none, "");
        row(1041, "QPushButton", "Select File", upload, "");
        row(1002, "CNumberEdit", none, lapse, "m_editDelay");
        row(1003, "QPushButton", "Run Time Lapse", lapse, "");
        row(1004, "QPushButton", "Stop Time Lapse", lapse, "");
        row(1057, "QCheckBox", "Save Every Time", lapse, "m_chkSaveEveryTime");
        row(1069, "QCheckBox", "Delete After Download", lapse, "m_chkDeleteAfter");
        row(1075, "QCheckBox", "Upload to FTP", lapse, "m_chkUploadFtp");
        row(1079, "QPushButton", "FTP Settings", lapse, "");
        row(1071, "QPushButton", "Sound Trigger", sound, "");
        row(1073, "QProgressBar", none, sound, "m_progLevel");
        row(1074, "QSlider", none, sound, "m_sliderThreshold");
        row(1080, "QProgressBar", none, sound, "m_progActivity");
        row(1009, "QPushButton", "Get Info", settings, "");
        row(1007, "QComboBox", none, settings, "m_cbResolution");
        row(1011, "QComboBox", none, settings, "m_cbAperture");
        row(1014, "QComboBox", none, settings, "m_cbColourMode");
        row(1015, "QComboBox", none, settings, "m_cbFlash");
        row(1016, "QComboBox", none, settings, "m_cbWhiteBalance");
        row(1017, "QComboBox", none, settings, "m_cbImageAdjust");
        row(1018, "QComboBox", none, settings, "m_cbMetering");
        row(1021, "QComboBox", none, settings, "m_cbFocus");
        row(1029, "QComboBox", none, settings, "m_cbViewfinder");
        row(1031, "CNumberEdit", none, settings, "m_editShutter");
        row(1008, "QProgressBar", none, settings, "m_progBattery");
        row(1025, "QSlider", none, settings, "m_sliderZoom");
        row(1056, "CTextEdit", none, settings, "m_editZoom");
        row(1050, "QPushButton", "All Register Dump", alone, "");
        row(1051, "CNumberEdit", none, alone, "m_editRegister");
        row(1053, "CNumberEdit", none, alone, "m_editRegValue");
        row(1052, "QPushButton", "Read", alone, "");
        row(1081, "QPushButton", "Hack", alone, "");
        row(1091, "QPushButton", "AutoFocus Calibrate", none, "");
        row(1092, "QPushButton", "Calibrate White Balance", none, "");
        row(1063, "QCheckBox", "Threaded Comms", none, "m_chkThreaded");
        row(1082, "QCheckBox", "Use USB", none, "m_chkUseUsb");
        row(1083, "QPushButton", "Serial Setup", none, "");
    }
    void controls() {
        QFETCH(int, id);
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QString, group);
        QFETCH(QString, member);
        CTulkDlg window;
        QWidget* control = ControlById(&window, id);
        QVERIFY2(control, "exactly one control carries the id");
        QVERIFY2(control->inherits(kind.toLatin1().constData()),
                 control->metaObject()->className());
        QCOMPARE(CaptionOf(control), caption);
        QCOMPARE(GroupOf(control), group);
        if (!member.isEmpty()) {
            QCOMPARE(control->objectName(), member);
        }
        QVERIFY(control->isVisibleTo(&window));
    }

    void labels_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("id");
        QTest::newRow("pictures") << "Number of Pictures" << 1020;
        QTest::newRow("frames") << "Frames Left" << 1026;
        QTest::newRow("memory") << "Avail Memory" << 1055;
        QTest::newRow("folder") << "Save to Folder" << 1036;
        QTest::newRow("delay") << "Delay (in ms)" << 1002;
        QTest::newRow("resolution") << "Resolution" << 1007;
        QTest::newRow("aperture") << "Aperture" << 1011;
        QTest::newRow("colour") << "Colour Mode" << 1014;
        QTest::newRow("flash") << "Flash" << 1015;
        QTest::newRow("white balance") << "White Balance" << 1016;
        QTest::newRow("adjust") << "Image Adjust" << 1017;
        QTest::newRow("metering") << "Metering Mode" << 1018;
        QTest::newRow("focus") << "Focus" << 1021;
        QTest::newRow("viewfinder") << "Viewfinder" << 1029;
        QTest::newRow("shutter") << "ShutterSpeed" << 1031;
        QTest::newRow("battery") << "Battery" << 1008;
        QTest::newRow("zoom") << "Zoom" << 1025;
        QTest::newRow("register") << "Specific Register" << 1051;
    }
    // Each label names its control and stands in the control's group.
    void labels() {
        QFETCH(QString, text);
        QFETCH(int, id);
        CTulkDlg window;
        const QLabel* found = nullptr;
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            if (label->text() == text) {
                QVERIFY2(!found, "one label with the text");
                found = label;
            }
        }
        QVERIFY(found);
        QCOMPARE(found->buddy(), ControlById(&window, id));
        QCOMPARE(GroupOf(found), GroupOf(found->buddy()));
    }

    void uploadHint() {
        CTulkDlg window;
        const auto labels = window.findChildren<QLabel*>();
        const auto it = std::find_if(labels.begin(), labels.end(), [](const QLabel* l) {
            return l->text() == "Drag files here to upload to camera (not working)";
        });
        QVERIFY(it != labels.end());
        QCOMPARE(GroupOf(*it), QString("Upload"));
    }

    void lists_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("resolution")
            << 1007
            << QStringList{"VGA Basic", "VGA Normal", "VGA Fine",   "XGA Basic", "XGA Normal",
                           "XGA Fine",  "3:2 Basic",  "3:2 Normal", "3:2 Fine",  "3:2 Hi",
                           "Basic",     "Normal",     "Fine",       "Hi"};
        QTest::newRow("aperture") << 1011
                                  << QStringList{"Auto", "Low", "Medium", "Unknown", "High"};
        QTest::newRow("colour") << 1014 << QStringList{"Colour", "B/W"};
        QTest::newRow("flash") << 1015 << QStringList{"Auto", "On", "Off", "RedEye", "Slow"};
        QTest::newRow("white balance")
            << 1016
            << QStringList{"Auto", "Sunny", "Incandescent", "Fluorescent", "Flash", "Preset"};
        QTest::newRow("adjust") << 1017
                                << QStringList{"Normal",        "More Contrast", "Less Contrast",
                                               "Lighten Image", "Darken Image",  "Auto"};
        QTest::newRow("metering") << 1018 << QStringList{"Center", "Spot", "Matrix", "Spot AF"};
        QTest::newRow("focus") << 1021 << QStringList{"Macro", "Normal", "Infinity"};
        QTest::newRow("viewfinder")
            << 1029
            << QStringList{"Off",         "Viewfinder",  "Preview Whole", "Preview Thumbnails",
                           "Thumbnail 1", "Thumbnail 2", "Next",          "Previous"};
    }
    // The lists hold their entries in order, take typed text, and show no
    // choice until a camera is asked.
    void lists() {
        QFETCH(int, id);
        QFETCH(QStringList, items);
        CTulkDlg window;
        auto* list = Control<QComboBox>(&window, id);
        QVERIFY(list);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) {
            shown << list->itemText(i);
        }
        QCOMPARE(shown, items);
        QVERIFY(list->isEditable());
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->currentText(), QString());
    }

    void firstStart() {
        CTulkDlg window;
        // One line per missing number, in the order they are read.
        const QRegularExpression lines(
            "Log \\(\\d+\\) : warning : read status = 2 for key TimerValue\r\n"
            "Log \\(\\d+\\) : warning : read status = 2 for key ThreadedComms\r\n"
            "Log \\(\\d+\\) : warning : read status = 2 for key UseUSB\r\n"
            "Log \\(\\d+\\) : warning : read status = 2 for key OnlyNEW\r\n");
        QVERIFY2(LogText().contains(lines), qPrintable(LogText()));

        QCOMPARE(window.windowTitle(), QString("Tulk - Camera Controller 2.0.2"));
        QCOMPARE(Control<QLineEdit>(&window, 1020)->text(), QString("Not connected"));
        for (int id : {1037, 1063, 1082, 1090, 1057, 1069, 1075}) {
            QVERIFY2(!Box(&window, id)->isChecked(), qPrintable(QString::number(id)));
        }
        QCOMPARE(g_bOnlyNew.load(), 0);
        QCOMPARE(g_bThreadedComms.load(), 0);
        QCOMPARE(g_bConnected.load(), 0);
        QCOMPARE(g_bTimeLapseRunning.load(), 0);

        auto* zoom = Control<QSlider>(&window, 1025);
        QCOMPARE(zoom->minimum(), 10);
        QCOMPARE(zoom->maximum(), 234);
        auto* threshold = Control<QSlider>(&window, 1074);
        QCOMPARE(threshold->minimum(), 0);
        QCOMPARE(threshold->maximum(), 32767);
        QCOMPARE(threshold->value(), 32767);
        auto* level = Control<QProgressBar>(&window, 1073);
        QCOMPARE(level->maximum(), 32767);
        QCOMPARE(level->value(), 0);
        auto* activity = Control<QProgressBar>(&window, 1080);
        QCOMPARE(activity->maximum(), 10);
        QCOMPARE(activity->value(), 0);
        auto* battery = Control<QProgressBar>(&window, 1008);
        QCOMPARE(battery->minimum(), 0);
        QCOMPARE(battery->maximum(), 100);
        for (int id : {1020, 1026, 1055}) {
            QVERIFY(Control<QLineEdit>(&window, id)->isReadOnly());
        }

        // The number fields show their values once the window paints.
        QCOMPARE(Control<QLineEdit>(&window, 1002)->text(), QString());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1002)->text(), QString("7000"));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1051)->text(), QString("0"));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1053)->text(), QString("1"));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1055)->text(), QString("0"));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1031)->text(), QString("0"));
        // Where pictures go, from the start: the pictures folder.
        QCOMPARE(Control<QLineEdit>(&window, 1036)->text(), home_->path() + "/Pictures/Tulk");
        QCOMPARE(Control<QLineEdit>(&window, 1056)->text(), QString());
        QCOMPARE(Control<QLineEdit>(&window, 1026)->text(), QString());
    }

    // One size, a minimise box, no maximise box, a task-bar button, an icon.
    void windowFrame() {
        CTulkDlg window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.minimumSize().isValid());
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.size(), window.minimumSize());
        const Qt::WindowFlags flags = window.windowFlags();
        QCOMPARE(window.windowType(), Qt::Window);
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(window.acceptDrops());
        // Everything fits: no control or label is squeezed below what it
        // needs, sticks out of the window or lies over another.
        QList<QPair<QString, QRect>> placed;
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (!w->property("id").isValid() && !qobject_cast<QLabel*>(w)) {
                continue;
            }
            const QString name = w->objectName();
            QVERIFY2(w->width() >= w->minimumSizeHint().width(), qPrintable(name));
            QVERIFY2(w->height() >= w->minimumSizeHint().height(), qPrintable(name));
            const QRect where(w->mapTo(&window, QPoint(0, 0)), w->size());
            QVERIFY2(window.rect().contains(where), qPrintable(name));
            for (const auto& [other, rect] : placed) {
                QVERIFY2(!where.intersects(rect), qPrintable(name + " over " + other));
            }
            placed.append({name, where});
        }
    }

    // Everything the window stores at exit comes back at the next start,
    // each box under its own name.
    void settingsSurviveRestart_data() {
        QTest::addColumn<bool>("onlyNew");
        QTest::addColumn<bool>("threaded");
        QTest::addColumn<bool>("useUsb");
        QTest::newRow("only new") << true << false << false;
        QTest::newRow("threaded") << false << true << false;
        QTest::newRow("use usb") << false << false << true;
        QTest::newRow("all") << true << true << true;
    }
    void settingsSurviveRestart() {
        QFETCH(bool, onlyNew);
        QFETCH(bool, threaded);
        QFETCH(bool, useUsb);
        Store("TimerValue", 2500);
        {
            CTulkDlg window;
            Box(&window, 1037)->setChecked(onlyNew);
            Box(&window, 1063)->setChecked(threaded);
            Box(&window, 1082)->setChecked(useUsb);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::keyClick(&window, Qt::Key_Escape);
            QVERIFY(!window.isVisible());
        }
        // Stored as "OnlyNew", read back as "OnlyNEW": one value.
        QCOMPARE(Stored("OnlyNEW"), onlyNew ? 1 : 0);
        g_bOnlyNew = 0;
        g_bThreadedComms = 0;
        const qsizetype logBefore = LogText().size();
        CTulkDlg window;
        QCOMPARE(Box(&window, 1037)->isChecked(), onlyNew);
        QCOMPARE(Box(&window, 1063)->isChecked(), threaded);
        QCOMPARE(Box(&window, 1082)->isChecked(), useUsb);
        QCOMPARE(g_bOnlyNew.load(), onlyNew ? 1 : 0);
        QCOMPARE(g_bThreadedComms.load(), threaded ? 1 : 0);
        // The link switch follows the box only at Connect.
        QCOMPARE(g_bUseUsb.load(), 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(Control<QLineEdit>(&window, 1002)->text(), QString("2500"));
        QVERIFY(!LogText().mid(logBefore).contains("read status"));
    }

    // Unchecked boxes are stored too: a box unchecked at exit starts
    // unchecked.
    void uncheckedIsStored() {
        Store("OnlyNEW", 1);
        Store("ThreadedComms", 1);
        Store("UseUSB", 1);
        {
            CTulkDlg window;
            QVERIFY(Box(&window, 1037)->isChecked());
            QCOMPARE(g_bOnlyNew.load(), 1);
            for (int id : {1037, 1063, 1082}) {
                Box(&window, id)->setChecked(false);
            }
            window.close();
        }
        CTulkDlg window;
        for (int id : {1037, 1063, 1082}) {
            QVERIFY(!Box(&window, id)->isChecked());
        }
        QCOMPARE(g_bOnlyNew.load(), 0);
        QCOMPARE(g_bThreadedComms.load(), 0);
    }

    void quitAsks_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("yes");
        for (const char* how : {"enter in delay", "enter in list", "click quit"}) {
            QTest::addRow("%s, yes", how) << QString(how) << true;
            QTest::addRow("%s, no", how) << QString(how) << false;
        }
    }
    void quitAsks() {
        QFETCH(QString, how);
        QFETCH(bool, yes);
        BoxRecorder boxes;
        boxes.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        CTulkDlg window;
        Box(&window, 1082)->setChecked(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (how == "click quit") {
            QTest::mouseClick(Control<QPushButton>(&window, 1), Qt::LeftButton);
        } else {
            QWidget* field = ControlById(&window, how == "enter in delay" ? 1002 : 1007);
            field->setFocus();
            QTRY_VERIFY(field->hasFocus());
            QTest::keyClick(field, Qt::Key_Return);
        }
        QCOMPARE(boxes.asked().size(), 1);
        const BoxQuestion& question = boxes.asked().first();
        QCOMPARE(question.text, QString("Are You Sure ?"));
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.icon, QMessageBox::Critical);
        if (yes) {
            QVERIFY(!window.isVisible());
            QCOMPARE(window.result(), int(QDialog::Accepted));
            QCOMPARE(Stored("UseUSB"), 1);
        } else {
            // Nothing else changes: still open, nothing stored.
            QVERIFY(window.isVisible());
            QVERIFY(Box(&window, 1082)->isChecked());
            QCOMPARE(Stored("UseUSB"), kMissing);
        }
    }

    void leavesWithoutQuestion_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("escape") << true;
        QTest::newRow("close box") << false;
    }
    void leavesWithoutQuestion() {
        QFETCH(bool, escape);
        BoxRecorder boxes;
        CTulkDlg window;
        Box(&window, 1063)->setChecked(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (escape) {
            QTest::keyClick(ControlById(&window, 1002), Qt::Key_Escape);
        } else {
            QVERIFY(window.close());
        }
        QVERIFY(boxes.asked().isEmpty());
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Rejected));
        QCOMPARE(Stored("ThreadedComms"), 1);
        QCOMPARE(Stored("OnlyNew"), 0);
        QCOMPARE(Stored("UseUSB"), 0);
    }

    // An open link is signed off and closed when the window goes.
    void exitClosesTheLink() {
        camsim::Camera camera;
        QVERIFY(!camera.startUsb(0).empty());
        g_bUseUsb = 1;
        g_iob = eph_open(0, 0);
        QVERIFY(g_iob);
        camera.clearRecord();
        {
            CTulkDlg window;
            g_bConnected = 1;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::keyClick(&window, Qt::Key_Escape);
            QCOMPARE(g_bConnected.load(), 0);
            QVERIFY(!g_iob);
        }
        const auto commands = camera.commands();
        QCOMPARE(commands.size(), std::size_t(1));
        QCOMPARE(commands[0].command, 2);
        QCOMPARE(commands[0].reg, C990_SIGNOFF);
        g_bUseUsb = 0;
    }

    void droppedFiles() {
        CTulkDlg window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy dropped(&window, &CTulkDlg::filesDropped);
        const QPoint at = window.rect().center();

        QMimeData web;
        web.setUrls({QUrl("https://example.org/pic.jpg")});
        QDragEnterEvent refused(at, Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &refused);
        QVERIFY(!refused.isAccepted());

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile("/tmp/a.jpg"), QUrl("https://example.org/b.jpg"),
                       QUrl::fromLocalFile("/tmp/with blank.jpg")});
        QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().first().toStringList(),
                 QStringList({"/tmp/a.jpg", "/tmp/with blank.jpg"}));
    }

    void confirmations_data() {
        QTest::addColumn<bool>("really");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("sure, yes") << false << int(QMessageBox::Yes) << 1;
        QTest::newRow("sure, no") << false << int(QMessageBox::No) << 0;
        QTest::newRow("really, yes") << true << int(QMessageBox::Yes) << 1;
        QTest::newRow("really, no") << true << int(QMessageBox::No) << 0;
        QTest::newRow("really, cancel") << true << int(QMessageBox::Cancel) << 0;
    }
    void confirmations() {
        QFETCH(bool, really);
        QFETCH(int, answer);
        QFETCH(int, result);
        BoxRecorder boxes;
        boxes.answer(QMessageBox::StandardButton(answer));
        QCOMPARE(really ? AreYouReallySure() : AreYouSure(), result);
        QCOMPARE(boxes.asked().size(), 1);
        const BoxQuestion& question = boxes.asked().first();
        QCOMPARE(question.text, really ? QString("Are You Really Sure ?") : "Are You Sure ?");
        QCOMPARE(question.buttons, really ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                                          : QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.icon, QMessageBox::Critical);
        QCOMPARE(question.defaultButton, QMessageBox::No);
    }

    void cameraMessages_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("fromWorker");
        for (bool worker : {false, true}) {
            const char* where = worker ? "worker" : "window thread";
            QTest::addRow("ok, %s", where) << MB_OK << int(QMessageBox::Ok) << IDOK << worker;
            QTest::addRow("ok cancel, ok, %s", where)
                << MB_OKCANCEL << int(QMessageBox::Ok) << IDOK << worker;
            QTest::addRow("ok cancel, cancel, %s", where)
                << MB_OKCANCEL << int(QMessageBox::Cancel) << IDCANCEL << worker;
        }
    }
    // The camera layer's messages reach a box of the window. Asked on the
    // window thread, the box is shown at once and its answer returned; asked
    // by a job on the camera thread, which holds the link, the job goes on
    // at once as if answered OK and the box comes once the link is free.
    void cameraMessages() {
        QFETCH(int, type);
        QFETCH(int, answer);
        QFETCH(int, result);
        QFETCH(bool, fromWorker);
        BoxRecorder boxes;
        boxes.answer(QMessageBox::StandardButton(answer));
        CTulkDlg window;
        std::atomic<int> got{-1};
        if (fromWorker) {
            bool linkFreeAtBox = false;
            BoxAnswerer recorder = CurrentBoxAnswerer();
            SetBoxAnswerer([&](const BoxQuestion& question) {
                // No thread holds the link while the user is asked.
                linkFreeAtBox = LinkLock().try_lock();
                if (linkFreeAtBox) {
                    LinkLock().unlock();
                }
                return recorder(question);
            });
            bool askedDuringJob = true;
            window.CameraWait([&] {
                got = ShowMessage("Disk is full", type);
                askedDuringJob = !boxes.asked().isEmpty();
            });
            QVERIFY(!askedDuringJob);
            QVERIFY(linkFreeAtBox);
            QCOMPARE(got.load(), IDOK);
            SetBoxAnswerer(recorder);
        } else {
            got = ShowMessage("Disk is full", type);
            QCOMPARE(got.load(), result);
        }
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked().first().caption, QString("Tulk Message"));
        QCOMPARE(boxes.asked().first().text, QString("Disk is full"));
        QCOMPARE(boxes.asked().first().buttons,
                 type == MB_OKCANCEL ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    }

    // A long wait on the window thread keeps the window alive by handing it
    // what is waiting.
    void pumpHandlesWaitingWork() {
        CTulkDlg window;
        bool ran = false;
        QMetaObject::invokeMethod(
            &window, [&] { ran = true; }, Qt::QueuedConnection);
        QVERIFY(!ran);
        PumpWaitingMessage();
        QVERIFY(ran);
        // A click that arrives during the wait is handled too.
        BoxRecorder boxes;
        boxes.answer(QMessageBox::No);
        QMetaObject::invokeMethod(Control<QPushButton>(&window, 1), &QPushButton::click,
                                  Qt::QueuedConnection);
        PumpWaitingMessage();
        QCOMPARE(boxes.asked().size(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
