#include "shell/ShelTree.h"

#include "shell/FileName.h"

#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

// Folders only, hidden ones left out; "." and ".." are no children.
constexpr QDir::Filters kFolders = QDir::Dirs | QDir::NoDotAndDotDot;

bool HasSubfolders(const QString& path) {
    QDirIterator it(path, kFolders);
    return it.hasNext();
}

QString ChildPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The item after item among its siblings; null after the last.
QTreeWidgetItem* NextSibling(QTreeWidgetItem* item) {
    QTreeWidgetItem* parent = item->parent();
    QTreeWidget* tree = item->treeWidget();
    if (parent) {
        const int at = parent->indexOfChild(item);
        return at + 1 < parent->childCount() ? parent->child(at + 1) : nullptr;
    }
    const int at = tree->indexOfTopLevelItem(item);
    return at + 1 < tree->topLevelItemCount() ? tree->topLevelItem(at + 1) : nullptr;
}

}  // namespace

CShellTree::CShellTree(QTreeWidget* tree) : m_pTree(tree) {}

void CShellTree::EnableShellImages() {
    QStyle* style = m_pTree->style();
    m_iconClosed = style->standardIcon(QStyle::SP_DirClosedIcon);
    m_iconOpen = style->standardIcon(QStyle::SP_DirOpenIcon);
}

void CShellTree::PopulateFromDesktop() {
    m_pOpenIconItem = nullptr;
    m_pTree->clear();
    FillFolderItems(QStringLiteral("/"), nullptr);
    if (QTreeWidgetItem* first = m_pTree->topLevelItem(0)) {
        first->setExpanded(true);
        m_pTree->setCurrentItem(first);
    }
}

int CShellTree::CompareShellItems(const QString& name1, const QString& name2) {
    // Made once: a sort of a large folder compares many thousand times, and
    // a collator is costly to set up. The chooser runs on the window thread.
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(true);
        return c;
    }();
    const int order = collator.compare(name1, name2);
    return order != 0 ? order : QString::compare(name1, name2);
}

void CShellTree::FillFolderItems(const QString& path, QTreeWidgetItem* parent) {
    QStringList names = QDir(path).entryList(kFolders, QDir::NoSort);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return CompareShellItems(a, b) < 0; });
    QList<QTreeWidgetItem*> items;
    items.reserve(names.size());
    for (const QString& name : names) {
        const QString childPath = ChildPath(path, name);
        auto* item = new QTreeWidgetItem(QStringList{name});
        item->setData(0, kPathRole, childPath);
        item->setIcon(0, m_iconClosed);
        const bool children = HasSubfolders(childPath);
        item->setChildIndicatorPolicy(children ? QTreeWidgetItem::ShowIndicator
                                               : QTreeWidgetItem::DontShowIndicator);
        // A folder without subfolders has nothing to fill.
        item->setData(0, kFilledRole, !children);
        items << item;
    }
    if (parent) {
        parent->addChildren(items);
        parent->setData(0, kFilledRole, true);
    } else {
        m_pTree->addTopLevelItems(items);
    }
}

void CShellTree::OnItemExpanding(QTreeWidgetItem* item) {
    if (item && !ExpandedOnce(item)) {
        FillFolderItems(ItemPath(item), item);
    }
}

bool CShellTree::OnSelectionChanged(QTreeWidgetItem* item, QString* path) {
    if (m_pOpenIconItem) {
        m_pOpenIconItem->setIcon(0, m_iconClosed);
        m_pOpenIconItem = nullptr;
    }
    if (!item) {
        return false;
    }
    item->setIcon(0, m_iconOpen);
    m_pOpenIconItem = item;
    *path = ItemPath(item);
    // Selecting a folder fills its children even when it stays closed, so
    // that the path can be followed down without opening every level.
    OnItemExpanding(item);
    return true;
}

void CShellTree::SelectPath(const QString& path) {
    if (!CFileName(path).Exists()) {
        return;
    }
    const QStringList parts =
        QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QTreeWidgetItem* first = m_pTree->topLevelItem(0);
    for (const QString& part : parts) {
        if (!first ||
            !(FindSiblingItem(first, part, true) || FindSiblingItem(first, part, false))) {
            return;
        }
        QTreeWidgetItem* found = m_pTree->currentItem();
        first = found->childCount() > 0 ? found->child(0) : nullptr;
    }
}

bool CShellTree::FindSiblingItem(QTreeWidgetItem* first, const QString& text, bool exact) {
    for (QTreeWidgetItem* item = first; item; item = NextSibling(item)) {
        const QString name = item->text(0);
        if (exact ? name == text : name.compare(text, Qt::CaseInsensitive) == 0) {
            m_pTree->scrollToItem(item);
            m_pTree->setCurrentItem(item);
            OnItemExpanding(item);
            return true;
        }
    }
    return false;
}

QString CShellTree::ItemPath(const QTreeWidgetItem* item) {
    return item->data(0, kPathRole).toString();
}

bool CShellTree::ExpandedOnce(const QTreeWidgetItem* item) {
    return item->data(0, kFilledRole).toBool();
}
