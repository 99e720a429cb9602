// The operations that fill and drive the folder chooser's tree over the file
// system, with "/" at the top: the top-level items are the folders of "/",
// and a folder's children are added the first time it is expanded or
// selected, never again. Hidden folders (a name beginning with ".") are left
// out, and files never get an item.
#pragma once

#include <QIcon>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

class CShellTree {
public:
    explicit CShellTree(QTreeWidget* tree);

    // Gives the tree the folder icons, closed and open.
    void EnableShellImages();
    // Empties the tree, fills it with the folders of "/", and opens and
    // selects the first of them.
    void PopulateFromDesktop();
    // Adds an item under parent (the top level when null) for each folder
    // in the folder at path, in order. A folder that cannot be read adds
    // nothing.
    void FillFolderItems(const QString& path, QTreeWidgetItem* parent);
    // The order of siblings: by name as people sort them, case aside,
    // then exactly, so that two names that differ only in case keep a
    // fixed order.
    static int CompareShellItems(const QString& name1, const QString& name2);
    // The tree is about to show the item's children: fills them the first
    // time.
    void OnItemExpanding(QTreeWidgetItem* item);
    // The selection moved to item: *path gets its folder's path (true), and
    // its children are filled if they never were. False without an item.
    bool OnSelectionChanged(QTreeWidgetItem* item, QString* path);
    // Opens the tree at the folder: from the top level down, each part of
    // the path selects the child of that name (the exact name first, then
    // any case), stopping at the first part that is not there. A path that
    // does not exist changes nothing.
    void SelectPath(const QString& path);
    // From first along its next siblings, the first item whose name is the
    // text: exactly when exact is set, otherwise in any case. It is made
    // visible and selected. False when there is none.
    bool FindSiblingItem(QTreeWidgetItem* first, const QString& text, bool exact);

    // The folder an item stands for.
    static QString ItemPath(const QTreeWidgetItem* item);
    // The item's children were filled (or it has none to fill).
    static bool ExpandedOnce(const QTreeWidgetItem* item);

private:
    QTreeWidget* m_pTree;
    QIcon m_iconClosed;
    QIcon m_iconOpen;
    QTreeWidgetItem* m_pOpenIconItem = nullptr;
};
