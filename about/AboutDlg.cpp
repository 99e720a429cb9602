#include "about/AboutDlg.h"

#include <QApplication>
#include <QIcon>
#include <QPushButton>
#include <QStyle>

#include "about/WebBrowser2.h"
#include "ui_AboutDlg.h"

const char* const CAboutDlg::kPageAddress = "qrc:/about/tulk.html";

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CAboutDlg>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_browser = ui->m_browser;
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull() && parent) {
        icon = parent->windowIcon();
    }
    if (icon.isNull()) {
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    }
    ui->m_staticIcon->setPixmap(icon.pixmap(32, 32));
    connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnShowWindow();
}

void CAboutDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    OnShowWindow();
}

// Shown or hidden alike, the page is asked for again.
void CAboutDlg::OnShowWindow() {
    m_browser->Navigate(QString::fromLatin1(kPageAddress));
}
