// "Browse for Directory": the folder chooser of the save folder. It opens
// at the folder it is given, shows the path of the selected folder above
// the tree, and ends with OK or Cancel.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class CShellTree;
class QTreeWidget;
class QTreeWidgetItem;
namespace Ui {
class CTreeSelect;
}

class CTreeSelect : public QDialog {
    Q_OBJECT
public:
    CTreeSelect(QWidget* parent, const QString& startPath);
    ~CTreeSelect() override;

    // The selected folder's path; empty when nothing is selected. After OK,
    // the folder chosen.
    QString m_strPath;

    QTreeWidget* Tree() const;
    CShellTree* ShellTree() const { return m_pTree.get(); }

private:
    void OnInitDialog(const QString& startPath);
    void OnSelectionChanged(QTreeWidgetItem* item);
    void ShowPath();

    std::unique_ptr<Ui::CTreeSelect> ui;
    std::unique_ptr<CShellTree> m_pTree;
};
