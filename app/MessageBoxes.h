// The message boxes of the window: the two confirmations, the boxes of the
// camera layer's ShowMessage, and one place where tests answer them all.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <vector>

class QWidget;

// A question put to the user.
struct BoxQuestion {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    // The button Return presses; NoButton leaves the choice to the box.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // A second, smaller text beneath the question, when not empty.
    QString informative = QString();
};

// Shows the box modally on the window thread and returns the button chosen
// (the escape button when the box is closed otherwise).
QMessageBox::StandardButton AskUser(QWidget* parent, const BoxQuestion& question);

// Tests answer every box here in place of a person; null shows real boxes
// again.
using BoxAnswerer = std::function<QMessageBox::StandardButton(const BoxQuestion&)>;
void SetBoxAnswerer(BoxAnswerer answerer);
BoxAnswerer CurrentBoxAnswerer();

// "Are You Sure ?" with Yes and No, and the informative text beneath it
// when given; 1 for Yes, otherwise 0. No is the default button: these
// questions end work or erase pictures, and Return must not do that.
int AreYouSure(const QString& informative = QString());
// "Are You Really Sure ?" with Yes, No and Cancel; 1 for Yes, otherwise 0.
// No is the default button.
int AreYouReallySure();

// Routes the camera layer's ShowMessage to real boxes owned by the window.
// Asked on the window thread, the box is shown at once. Asked on any other
// thread (the camera thread, holding the link), the box is kept for later
// and the caller goes on at once as if answered OK: the camera operations
// ignore the answer, and waiting for the window while holding the link
// could hang both. The camera thread hands the kept boxes to the window
// once the link is free (TakeDeferredBoxes). Null removes the route.
void InstallMessageBoxHook(QWidget* owner);

// The boxes this thread asked for since the last call.
std::vector<BoxQuestion> TakeDeferredBoxes();
// Window thread: boxes to show, in order, after those already waiting.
void QueueBoxes(std::vector<BoxQuestion> boxes);
// Window thread: shows the waiting boxes one after the other, unless a call
// further up is already doing so.
void ShowQueuedBoxes();
