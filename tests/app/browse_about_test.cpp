// The main window's folder chooser and About box, as the user reaches
// them: Browse opens at the save folder and OK makes the folder chosen the
// save folder; the Help button's menu opens the About box.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "about/AboutDlg.h"
#include "about/WebBrowser2.h"
#include "shell/ShelTree.h"
#include "shell/TreeSelect.h"
#include "tests/app/camera_rig.h"

namespace {

struct Window {
    FreshHome home;
    QTemporaryDir first;
    QTemporaryDir second;
    QString firstPath = QDir(first.path()).canonicalPath();
    QString secondPath = QDir(second.path()).canonicalPath();
    std::unique_ptr<CTulkDlg> dlg;
    Window() {
        dlg = std::make_unique<CTulkDlg>();
        dlg->setWindowModality(Qt::ApplicationModal);
        dlg->show();
        dlg->SetSaveFolder(firstPath);
    }
    QString Field() const { return dlg->findChild<QLineEdit*>("m_editSaveFolder")->text(); }
    // Presses Browse; while the chooser is up, act runs on it.
    void Browse(const std::function<void(CTreeSelect&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, dlg.get(), [&] {
            auto* chooser = qobject_cast<CTreeSelect*>(QApplication::activeModalWidget());
            QVERIFY(chooser);
            ran = true;
            act(*chooser);
        });
        dlg->findChild<QPushButton*>("btnBrowse")->click();
        QVERIFY(ran);
    }
};

void Press(CTreeSelect& chooser, QDialogButtonBox::StandardButton which) {
    chooser.findChild<QDialogButtonBox*>()->button(which)->click();
}

std::string StoredFolder() {
    std::string stored;
    SettingString("SaveFolder", &stored, 0);
    return stored;
}

}  // namespace

class BrowseAboutTest : public QObject {
    Q_OBJECT
private slots:
    void browseOpensAtTheSaveFolderAndOkTakesTheChoice();
    void cancelChangesNothing();
    void aboutOpensFromTheHelpMenuAndCloses();
};

void BrowseAboutTest::browseOpensAtTheSaveFolderAndOkTakesTheChoice() {
    Window w;
    QString openedAt;
    w.Browse([&](CTreeSelect& chooser) {
        openedAt = CShellTree::ItemPath(chooser.Tree()->currentItem());
        chooser.ShellTree()->SelectPath(w.secondPath);
        Press(chooser, QDialogButtonBox::Ok);
    });
    QCOMPARE(openedAt, w.firstPath);
    QCOMPARE(w.Field(), w.secondPath);
    QCOMPARE(QDir::currentPath(), w.secondPath);
    QCOMPARE(QString::fromStdString(StoredFolder()), w.secondPath);

    // The next Browse opens at the folder chosen last; OK without a change
    // leaves everything as it is.
    w.dlg->SetSaveFolder(w.firstPath);
    w.Browse([&](CTreeSelect& chooser) {
        openedAt = CShellTree::ItemPath(chooser.Tree()->currentItem());
        Press(chooser, QDialogButtonBox::Ok);
    });
    QCOMPARE(openedAt, w.secondPath);
    QCOMPARE(w.Field(), w.firstPath);
}

void BrowseAboutTest::cancelChangesNothing() {
    Window w;
    w.Browse([&](CTreeSelect& chooser) {
        chooser.ShellTree()->SelectPath(w.secondPath);
        QCOMPARE(chooser.m_strPath, w.secondPath);
        Press(chooser, QDialogButtonBox::Cancel);
    });
    QCOMPARE(w.Field(), w.firstPath);
    QCOMPARE(QDir::currentPath(), w.firstPath);
    QVERIFY(StoredFolder().empty());
}

void BrowseAboutTest::aboutOpensFromTheHelpMenuAndCloses() {
    Window w;
    QMenu* menu = w.dlg->findChild<QPushButton*>("btnHelp")->menu();
    QVERIFY(menu);
    QAction* about = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == "&About Tulk...") {
            about = action;
        }
    }
    QVERIFY(about);
    QString page;
    QTimer::singleShot(0, w.dlg.get(), [&] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        QVERIFY(box);
        page = box->m_browser->toPlainText();
        box->findChild<QPushButton*>("btnOK")->click();
    });
    about->trigger();
    QVERIFY(page.contains("Tulk 2.0.2"));
    QVERIFY(!QApplication::activeModalWidget() || QApplication::activeModalWidget() == w.dlg.get());
}

QTEST_MAIN(BrowseAboutTest)
#include "browse_about_test.moc"
