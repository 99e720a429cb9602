// The application: starts the window system, runs the main window until it
// is closed, and ends.
#pragma once

#include <QApplication>

class CTulkApp : public QApplication {
    Q_OBJECT
public:
    CTulkApp(int& argc, char** argv);

    // Runs the main window modally. Returns 0 in every case; the program
    // ends when it returns.
    int InitInstance();
};
