#include "DialogKeys.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>

namespace {

class EnterForwarder : public QObject {
public:
    explicit EnterForwarder(QDialog* dialog) : QObject(dialog), dialog_(dialog) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
            return false;
        }
        // With its entries open, Enter picks an entry.
        auto* list = qobject_cast<QComboBox*>(watched);
        if (!list || list->view()->isVisible()) {
            return false;
        }
        QCoreApplication::sendEvent(dialog_, event);
        return true;
    }

private:
    QDialog* dialog_;
};

}  // namespace

void PassEnterToDialog(QDialog* dialog) {
    auto* forwarder = new EnterForwarder(dialog);
    for (QComboBox* list : dialog->findChildren<QComboBox*>()) {
        if (list->isEditable()) {
            list->installEventFilter(forwarder);
        }
    }
}
