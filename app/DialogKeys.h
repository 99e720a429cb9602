// Enter in the edit part of a list presses the dialog's default button, as
// it does in every other field: Qt's editable lists keep the key to
// themselves.
#pragma once

class QDialog;

// Applies to the lists the dialog holds now.
void PassEnterToDialog(QDialog* dialog);
