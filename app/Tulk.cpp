#include "Tulk.h"

#include <cstdio>
#include <memory>

#include "Demo.h"
#include "MessageBoxes.h"
#include "TulkDlg.h"
#include "platform/sockets.h"

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
    // "--demo": a simulated camera on COM1 and USB device 0 for the window.
    std::unique_ptr<CDemoCamera> demo;
    if (arguments().contains(QStringLiteral("--demo"))) {
        demo = std::make_unique<CDemoCamera>();
        if (!demo->Error().empty()) {
            std::fprintf(stderr, "tulk: %s\n", demo->Error().c_str());
        }
    }
    CTulkDlg dialog(nullptr);
    dialog.exec();
    return 0;
}
