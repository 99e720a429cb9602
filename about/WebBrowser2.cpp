#include "about/WebBrowser2.h"

#include <QUrl>

// The page lives in this library's resources, which a program linking the
// library statically has to ask for by name.
static void InitAboutResources() {
    Q_INIT_RESOURCE(about);
}

CWebBrowser2::CWebBrowser2(QWidget* parent) : QTextBrowser(parent) {
    InitAboutResources();
    // A link to the web goes to the user's browser; this one only shows
    // what came with the program.
    setOpenExternalLinks(true);
    setOpenLinks(true);
}

void CWebBrowser2::Navigate(const QString& address) {
    ++m_nNavigations;
    const QUrl url(address);
    if (url.scheme() == QLatin1String("qrc") || url.isLocalFile()) {
        setSource(url);
    }
}
