// "FTP Settings": the server, login and remote folder that time-lapse
// pictures are published to, and whether the server opens the data
// connections (passive mode).
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CFtpDlg;
}

class CFtpDlg : public QDialog {
    Q_OBJECT
public:
    // Opens with the stored settings; one that cannot be read shows empty
    // (passive mode: off).
    explicit CFtpDlg(QWidget* parent = nullptr);
    ~CFtpDlg() override;

    // The fields as the user left them, taken when the dialog is closed
    // with OK; the password is shown and kept as plain text.
    std::string m_strSite;
    std::string m_strPass;
    std::string m_strName;
    std::string m_strDir;
    bool m_bPassive = false;

    // Stores "FTPSite", "FTPName", "FTPPass", "FTPDir" and "FTPPassive" in
    // that order, up to the first that cannot be stored: true when all
    // were.
    bool StoreSettings();

    void accept() override;

private:
    // Fields to controls (true) or controls to fields (false).
    void DoDataExchange(bool toControls);

    std::unique_ptr<Ui::CFtpDlg> ui;
};
