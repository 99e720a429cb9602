// The About box: its texts, the page that comes with the program, and a
// new navigation each time the box is shown or hidden; nothing of it needs
// a network.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "about/AboutDlg.h"
#include "about/WebBrowser2.h"

class AboutTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheVersionTheCreditsAndThePage();
    void navigatesWhenShownAndWhenHidden();
    void leavesWebAddressesToTheUsersBrowser();
};

void AboutTest::showsTheVersionTheCreditsAndThePage() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QString("About Tulk"));
    QCOMPARE(about.findChild<QLabel*>("m_staticVersion")->text(), QString("Tulk Version 2.0.2"));
    QCOMPARE(about.findChild<QGroupBox*>("groupThanks")->title(),
             QString("Thanks to the Following"));
    QVERIFY(about.findChild<QLabel*>("m_staticCopyright")->text().contains("Orvandel"));
    // No page before the box is shown.
    QVERIFY(about.m_browser->toPlainText().isEmpty());
    about.show();
    QVERIFY(about.m_browser->toPlainText().contains("Tulk 2.0.2"));
    QVERIFY(about.m_browser->openExternalLinks());
}

void AboutTest::navigatesWhenShownAndWhenHidden() {
    CAboutDlg about;
    int navigationsSeen = -1;
    QTimer::singleShot(0, &about, [&] {
        navigationsSeen = about.m_browser->Navigations();
        about.findChild<QPushButton*>("btnOK")->click();
    });
    QCOMPARE(about.exec(), int(QDialog::Accepted));
    QCOMPARE(navigationsSeen, 1);
    QCOMPARE(about.m_browser->Navigations(), 2);
    QCOMPARE(about.m_browser->source(), QUrl("qrc:/about/tulk.html"));
}

void AboutTest::leavesWebAddressesToTheUsersBrowser() {
    CWebBrowser2 browser;
    browser.Navigate("qrc:/about/tulk.html");
    const QString page = browser.toPlainText();
    browser.Navigate("https://tulk.orvandel.example/");
    QCOMPARE(browser.toPlainText(), page);
    QCOMPARE(browser.source(), QUrl("qrc:/about/tulk.html"));
    QCOMPARE(browser.Navigations(), 2);
}

QTEST_MAIN(AboutTest)
#include "about_test.moc"
