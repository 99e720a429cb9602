// Small helpers the windows share.
#pragma once

class QObject;

// Cuts every connection from the owner's descendants to the owner, so that
// signals they send while the owner's base classes tear them down find no
// half-destroyed handler.
void DisconnectChildren(QObject* owner);
