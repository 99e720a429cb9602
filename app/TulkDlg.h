// The main window: every button, field, list and slider of the controller.
// Its handlers are split by concern over several files; this header is the
// one class they share.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

    // Connection.
    void OnConnect();
    // Shows the folder (the stored save folder when empty) and makes it the
    // current folder.
    void SetSaveFolder(const QString& folder);

    // Picture taking and time lapse.
    void OnTakePicture();
    void OnRunTimeLapse();
    void OnStopTimeLapse();
    void OnDelayChange();
    void OnSaveEveryTime();
    void OnThreadedComms();
    void RefreshCounters();
    // What the picture thread asks of the window thread when its picture is
    // done; only id 0 ever arrives.
    Q_INVOKABLE void OnTimer(int id);

    // Download and erase.
    void OnGetAllFiles();
    void OnOnlyNew();
    void OnGetLast();
    void OnDeleteLast();
    void OnDeleteAll();
    void OnSaveFolderEdited();

    // Upload to the camera: files dropped on the window, one after the
    // other until the first that fails, and "Select File".
    void OnDropFiles(const QStringList& drop);
    void OnSelectFile();
    // The file dialog of "Select File": the chosen path, empty on Cancel.
    QString ChooseFile();

    // Preview: one, or sixteen in a row with "Run Preview".
    void OnTakePreview();
    // Loads the picture file and shows it in the splash window, which the
    // first call creates.
    void ShowSplashPicture(const QString& path);

    // The camera settings panel.
    void OnGetInfo();
    void OnResolutionChange();
    void OnApertureChange();
    void OnColourModeChange();
    void OnFlashChange();
    void OnWhiteBalanceChange();
    void OnImageAdjustChange();
    void OnMeteringChange();
    void OnFocusChange();
    void OnViewfinderChange();
    void OnZoomReleased();
    void OnZoomEdited();
    void OnShutterEdited();
    void RefreshZoom();

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
    // What "Upload to FTP" reads as when a time lapse or a download starts.
    std::int32_t UploadFtpState() const;
    void DoDataExchange();
    int OnInitDialog();
    void OnDestroy();
    void OnHelp();
    void ConnectHandlers();

    // Timer 1's tick: one picture thread.
    void TimeLapseTimerProc();
    void PictureThread();
    // Stops the time lapse and waits, keeping the window's queue moving,
    // until no picture thread is left; the link may then be closed.
    void StopPictureWork();
    // Joins the picture threads that have ended.
    void ReapPictureThreads();
    Q_INVOKABLE void ShowWaitWindow(bool show);
    // The "Downloading Picture" window and the wait cursor of a Get All
    // Files worker, which asks for them from its own thread.
    Q_INVOKABLE void ShowDownloadWindow(bool show);
    // Waits, keeping the window's queue moving, until the Get All Files
    // worker has ended, and joins it.
    void JoinDownloadThread(QEventLoop::ProcessEventsFlags flags);
    // Sends the drops waiting, oldest first.
    void UploadPendingDrops();

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

    std::int32_t m_nTimerValue = 0;
    QTimer m_timerTimeLapse;
    QWidget* m_wndTakingPicture = nullptr;
    struct PictureWorker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::vector<PictureWorker> m_pictureThreads;
    QWidget* m_wndDownloading = nullptr;
    bool m_bDownloadCursor = false;
    std::thread m_downloadThread;

    bool m_bUploading = false;
    std::deque<QStringList> m_pendingDrops;

    std::unique_ptr<QImage> m_gpPicture;
    bool m_bSplashCreated = false;
    QRect m_rcSplash;
    std::unique_ptr<QWidget> m_hSplashWnd;
};

// One capture: the focus mode written around the snapshot. Does nothing
// without a connection. Safe on any thread.
void TakePicture();
// The camera's free memory in bytes; 0 when it cannot be read.
std::int32_t GetAvailMemory();
// Reads the camera's model and picks its resolution names.
void SelectResolutionTable();
// Sends LCDMODE with the mode's low byte.
void SetViewfinder(int mode);

// Downloads the camera's newest picture into the current folder. After a
// time-lapse picture (on the picture thread) it also erases the picture when
// "Delete After Download" was on at the last Get Last, and only when the
// download succeeded. Safe on any thread.
void GetLastPicture();
// 1 when picture index + 1 is already in the current folder under the name
// a download would give it, else 0.
int AlreadyDownloaded(int index);
// The camera's name for a picture as it may be used for a file in the save
// folder: a plain name, else empty (the caller then makes one up).
std::string PlainPictureName(const unsigned char* bytes, long length);

// Sends the file to the camera, which stores it as a picture: 0 when it
// did, -1 otherwise (why goes to the activity log). On the window thread
// the window keeps painting, with the wait cursor, but takes no input.
int UploadFile(const std::string& path);

// Lets the window thread handle what is waiting for it, once, so that a long
// wait on that thread keeps the window alive. Returns non-zero when
// something was handled, 0 when nothing was or the program is ending.
int PumpWaitingMessage();
