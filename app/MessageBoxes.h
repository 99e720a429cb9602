// The message boxes of the window: the two confirmations, the boxes of the
// camera layer's ShowMessage, and one place where tests answer them all.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// A question put to the user.
struct BoxQuestion {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Shows the box modally on the window thread and returns the button chosen
// (the escape button when the box is closed otherwise).
QMessageBox::StandardButton AskUser(QWidget* parent, const BoxQuestion& question);

// Tests answer every box here in place of a person; null shows real boxes
// again.
using BoxAnswerer = std::function<QMessageBox::StandardButton(const BoxQuestion&)>;
void SetBoxAnswerer(BoxAnswerer answerer);

// "Are You Sure ?" with Yes and No; 1 for Yes, otherwise 0.
int AreYouSure();
// "Are You Really Sure ?" with Yes, No and Cancel; 1 for Yes, otherwise 0.
int AreYouReallySure();

// Routes the camera layer's ShowMessage to real boxes owned by the window,
// also when a worker thread asks (the worker waits for the answer).
// Null removes the route.
void InstallMessageBoxHook(QWidget* owner);
