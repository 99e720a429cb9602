// The About box's browser: shows a page bundled with the program, and opens
// the links that lead away from it in the user's own web browser.
#pragma once

#include <QString>
#include <QTextBrowser>

class CWebBrowser2 : public QTextBrowser {
    Q_OBJECT
public:
    explicit CWebBrowser2(QWidget* parent = nullptr);

    // Shows the page at the address. A page of the program's own (qrc:) or
    // a local file is shown here; any other address is left to the user's
    // browser when they follow a link to it, never fetched here.
    void Navigate(const QString& address);
    // How many times Navigate was asked.
    int Navigations() const { return m_nNavigations; }

private:
    int m_nNavigations = 0;
};
