#include "shell/TreeSelect.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTreeWidget>

#include "shell/ShelTree.h"
#include "ui_TreeSelect.h"

CTreeSelect::CTreeSelect(QWidget* parent, const QString& startPath)
    : QDialog(parent), ui(std::make_unique<Ui::CTreeSelect>()) {
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setDefault(true);
    OnInitDialog(startPath);
}

CTreeSelect::~CTreeSelect() = default;

QTreeWidget* CTreeSelect::Tree() const {
    return ui->m_tree;
}

void CTreeSelect::OnInitDialog(const QString& startPath) {
    m_pTree = std::make_unique<CShellTree>(ui->m_tree);
    connect(ui->m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { m_pTree->OnItemExpanding(item); });
    connect(ui->m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { OnSelectionChanged(item); });
    m_pTree->EnableShellImages();
    m_pTree->PopulateFromDesktop();
    // Each folder the tree opens on the way down becomes the path; one it
    // cannot follow at all leaves the path as given.
    m_strPath = startPath;
    m_pTree->SelectPath(startPath);
    ShowPath();
    ui->m_tree->setFocus();
}

void CTreeSelect::OnSelectionChanged(QTreeWidgetItem* item) {
    QString path;
    m_strPath = m_pTree->OnSelectionChanged(item, &path) ? path : QString();
    ShowPath();
}

void CTreeSelect::ShowPath() {
    ui->m_staticPath->setText(m_strPath);
}
