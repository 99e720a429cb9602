// The window against a simulated camera: a fresh home, a camera with a few
// pictures and known settings served on a pseudo-terminal mapped to COM1 and
// on USB device 0, and the real main window.
#pragma once

#include <QAbstractButton>
#include <QByteArray>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWindow>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "sim/camsim.h"
#include "tests/app/app_fixture.h"

// A whole file's bytes; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A time lapse's journal ("tulk-run-*.jsonl"), which the run keeps in its
// save folder beside the pictures.
inline bool IsRunJournal(const QString& path) {
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.startsWith(QStringLiteral("tulk-run-")) && name.endsWith(QStringLiteral(".jsonl"));
}

inline QByteArray ToBytes(const camsim::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

struct CameraRig {
    std::unique_ptr<FreshHome> home = std::make_unique<FreshHome>();
    camsim::Camera camera;
    std::unique_ptr<CTulkDlg> window;

    explicit CameraRig(int pictures = 3) {
        camera.setModel("SR981");
        if (pictures > 0) {
            camera.generatePictures(pictures, 64, 48);
        } else {
            camera.enablePictures();
        }
        camera.setInt(C990_RESOLUTION, 11);
        camera.setInt(C990_APERTURE, 2);
        camera.setInt(C990_COLOURMODE, 2);
        camera.setInt(C990_BATTERY, 0);
        camera.setInt(C990_FLASH, 3);
        camera.setInt(WHITEBAL, 5);
        camera.setInt(C990_IMAGEADJ, 1);
        camera.setInt(C990_METERING, 5);
        camera.setInt(C990_FOCUSMODE, 3);
    }
    ~CameraRig() {
        window.reset();
        camera.stop();
        ResetControllerState();
    }

    CTulkDlg& Window() {
        if (!window) {
            window = std::make_unique<CTulkDlg>();
            // As the program runs it (exec): modal over the whole program.
            window->setWindowModality(Qt::ApplicationModal);
            window->show();
            // The number fields show their start values at the first paint.
            if (QTest::qWaitForWindowExposed(window.get())) {
                window->repaint();
            }
        }
        return *window;
    }
    template <typename T>
    T* Find(const char* name) {
        return Window().findChild<T*>(QString::fromLatin1(name));
    }
    void Click(const char* button) { Find<QAbstractButton>(button)->click(); }

    // Connect over the pseudo-terminal as COM1 at the speed of the serial
    // settings list's position.
    void ConnectSerial(std::int32_t speedPosition = 5) {
        const std::string path = camera.startSerial();
        QVERIFY(!path.empty());
        eph_setportmap({{1, path}});
        std::int32_t port = 1;
        SettingDword("SerialPort", &port, 1);
        SettingDword("SerialSpeed", &speedPosition, 1);
        Find<QAbstractButton>("m_chkUseUsb")->setChecked(false);
        Click("btnConnect");
    }
    void ConnectUsb() {
        QVERIFY(!camera.startUsb(0).empty());
        Find<QAbstractButton>("m_chkUseUsb")->setChecked(true);
        Click("btnConnect");
    }

    // The user picks the entry with the text in the list.
    void Choose(const char* list, const QString& text) {
        auto* box = Find<QComboBox>(list);
        const int index = box->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // The user types into a field and leaves it.
    void TypeAndLeave(const char* field, const QString& text) {
        auto* edit = Find<QLineEdit>(field);
        edit->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(edit, &out);
    }

    // The user drops the files on the window, over the save folder field;
    // the files go once the drop has ended.
    void DropFiles(const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& path : paths) {
            urls << QUrl::fromLocalFile(path);
        }
        mime.setUrls(urls);
        QWidget* field = Find<QWidget>("m_editSaveFolder");
        const QPoint where = field->mapTo(&Window(), field->rect().center());
        QWindow* handle = Window().windowHandle();
        QDragEnterEvent enter(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &drop);
        QVERIFY(drop.isAccepted());
        QCoreApplication::processEvents();
    }

    // The integer writes the camera saw on a register, oldest first.
    std::vector<std::int32_t> Writes(int reg) const {
        std::vector<std::int32_t> values;
        for (const auto& c : camera.commands()) {
            if (c.command == 0 && c.reg == reg) {
                values.push_back(c.value);
            }
        }
        return values;
    }
    // The argument bytes of each time the camera was asked for the action.
    std::vector<camsim::Bytes> Actions(int reg) const {
        std::vector<camsim::Bytes> args;
        for (const auto& c : camera.commands()) {
            if (c.command == 2 && c.reg == reg) {
                args.push_back(c.data);
            }
        }
        return args;
    }
};
