#include "app/WidgetTools.h"

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <utility>

namespace {

class FocusOutFilter : public QObject {
public:
    FocusOutFilter(QObject* parent, std::function<void()> handler)
        : QObject(parent), handler_(std::move(handler)) {
        setObjectName(QLatin1String(kName));
    }
    static constexpr const char* kName = "tulkFocusOutFilter";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            handler_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

}  // namespace

void DisconnectChildren(QObject* owner) {
    for (QObject* child : owner->findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, owner, nullptr);
    }
    // A focus-out handler is a member of the owner as much as a slot is.
    const auto filters = owner->findChildren<QObject*>(QLatin1String(FocusOutFilter::kName),
                                                       Qt::FindDirectChildrenOnly);
    for (QObject* filter : filters) {
        delete filter;
    }
}

void OnFocusOut(QWidget* widget, QObject* context, std::function<void()> handler) {
    widget->installEventFilter(new FocusOutFilter(context, std::move(handler)));
}
