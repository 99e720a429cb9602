#include "MessageBoxes.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <mutex>

#include "activity_log.h"

namespace {

std::mutex g_answererMutex;
BoxAnswerer g_answerer;

// The framework's own boxes carry the program's name as their caption.
const QString kProgramCaption = QStringLiteral("Tulk");

int AskYes(const QString& text, QMessageBox::StandardButtons buttons) {
    const BoxQuestion question{kProgramCaption, text, QMessageBox::Critical, buttons};
    return AskUser(QApplication::activeWindow(), question) == QMessageBox::Yes ? 1 : 0;
}

}  // namespace

QMessageBox::StandardButton AskUser(QWidget* parent, const BoxQuestion& question) {
    BoxAnswerer answerer;
    {
        std::lock_guard lock(g_answererMutex);
        answerer = g_answerer;
    }
    if (answerer) {
        return answerer(question);
    }
    QMessageBox box(question.icon, question.caption, question.text, question.buttons, parent);
    box.exec();
    const auto chosen = box.standardButton(box.clickedButton());
    if (chosen != QMessageBox::NoButton) {
        return chosen;
    }
    const auto escape = box.standardButton(box.escapeButton());
    return escape != QMessageBox::NoButton ? escape : QMessageBox::Cancel;
}

void SetBoxAnswerer(BoxAnswerer answerer) {
    std::lock_guard lock(g_answererMutex);
    g_answerer = std::move(answerer);
}

int AreYouSure() {
    return AskYes(QStringLiteral("Are You Sure ?"), QMessageBox::Yes | QMessageBox::No);
}

int AreYouReallySure() {
    return AskYes(QStringLiteral("Are You Really Sure ?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

void InstallMessageBoxHook(QWidget* owner) {
    if (!owner) {
        SetMessageBoxHook(nullptr);
        return;
    }
    QPointer<QWidget> window(owner);
    SetMessageBoxHook([window](const char* caption, const char* text, int type) {
        const BoxQuestion question{
            QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::NoIcon,
            type == MB_OKCANCEL ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok};
        QMessageBox::StandardButton answer = QMessageBox::Cancel;
        auto ask = [&] { answer = AskUser(window.data(), question); };
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() == app->thread()) {
            ask();
        } else {
            QMetaObject::invokeMethod(app, ask, Qt::BlockingQueuedConnection);
        }
        return answer == QMessageBox::Ok ? IDOK : IDCANCEL;
    });
}
