#include "ftp/FtpDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>

#include "app/Settings.h"
#include "ui_FtpDlg.h"

CFtpDlg::CFtpDlg(QWidget* parent) : QDialog(parent), ui(new Ui::CFtpDlg) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // A value that cannot be read leaves its field empty.
    SettingString("FTPSite", &m_strSite, 0);
    SettingString("FTPPass", &m_strPass, 0);
    SettingString("FTPName", &m_strName, 0);
    SettingString("FTPDir", &m_strDir, 0);
    // Read quietly: a store without it (every store before the first OK
    // here) would otherwise add a line to the log each time.
    std::string passive;
    if (SettingString("FTPPassive", &passive, 0) == 0) {
        m_bPassive = passive == "1";
    }
    DoDataExchange(true);
    connect(ui->btnOk, &QPushButton::clicked, this, &CFtpDlg::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &CFtpDlg::reject);
}

CFtpDlg::~CFtpDlg() = default;

void CFtpDlg::DoDataExchange(bool toControls) {
    const std::pair<QLineEdit*, std::string*> fields[] = {
        {ui->m_editSite, &m_strSite},
        {ui->m_editPass, &m_strPass},
        {ui->m_editName, &m_strName},
        {ui->m_editDir, &m_strDir},
    };
    for (const auto& [edit, text] : fields) {
        if (toControls) {
            edit->setText(QString::fromStdString(*text));
            edit->setCursorPosition(0);
        } else {
            *text = edit->text().toStdString();
        }
    }
    if (toControls) {
        ui->m_chkPassive->setChecked(m_bPassive);
    } else {
        m_bPassive = ui->m_chkPassive->isChecked();
    }
}

void CFtpDlg::accept() {
    DoDataExchange(false);
    QDialog::accept();
}

bool CFtpDlg::StoreSettings() {
    std::string passive = m_bPassive ? "1" : "0";
    return SettingString("FTPSite", &m_strSite, 1) != -1 &&
           SettingString("FTPName", &m_strName, 1) != -1 &&
           SettingString("FTPPass", &m_strPass, 1) != -1 &&
           SettingString("FTPDir", &m_strDir, 1) != -1 &&
           SettingString("FTPPassive", &passive, 1) != -1;
}
