// "About Tulk": the version, the credits, the copyright line, and the
// project's page, shown again each time the box is shown or hidden.
#pragma once

#include <QDialog>
#include <memory>

class CWebBrowser2;
namespace Ui {
class CAboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // The page the box shows: the one that comes with the program.
    static const char* const kPageAddress;

    CWebBrowser2* m_browser = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnShowWindow();

    std::unique_ptr<Ui::CAboutDlg> ui;
};
