#include "app/MessageBoxes.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <deque>
#include <mutex>

#include "app/ThreadRule.h"
#include "log/activity_log.h"

namespace {

std::mutex g_answererMutex;
BoxAnswerer g_answerer;

// Boxes a thread other than the window's asked for, until it hands them on.
thread_local std::vector<BoxQuestion> t_deferredBoxes;

// Window thread only.
QPointer<QWidget> g_boxOwner;
std::deque<BoxQuestion> g_queuedBoxes;
bool g_showingQueuedBoxes = false;

// The framework's own boxes carry the program's name as their caption.
const QString kProgramCaption = QStringLiteral("Tulk");

int AskYes(const QString& text, QMessageBox::StandardButtons buttons,
           const QString& informative = QString()) {
    const BoxQuestion question{kProgramCaption, text,       QMessageBox::Critical, buttons,
                               QMessageBox::No, informative};
    return AskUser(QApplication::activeWindow(), question) == QMessageBox::Yes ? 1 : 0;
}

}  // namespace

QMessageBox::StandardButton AskUser(QWidget* parent, const BoxQuestion& question) {
    if (!OnWindowThread()) {
        CheckMayWaitForWindow("a thread that holds the camera link asks the user");
    }
    BoxAnswerer answerer;
    {
        std::lock_guard lock(g_answererMutex);
        answerer = g_answerer;
    }
    if (answerer) {
        return answerer(question);
    }
    QMessageBox box(question.icon, question.caption, question.text, question.buttons, parent);
    if (question.defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(question.defaultButton);
    }
    if (!question.informative.isEmpty()) {
        box.setInformativeText(question.informative);
    }
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

BoxAnswerer CurrentBoxAnswerer() {
    std::lock_guard lock(g_answererMutex);
    return g_answerer;
}

int AreYouSure(const QString& informative) {
    return AskYes(QStringLiteral("Are You Sure ?"), QMessageBox::Yes | QMessageBox::No,
                  informative);
}

int AreYouReallySure() {
    return AskYes(QStringLiteral("Are You Really Sure ?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

void InstallMessageBoxHook(QWidget* owner) {
    g_boxOwner = owner;
    if (!owner) {
        SetMessageBoxHook(nullptr);
        return;
    }
    SetMessageBoxHook([](const char* caption, const char* text, int type) {
        const BoxQuestion question{
            QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::NoIcon,
            type == MB_OKCANCEL ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok};
        if (!OnWindowThread()) {
            t_deferredBoxes.push_back(question);
            return IDOK;
        }
        return AskUser(g_boxOwner.data(), question) == QMessageBox::Ok ? IDOK : IDCANCEL;
    });
}

std::vector<BoxQuestion> TakeDeferredBoxes() {
    std::vector<BoxQuestion> boxes;
    boxes.swap(t_deferredBoxes);
    return boxes;
}

void QueueBoxes(std::vector<BoxQuestion> boxes) {
    for (BoxQuestion& box : boxes) {
        g_queuedBoxes.push_back(std::move(box));
    }
}

void ShowQueuedBoxes() {
    if (g_showingQueuedBoxes) {
        return;
    }
    g_showingQueuedBoxes = true;
    // A box may come while the window waits with the wait cursor; the user
    // must still see where to click.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    while (!g_queuedBoxes.empty()) {
        const BoxQuestion question = g_queuedBoxes.front();
        g_queuedBoxes.pop_front();
        AskUser(g_boxOwner.data(), question);
    }
    if (waiting) {
        QApplication::restoreOverrideCursor();
    }
    g_showingQueuedBoxes = false;
}
