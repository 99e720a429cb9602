// What the window tests share: a home of their own for every test function
// (settings, activity log, runtime folder), the activity log's text, controls
// found by their id, and message boxes answered by the test.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "app/MessageBoxes.h"

// Points XDG_CONFIG_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR at a new
// temporary folder, so no test sees another's settings or log, and puts the
// shared flags back to their start values. The folder goes with the object.
class FreshHome {
public:
    FreshHome();
    ~FreshHome();
    QString path() const { return dir_.path(); }
    QString configHome() const { return dir_.path() + "/config"; }

private:
    QTemporaryDir dir_;
};

// The whole activity log as it is now.
QString LogText();

// The control with the given id below root; null when there is none or more
// than one.
QWidget* ControlById(const QWidget* root, int id);
template <typename T>
T* Control(const QWidget* root, int id) {
    return qobject_cast<T*>(ControlById(root, id));
}

// Answers every box with the next answer queued (NoButton when none is
// left) and keeps the questions asked.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    void answer(QMessageBox::StandardButton button) { answers_ << button; }
    const QList<BoxQuestion>& asked() const { return asked_; }

private:
    QList<BoxQuestion> asked_;
    QList<QMessageBox::StandardButton> answers_;
};
