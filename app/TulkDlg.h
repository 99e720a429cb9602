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
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "app/CameraWorker.h"
#include "app/EditControls.h"
#include "ftp/FtpUpload.h"
#include "ftp/FtpWorker.h"
#include "run/RunEngine.h"
#include "sound/SoundIn.h"

class CProgressWindow;
struct CameraCounters;
struct CalibrationTexts;
class QCheckBox;
class QLabel;
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
    // Makes the folder (the stored save folder when empty, the pictures
    // folder when none is stored) the current folder, making it when it is
    // missing, and shows it. One that cannot be used gives a box with the
    // reason, and the folder in use stays; the field shows that one.
    void SetSaveFolder(const QString& folder);
    // The desktop's pictures folder + "/Tulk".
    static QString DefaultSaveFolder();
    // The folder in use, whole, with a "/" at its end, for camera work
    // queued now: a job keeps to it even if the user picks another
    // meanwhile. Any thread (the time-lapse clock's asks too).
    std::string SaveFolderPath() const;
    void SetFolderInUse(const QString& folder);

    // Picture taking and time lapse.
    void OnTakePicture();
    void OnRunTimeLapse();
    void OnStopTimeLapse();
    void OnDelayChange();
    void OnSaveEveryTime();
    void OnThreadedComms();
    void RefreshCounters();
    // Shows counters read on the camera thread.
    void ShowCounters(const CameraCounters& counters);
    // The status line's text.
    QString StatusLine() const;
    // Time-lapse ticks dropped because a picture step was still running or
    // the clock found its deadline passed.
    long DroppedTicks() const { return m_runTimeLapse.Totals().dropped; }

    // Download and erase.
    void OnGetAllFiles();
    void OnOnlyNew();
    void OnGetLast();
    void OnDeleteLast();
    void OnDeleteAll();
    void OnSaveFolderEdited();

    // "FTP Settings": the dialog; OK stores its fields.
    void OnFtpSettings();

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

    // The service corner: "All Register Dump" writes registers 1 to 93 into
    // the activity log, "Read" dumps the register in the field, writes the
    // value field into it and puts the old value back, "Hack" sends the
    // three raw byte groups on the USB device. The calibrations ask their
    // questions and then have the camera calibrate itself.
    void OnRegisterDump();
    void OnRegisterRead();
    void OnHack();
    void OnAutoFocusCalibrate();
    void OnWhiteBalanceCalibrate();

    // "Browse": the folder chooser; OK makes its folder the save folder.
    void OnBrowse();
    // "About Tulk".
    void OnAbout();

    // "Sound Trigger": waits, with the level meter live, until a sound
    // reaches the slider's level and the picture has been taken; pressed
    // again during the wait, ends it without a picture.
    void OnSoundTrigger();

    // Runs the job on the camera thread, after the camera work asked for
    // before it, and waits for it in a local event loop that paints, runs
    // timers and leaves user input queued, with the wait cursor. The boxes
    // the job asked for are shown once it has let go of the link. Returns
    // the job's result; a value-initialised one, without running it, once
    // the window has begun to close.
    template <typename F>
    auto CameraWait(F job) -> std::invoke_result_t<F&> {
        using Result = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<Result>) {
            WaitForCamera([&job] { job(); });
        } else {
            Result result{};
            WaitForCamera([&job, &result] { result = job(); });
            return result;
        }
    }
    // Queues the job on the camera thread and returns at once; done runs on
    // the window thread when the job has ended and let go of the link.
    bool CameraPost(std::function<void()> job, std::function<void()> done = {});

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

    bool WaitForCamera(const std::function<void()>& job, bool last = false);
    // A camera job as the camera thread runs it: the link's health is judged
    // after it.
    std::function<void()> Watched(std::function<void()> job);
    void CreateStatusLine();
    void ShowStatus();
    // After camera work: the status line and the camera's fields follow
    // whether the camera still answers.
    void ShowLinkState();
    // A Connect that failed: the previous camera's values go.
    void ClearCameraFields();
    // The folder made current, or why it cannot be used.
    static bool UseSaveFolder(const QString& folder, QString* why);
    void SaveFolderRefused(const QString& folder, const QString& why);
    // The time-lapse clock's tick, on the clock's thread: one picture step
    // queued on the camera thread, unless the previous one is still running.
    // The time lapse's events, on the run's thread.
    void OnRunEvent(RunEvent& event);
    // On the window thread.
    void ShowRunEvent(const RunEvent& event);
    // Stops the time lapse and Get All Files: no new picture step or
    // download is queued; those queued finish before any later camera work.
    void StopPictureWork();
    // Get All Files: queues the next picture, or ends.
    void NextDownload();
    void EndGetAllFiles();
    // Sends the drops waiting, oldest first.
    void UploadPendingDrops();
    // UploadFile on the camera thread, with the progress window up.
    int UploadWithProgress(const std::string& path, std::string* reason);
    // Publishes the picture file on the FTP thread, then shows how it went
    // in the status line and runs finished on the window thread.
    void PublishLastPicture(const std::string& path, std::function<void()> finished);
    // The status line's word on the last publication.
    void ShowPublication(FtpResult result, const std::string& reason);
    // The status line: the line, and the last publication's outcome.
    void SetStatusText(const QString& line);
    CProgressWindow* TakingPictureWindow();
    CProgressWindow* RegisterDumpWindow();
    // The calibrations' parts. A step runs on the camera thread; each is
    // false when the calibration ends there (the window closing too).
    bool CalibrationStep(const std::function<void()>& job);
    bool CalibrationAgreed(const CalibrationTexts& c);
    bool FocusedAt(double zoom);
    bool RunCalibration(const CalibrationTexts& c);
    CProgressWindow* DownloadingWindow();

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
    CProgressWindow* m_wndTakingPicture = nullptr;
    CProgressWindow* m_wndDownloading = nullptr;
    CProgressWindow* m_wndRegisterDump = nullptr;
    // Get All Files in progress: the next picture index and the count.
    bool m_bGettingAll = false;
    int m_nGetAllNext = 0;
    int m_nGetAllCount = 0;
    // Handlers waiting for the camera, one inside the other.
    int m_nCameraWaits = 0;

    QLabel* m_labelStatus = nullptr;
    QTimer m_timerStatus;
    QString m_strConnected;
    // The camera's model as Get Info last read it.
    QString m_strModel;
    QString m_strConnectFailure;
    std::atomic<bool> m_bLinkFailing{false};
    std::atomic<long> m_nLastStepMs{0};
    long m_nTimeLapseInterval = 0;
    // The time lapse's camera while it is lost ("camera lost at ..."), or
    // how it came back; empty when nothing happened.
    QString m_strRunOutage;
    bool m_bRunOutage = false;
    // The time lapse's journal, empty when it has none.
    QString m_strJournal;

    // Where pictures go now: the current folder, as the field shows it.
    QString m_strFolderInUse;
    // The folder last chosen with Browse; empty until then.
    QString m_strSaveFolder;
    // Where the program started.
    QString m_strStartFolder;
    // SaveFolderPath's answer, kept with m_strFolderInUse.
    mutable std::mutex m_folderMutex;
    std::string m_strFolderPath;

    // When the last publication ended and how; empty before the first.
    QString m_strLastPublication;

    bool m_bUploading = false;
    std::deque<QStringList> m_pendingDrops;

    std::unique_ptr<QImage> m_gpPicture;
    bool m_bSplashCreated = false;
    QRect m_rcSplash;
    std::unique_ptr<QWidget> m_hSplashWnd;

    // The sound capture, for the window's whole life.
    CSoundIn m_SoundIn;

    // The time lapse's way to the camera: its work on the camera thread, the
    // link opened again after an outage (TulkDlgCapture.cpp).
    class CWindowRunCamera : public CRunCamera {
    public:
        explicit CWindowRunCamera(CTulkDlg& window) : m_window(window) {}
        bool RunOnLink(const std::function<void()>& work) override;
        eph_iob* Link() override;
        bool Reopen() override;
        // What the run opens again: what the last Connect opened.
        int m_nPort = 1;
        long m_nSpeed = 0;
        int m_nUseUsb = 0;

    private:
        CTulkDlg& m_window;
    };

    // Last, so that they go first: the window's parts outlive the camera
    // thread and the FTP thread, and the camera thread outlives the run
    // that queues work on it.
    CFtpWorker m_ftp;
    CCameraWorker m_camera;
    CWindowRunCamera m_runCamera{*this};
    CRunEngine m_runTimeLapse{m_runCamera};
};

// One capture: the focus mode written around the snapshot. Does nothing
// without a connection. Camera thread.
void TakePicture();
// Sends the action with its one argument byte; when the camera does not
// complete it, writes the line to the activity log. Camera thread.
bool CameraAction(int action, unsigned char arg, const char* failedLine);
// Ends the open link, if any, with the sign-off, as at exit. Camera thread.
void CloseLink();
// The three counters of the window, as read from the camera.
struct CameraCounters {
    int pictures = -1;
    int framesLeft = 0;
    std::int32_t availMem = 0;
};
// Camera thread.
CameraCounters ReadCounters();
// The camera's free memory in bytes; 0 when it cannot be read.
std::int32_t GetAvailMemory();
// Reads the camera's model and picks its resolution names.
void SelectResolutionTable();
// Writes one register into the activity log, read as its dump class asks:
// the integer read, or -1 when there is none (a data register, one that is
// skipped, a read that failed). Registers 14 and 15 and a closed link give
// 0 without a line. Camera thread.
std::int32_t RegDump(int reg);
// Sends LCDMODE with the mode's low byte.
void SetViewfinder(int mode);

// Downloads the camera's newest picture into the folder (ending in "/";
// empty: the current folder). A time lapse's pictures are the run engine's,
// which erases them with "Delete After Download". Camera thread. 0 when the
// picture reached the folder, -1 otherwise; *saved (when given) then gets
// the file's path.
int GetLastPicture(const std::string& folder = {}, std::string* saved = nullptr);
// 1 when picture index + 1 is already in the current folder under the name
// a download would give it, else 0.
int AlreadyDownloaded(int index, const std::string& folder = {});

// Sends the file to the camera, which stores it as a picture: 0 when it
// did, -1 otherwise (why goes to the activity log, and in words for the
// user to *reason). Camera thread.
int UploadFile(const std::string& path, std::string* reason = nullptr);

// Lets the window thread handle what is waiting for it, once, so that a long
// wait on that thread keeps the window alive. Returns non-zero when
// something was handled, 0 when nothing was or the program is ending.
int PumpWaitingMessage();
