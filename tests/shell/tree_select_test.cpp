// The folder chooser over a folder tree made for each test: where it opens,
// how it follows a path down, what gets an item, and that a folder's
// children come only when it is opened or selected.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "shell/FileName.h"
#include "shell/ShelTree.h"
#include "shell/TreeSelect.h"

namespace {

// root/{Alpha, beta, Empty, Photos/{2001/Summer, 2002}, zeta, .hidden/inner}
// and a file; "Photos" has a sibling "photos" when asked.
struct Folders {
    QTemporaryDir dir;
    QString root = QDir(dir.path()).canonicalPath();
    explicit Folders(bool twinInOtherCase = false) {
        for (const char* path : {"Alpha", "beta", "Empty", "Photos/2001/Summer", "Photos/2002",
                                 "zeta", ".hidden/inner"}) {
            QDir(root).mkpath(path);
        }
        if (twinInOtherCase) {
            QDir(root).mkpath("photos/2001");
        }
        QFile file(root + "/file.txt");
        file.open(QIODevice::WriteOnly);
    }
    QString operator()(const QString& rel) const { return rel.isEmpty() ? root : root + "/" + rel; }
};

QString Selected(const CTreeSelect& dlg) {
    QTreeWidgetItem* item = dlg.Tree()->currentItem();
    return item ? CShellTree::ItemPath(item) : QString();
}

QString Shown(const CTreeSelect& dlg) {
    return dlg.findChild<QLabel*>("m_staticPath")->text();
}

QStringList ChildNames(const QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i) {
        names << item->child(i)->text(0);
    }
    return names;
}

}  // namespace

class TreeSelectTest : public QObject {
    Q_OBJECT
private slots:
    void opensAtTheStartFolder_data();
    void opensAtTheStartFolder();
    void theExactNameComesBeforeAnotherCase();
    void siblingsAreFoundInAnyCase();
    void hiddenFoldersAndFilesGetNoItem();
    void childrenComeWhenAFolderIsOpenedOrSelected();
    void fileNameExists_data();
    void fileNameExists();
};

void TreeSelectTest::opensAtTheStartFolder_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("selected");  // empty: the first top-level item
    QTest::addColumn<QString>("shown");
    QTest::newRow("a folder two levels down") << "Photos/2001"
                                              << "Photos/2001"
                                              << "Photos/2001";
    QTest::newRow("with a slash at its end") << "Photos/2001/"
                                             << "Photos/2001"
                                             << "Photos/2001";
    // A hidden folder has no item: the parent stays selected and its path
    // is the one shown.
    QTest::newRow("stops at the first part not in the tree") << ".hidden/inner"
                                                             << ""
                                                             << "";
    QTest::newRow("a folder that is not there changes nothing") << "nowhere/2001"
                                                                << "-"
                                                                << "nowhere/2001";
}

void TreeSelectTest::opensAtTheStartFolder() {
    QFETCH(QString, start);
    QFETCH(QString, selected);
    QFETCH(QString, shown);
    Folders f;
    CTreeSelect dlg(nullptr, f(start));
    QCOMPARE(dlg.windowTitle(), QString("Browse for Directory"));
    if (selected == "-") {
        QCOMPARE(dlg.Tree()->currentItem(), dlg.Tree()->topLevelItem(0));
        QVERIFY(dlg.Tree()->topLevelItem(0)->isExpanded());
    } else {
        QCOMPARE(Selected(dlg), f(selected));
    }
    QCOMPARE(dlg.m_strPath, f(shown));
    QCOMPARE(Shown(dlg), f(shown));
}

void TreeSelectTest::theExactNameComesBeforeAnotherCase() {
    Folders f(true);
    for (const QString& name : {QString("photos/2001"), QString("Photos/2001")}) {
        CTreeSelect dlg(nullptr, f(name));
        QCOMPARE(Selected(dlg), f(name));
    }
}

void TreeSelectTest::siblingsAreFoundInAnyCase() {
    Folders f;
    CTreeSelect dlg(nullptr, f(""));
    QTreeWidgetItem* root = dlg.Tree()->currentItem();
    QCOMPARE(CShellTree::ItemPath(root), f(""));
    CShellTree* tree = dlg.ShellTree();
    QVERIFY(!tree->FindSiblingItem(root->child(0), "PHOTOS", true));
    QVERIFY(tree->FindSiblingItem(root->child(0), "PHOTOS", false));
    QCOMPARE(Selected(dlg), f("Photos"));
    QCOMPARE(Shown(dlg), f("Photos"));
    QVERIFY(!tree->FindSiblingItem(root->child(0), "Photo", false));
    QCOMPARE(Selected(dlg), f("Photos"));
}

void TreeSelectTest::hiddenFoldersAndFilesGetNoItem() {
    Folders f;
    CTreeSelect dlg(nullptr, f(""));
    QCOMPARE(ChildNames(dlg.Tree()->currentItem()),
             (QStringList{"Alpha", "beta", "Empty", "Photos", "zeta"}));
}

void TreeSelectTest::childrenComeWhenAFolderIsOpenedOrSelected() {
    Folders f;
    CTreeSelect dlg(nullptr, f(""));
    QTreeWidgetItem* root = dlg.Tree()->currentItem();
    QTreeWidgetItem* photos = root->child(3);
    QTreeWidgetItem* empty = root->child(2);
    QCOMPARE(photos->text(0), QString("Photos"));
    QCOMPARE(photos->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    QCOMPARE(photos->childCount(), 0);

    photos->setExpanded(true);
    QCOMPARE(ChildNames(photos), (QStringList{"2001", "2002"}));
    // Filled once only: a folder made later does not appear.
    QDir(f("Photos")).mkdir("2003");
    photos->setExpanded(false);
    photos->setExpanded(true);
    QCOMPARE(photos->childCount(), 2);

    QTreeWidgetItem* y2001 = photos->child(0);
    QCOMPARE(y2001->childCount(), 0);
    dlg.Tree()->setCurrentItem(y2001);
    QCOMPARE(ChildNames(y2001), QStringList{"Summer"});
    QVERIFY(!y2001->isExpanded());
    QCOMPARE(Shown(dlg), f("Photos/2001"));

    dlg.Tree()->setCurrentItem(empty);
    QCOMPARE(empty->childCount(), 0);
    QCOMPARE(Shown(dlg), f("Empty"));
}

void TreeSelectTest::fileNameExists_data() {
    QTest::addColumn<QString>("rel");
    QTest::addColumn<bool>("exists");
    QTest::newRow("folder") << "Photos" << true;
    QTest::newRow("folder and slash") << "Photos/" << true;
    QTest::newRow("file") << "file.txt" << true;
    QTest::newRow("missing") << "Photos/1999" << false;
    QTest::newRow("other case") << "PHOTOS" << false;
}

void TreeSelectTest::fileNameExists() {
    QFETCH(QString, rel);
    QFETCH(bool, exists);
    Folders f;
    QCOMPARE(CFileName(f(rel)).Exists(), exists);
    QVERIFY(!CFileName("").Exists());
}

QTEST_MAIN(TreeSelectTest)
#include "tree_select_test.moc"
