#include "WidgetTools.h"

#include <QObject>

void DisconnectChildren(QObject* owner) {
    for (QObject* child : owner->findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, owner, nullptr);
    }
}
