// Small helpers the windows share.
#pragma once

#include <functional>

class QObject;
class QWidget;

// Cuts every connection from the owner's descendants to the owner, and
// removes the focus-out handlers it installed, so that signals and events
// they send while the owner's base classes tear them down find no
// half-destroyed handler.
void DisconnectChildren(QObject* owner);

// Calls the handler every time the widget loses the keyboard focus, whether
// its content changed or not. The handler goes with the context.
void OnFocusOut(QWidget* widget, QObject* context, std::function<void()> handler);
