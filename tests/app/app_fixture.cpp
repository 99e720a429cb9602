#include "tests/app/app_fixture.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "link/eph.h"
#include "log/activity_log.h"

FreshHome::FreshHome() {
    for (const char* sub : {"/config", "/state", "/runtime"}) {
        QDir().mkpath(dir_.path() + sub);
    }
    QFile::setPermissions(dir_.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + "/config"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir_.path() + "/state"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path() + "/runtime"));
    // The pictures folder, where pictures go while none is set, is below it.
    qputenv("HOME", QFile::encodeName(dir_.path()));
    qunsetenv("XDG_PICTURES_DIR");
    for (int port = 1; port <= 4; ++port) {
        qunsetenv(QByteArray("TULK_COM") + QByteArray::number(port));
    }
    // The log follows XDG_STATE_HOME when it opens next.
    CloseLog();
    eph_setportmap({});
    ResetControllerState();
}

FreshHome::~FreshHome() {
    CloseLog();
    eph_setportmap({});
}

QString LogText() {
    QFile log(QString::fromStdString(LogFilePath()));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(log.readAll());
}

QWidget* ControlById(const QWidget* root, int id) {
    QWidget* found = nullptr;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant value = w->property("id");
        if (value.isValid() && value.toInt() == id) {
            if (found) {
                return nullptr;
            }
            found = w;
        }
    }
    return found;
}

BoxRecorder::BoxRecorder() {
    SetBoxAnswerer([this](const BoxQuestion& question) {
        asked_ << question;
        return answers_.isEmpty() ? QMessageBox::NoButton : answers_.takeFirst();
    });
}

BoxRecorder::~BoxRecorder() {
    SetBoxAnswerer(nullptr);
}
