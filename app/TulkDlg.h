// The main window: every button, field, list and slider of the controller.
// Its handlers are split by concern over several files; this header is the
// one class they share.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QStringList>
#include <memory>

#include "EditControls.h"

class QCheckBox;
class QComboBox;
class QProgressBar;
class QSlider;
namespace Ui {
class CTulkDlg;
}

class CTulkDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTulkDlg(QWidget* parent = nullptr);
    ~CTulkDlg() override;

    // Quit and the Enter key: asks "Are You Sure ?" and closes only on Yes.
    void OnOK();
    // "Serial Setup": the serial settings dialog; its choices are stored and
    // take effect only when it is closed with OK.
    void OnSerialSetup();

signals:
    // Local files dropped on the window, in the order given.
    void filesDropped(const QStringList& paths);

protected:
    // Every way out (Quit, Escape, the close box) passes here.
    void done(int result) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void DoDataExchange();
    int OnInitDialog();
    void OnDestroy();
    void OnHelp();

    std::unique_ptr<Ui::CTulkDlg> ui;
    bool m_bDestroyed = false;

    QCheckBox* m_chkOnlyNew = nullptr;
    QCheckBox* m_chkRunPreview = nullptr;
    QCheckBox* m_chkUseUsb = nullptr;
    QCheckBox* m_chkDeleteAfter = nullptr;
    CTextEdit* m_editSaveFolder = nullptr;
    CNumberEdit* m_editShutter = nullptr;
    QComboBox* m_cbViewfinder = nullptr;
    QLineEdit* m_editFramesLeft = nullptr;
    QSlider* m_sliderZoom = nullptr;
    QSlider* m_sliderThreshold = nullptr;
    QComboBox* m_cbFocus = nullptr;
    QLineEdit* m_editPictures = nullptr;
    QComboBox* m_cbImageAdjust = nullptr;
    QComboBox* m_cbMetering = nullptr;
    QComboBox* m_cbWhiteBalance = nullptr;
    QComboBox* m_cbFlash = nullptr;
    QProgressBar* m_progBattery = nullptr;
    QProgressBar* m_progLevel = nullptr;
    QProgressBar* m_progActivity = nullptr;
    QComboBox* m_cbColourMode = nullptr;
    QComboBox* m_cbAperture = nullptr;
    QComboBox* m_cbResolution = nullptr;
    CNumberEdit* m_editDelay = nullptr;
    CNumberEdit* m_editRegister = nullptr;
    CNumberEdit* m_editRegValue = nullptr;
    CNumberEdit* m_editAvailMem = nullptr;
    CTextEdit* m_editZoom = nullptr;
    QCheckBox* m_chkSaveEveryTime = nullptr;
    QCheckBox* m_chkUploadFtp = nullptr;
    QCheckBox* m_chkThreaded = nullptr;
    QIcon m_hIcon;
};

// Lets the window thread handle what is waiting for it, once, so that a long
// wait on that thread keeps the window alive. Returns non-zero when
// something was handled, 0 when nothing was or the program is ending.
int PumpWaitingMessage();
