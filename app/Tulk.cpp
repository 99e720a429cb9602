#include "app/Tulk.h"

#include "app/MessageBoxes.h"
#include "app/TulkDlg.h"
#include "app/platform/sockets.h"

CTulkApp::CTulkApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tulk"));
    setOrganizationName(QStringLiteral("Orvandel"));
}

int CTulkApp::InitInstance() {
    if (InitSockets() != 0) {
        AskUser(nullptr, BoxQuestion{QStringLiteral("Tulk"),
                                     QStringLiteral("Windows sockets initialization failed."),
                                     QMessageBox::NoIcon, QMessageBox::Ok});
        return 0;
    }
    CTulkDlg dialog(nullptr);
    dialog.exec();
    return 0;
}
