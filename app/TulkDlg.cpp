// The main window's start-up and shut-down, the quit question, dropped files
// and the message pump.
#include "app/TulkDlg.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QUrl>
#include <cstdint>
#include <mutex>

#include "about/AboutDlg.h"
#include "app/LinkHealth.h"
#include "app/MessageBoxes.h"
#include "app/ProgressWindow.h"
#include "app/SerialSetup.h"
#include "app/Settings.h"
#include "app/SoundTrigger.h"
#include "app/SplashWindow.h"
#include "app/ThreadRule.h"
#include "app/TulkState.h"
#include "app/WidgetTools.h"
#include "camera/camera_ops.h"
#include "link/eph.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "shell/TreeSelect.h"
#include "ui_TulkDlg.h"

namespace {

// The sound trigger's level starts at its highest: nothing short of full
// scale fires it until the user moves the slider.
constexpr int kSoundThresholdStart = 32767;
constexpr std::int32_t kDelayAtFirstStart = 7000;

// The program's icon, drawn rather than loaded so that it needs no file: a
// small camera.
QIcon MakeProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(55, 58, 70));
        p.drawRoundedRect(QRectF(0.5 * u, 4 * u, 15 * u, 10.5 * u), 2 * u, 2 * u);
        p.drawRect(QRectF(5 * u, 2 * u, 6 * u, 3 * u));
        p.setBrush(QColor(205, 215, 235));
        p.drawEllipse(QPointF(8 * u, 9.25 * u), 4 * u, 4 * u);
        p.setBrush(QColor(30, 62, 125));
        p.drawEllipse(QPointF(8 * u, 9.25 * u), 2.25 * u, 2.25 * u);
        p.setBrush(QColor(250, 200, 60));
        p.drawRect(QRectF(12.5 * u, 5.25 * u, 2 * u, 1.5 * u));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

}  // namespace

CTulkDlg::CTulkDlg(QWidget* parent) : QDialog(parent), ui(new Ui::CTulkDlg) {
    InstallThreadRule();
    m_strStartFolder = QDir::currentPath();
    m_hIcon = MakeProgramIcon();
    g_bConnected = 0;
    ui->setupUi(this);
    // A caption, a system menu, a minimise box and a close box, a task-bar
    // button, and a size the user cannot change.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // Files dropped anywhere on the window are the window's; the fields
    // would otherwise take them as text.
    for (QLineEdit* field : findChildren<QLineEdit*>()) {
        field->setAcceptDrops(false);
    }
    DoDataExchange();

    connect(ui->btnQuit, &QPushButton::clicked, this, &CTulkDlg::OnOK);
    // Without a window menu of the platform's, "About Tulk" is the Help
    // button's, beside the help itself.
    auto* helpMenu = new QMenu(ui->btnHelp);
    helpMenu->addAction(QStringLiteral("&Help"), this, &CTulkDlg::OnHelp);
    helpMenu->addSeparator();
    helpMenu->addAction(QStringLiteral("&About Tulk..."), this, &CTulkDlg::OnAbout);
    ui->btnHelp->setMenu(helpMenu);
    connect(ui->btnSerialSetup, &QPushButton::clicked, this, &CTulkDlg::OnSerialSetup);
    ConnectHandlers();

    InstallMessageBoxHook(this);
    CreateStatusLine();
    OnInitDialog();
}

CTulkDlg::~CTulkDlg() {
    OnDestroy();
    InstallMessageBoxHook(nullptr);
    g_pSplashPicture = nullptr;
    m_hSplashWnd.reset();
    // The base class hides the window after this part of it is gone, and the
    // controls' signals that raises (a list completing its text as it loses
    // the focus) must not reach the handlers here.
    DisconnectChildren(this);
}

void CTulkDlg::DoDataExchange() {
    m_chkOnlyNew = ui->m_chkOnlyNew;
    m_chkRunPreview = ui->m_chkRunPreview;
    m_chkUseUsb = ui->m_chkUseUsb;
    m_chkDeleteAfter = ui->m_chkDeleteAfter;
    m_editSaveFolder = ui->m_editSaveFolder;
    m_editShutter = ui->m_editShutter;
    m_cbViewfinder = ui->m_cbViewfinder;
    m_editFramesLeft = ui->m_editFramesLeft;
    m_sliderZoom = ui->m_sliderZoom;
    m_sliderThreshold = ui->m_sliderThreshold;
    m_cbFocus = ui->m_cbFocus;
    m_editPictures = ui->m_editPictures;
    m_cbImageAdjust = ui->m_cbImageAdjust;
    m_cbMetering = ui->m_cbMetering;
    m_cbWhiteBalance = ui->m_cbWhiteBalance;
    m_cbFlash = ui->m_cbFlash;
    m_progBattery = ui->m_progBattery;
    m_progLevel = ui->m_progLevel;
    m_progActivity = ui->m_progActivity;
    m_cbColourMode = ui->m_cbColourMode;
    m_cbAperture = ui->m_cbAperture;
    m_cbResolution = ui->m_cbResolution;
    m_editDelay = ui->m_editDelay;
    m_editRegister = ui->m_editRegister;
    m_editRegValue = ui->m_editRegValue;
    m_editAvailMem = ui->m_editAvailMem;
    m_editZoom = ui->m_editZoom;
    m_chkSaveEveryTime = ui->m_chkSaveEveryTime;
    m_chkUploadFtp = ui->m_chkUploadFtp;
    m_chkThreaded = ui->m_chkThreaded;
}

int CTulkDlg::OnInitDialog() {
    // The lists hold their entries but show no choice until a camera says.
    for (QComboBox* list : findChildren<QComboBox*>()) {
        list->setCurrentIndex(-1);
    }
    setWindowIcon(m_hIcon);

    std::int32_t value = 0;
    m_editDelay->SetValue(SettingDword("TimerValue", &value, 0) == 1 ? value : kDelayAtFirstStart);
    m_editRegister->SetValue(0);
    m_editRegValue->SetValue(1);
    m_editAvailMem->SetValue(0);
    m_editShutter->SetValue(0);
    m_editPictures->setText(QStringLiteral("Not connected"));

    // The zoom slider's position is the zoom in tenths: 1.0 to 23.4.
    m_sliderZoom->setRange(10, 234);
    m_progActivity->setRange(0, 10);
    m_progActivity->setValue(0);
    m_progLevel->setRange(0, 0x7fff);
    m_progLevel->setValue(0);
    m_sliderThreshold->setRange(0, 32767);
    m_sliderThreshold->setValue(kSoundThresholdStart);

    if (SettingDword("ThreadedComms", &value, 0) == 1) {
        g_bThreadedComms = value;
        m_chkThreaded->setChecked(value != 0);
    }
    g_bTimeLapseRunning = 0;
    // g_bUseUsb follows the box only when a connection is made.
    if (SettingDword("UseUSB", &value, 0) == 1) {
        m_chkUseUsb->setChecked(value != 0);
    }
    if (SettingDword("OnlyNEW", &value, 0) == 1) {
        m_chkOnlyNew->setChecked(value != 0);
        g_bOnlyNew = value;
    }
    InstallPortMap();
    // The field shows where pictures go from the start, not only once a
    // camera is connected.
    SetSaveFolder(QString());

    adjustSize();
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    return 1;
}

void CTulkDlg::OnOK() {
    if (AreYouSure() == 1) {
        QDialog::accept();
    }
}

void CTulkDlg::done(int result) {
    OnDestroy();
    if (m_hSplashWnd) {
        m_hSplashWnd->hide();
    }
    QDialog::done(result);
}

void CTulkDlg::OnDestroy() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    // A sound trigger wait ends at its next pass.
    if (g_bTriggerRunning) {
        g_bTriggerStop = 1;
    }
    // No new camera work: what is queued finishes, then the link closes.
    StopPictureWork();
    std::int32_t value = m_chkUseUsb->isChecked() ? 1 : 0;
    SettingDword("UseUSB", &value, 1);
    value = m_chkOnlyNew->isChecked() ? 1 : 0;
    SettingDword("OnlyNew", &value, 1);
    value = m_chkThreaded->isChecked() ? 1 : 0;
    SettingDword("ThreadedComms", &value, 1);

    // The sign-off is the camera thread's last job; the window paints
    // meanwhile. Nothing may be queued after it. A camera that no longer
    // answers is given up after a few seconds of silence rather than the
    // link's time-outs (a minute and more with the job before it).
    link_set_quitting(true);
    if (!WaitForCamera([] { CloseLink(); }, true)) {
        m_camera.Stop();
    }
    m_camera.Join();
    if (link_gave_up()) {
        WriteLog("TulkDlg", __LINE__, "The camera did not answer at quitting: closed without it");
    }
    link_set_quitting(false);
    // A publication in progress ends now; the previous picture stays.
    m_ftp.Join();
    if (m_wndTakingPicture) {
        m_wndTakingPicture->End();
    }
    if (m_wndDownloading) {
        m_wndDownloading->End();
    }
}

bool CTulkDlg::WaitForCamera(const std::function<void()>& job, bool last) {
    bool finished = false;
    if (!m_camera.Post(
            Watched(job), this, [&finished] { finished = true; }, last)) {
        return false;
    }
    ++m_nCameraWaits;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The job's end arrives as an event; a wait further in may take it, and
    // this one then ends when that one has.
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    }
    QApplication::restoreOverrideCursor();
    --m_nCameraWaits;
    ShowLinkState();
    return true;
}

std::function<void()> CTulkDlg::Watched(std::function<void()> job) {
    return [this, job = std::move(job)] {
        LinkHealthBeginJob();
        job();
        if (!g_bConnected) {
            return;
        }
        switch (LinkHealthEndJob()) {
            case LinkState::Failing:
                m_bLinkFailing = true;
                break;
            case LinkState::Answering:
                m_bLinkFailing = false;
                break;
            case LinkState::Unsure:
                break;
        }
    };
}

bool CTulkDlg::CameraPost(std::function<void()> job, std::function<void()> done) {
    return m_camera.Post(Watched(std::move(job)), this, [this, done = std::move(done)] {
        if (done) {
            done();
        }
        ShowLinkState();
    });
}

CProgressWindow* CTulkDlg::TakingPictureWindow() {
    if (!m_wndTakingPicture) {
        m_wndTakingPicture = new CProgressWindow(this, QStringLiteral("IDD_TAKING_PICTURE"),
                                                 QStringLiteral("Taking picture , please wait"));
    }
    return m_wndTakingPicture;
}

CProgressWindow* CTulkDlg::DownloadingWindow() {
    if (!m_wndDownloading) {
        m_wndDownloading = new CProgressWindow(this, QStringLiteral("IDD_DOWNLOADING"),
                                               QStringLiteral("Downloading Picture"));
        connect(m_wndDownloading, &CProgressWindow::cancelled, this, [this] {
            // Get All Files stops after the picture in hand.
            m_nGetAllCount = m_nGetAllNext;
        });
    }
    return m_wndDownloading;
}

void CTulkDlg::ConnectHandlers() {
    connect(ui->btnConnect, &QPushButton::clicked, this, &CTulkDlg::OnConnect);
    connect(ui->btnTakePicture, &QPushButton::clicked, this, &CTulkDlg::OnTakePicture);
    connect(ui->btnRunTimeLapse, &QPushButton::clicked, this, &CTulkDlg::OnRunTimeLapse);
    connect(ui->btnStopTimeLapse, &QPushButton::clicked, this, &CTulkDlg::OnStopTimeLapse);
    connect(ui->btnGetInfo, &QPushButton::clicked, this, &CTulkDlg::OnGetInfo);
    connect(ui->btnGetAllFiles, &QPushButton::clicked, this, &CTulkDlg::OnGetAllFiles);
    connect(ui->btnGetLast, &QPushButton::clicked, this, &CTulkDlg::OnGetLast);
    connect(ui->btnDeleteLast, &QPushButton::clicked, this, &CTulkDlg::OnDeleteLast);
    connect(ui->btnDeleteAll, &QPushButton::clicked, this, &CTulkDlg::OnDeleteAll);
    connect(ui->btnTakePreview, &QPushButton::clicked, this, &CTulkDlg::OnTakePreview);
    connect(ui->btnSelectFile, &QPushButton::clicked, this, &CTulkDlg::OnSelectFile);
    connect(ui->btnFtpSettings, &QPushButton::clicked, this, &CTulkDlg::OnFtpSettings);
    connect(ui->btnSoundTrigger, &QPushButton::clicked, this, &CTulkDlg::OnSoundTrigger);
    connect(ui->btnBrowse, &QPushButton::clicked, this, &CTulkDlg::OnBrowse);
    connect(ui->btnRegisterDump, &QPushButton::clicked, this, &CTulkDlg::OnRegisterDump);
    connect(ui->btnRegisterRead, &QPushButton::clicked, this, &CTulkDlg::OnRegisterRead);
    connect(ui->btnHack, &QPushButton::clicked, this, &CTulkDlg::OnHack);
    connect(ui->btnAutoFocusCalibrate, &QPushButton::clicked, this,
            &CTulkDlg::OnAutoFocusCalibrate);
    connect(ui->btnWhiteBalanceCalibrate, &QPushButton::clicked, this,
            &CTulkDlg::OnWhiteBalanceCalibrate);
    // The drop ends before the files are sent, so the file manager is not
    // kept waiting on a long upload.
    connect(this, &CTulkDlg::filesDropped, this, &CTulkDlg::OnDropFiles, Qt::QueuedConnection);
    connect(m_chkOnlyNew, &QCheckBox::clicked, this, &CTulkDlg::OnOnlyNew);
    OnFocusOut(m_editSaveFolder, this, [this] { OnSaveFolderEdited(); });
    connect(m_chkSaveEveryTime, &QCheckBox::clicked, this, &CTulkDlg::OnSaveEveryTime);
    connect(m_chkThreaded, &QCheckBox::clicked, this, &CTulkDlg::OnThreadedComms);
    connect(m_editDelay, &QLineEdit::textChanged, this, &CTulkDlg::OnDelayChange);
    OnFocusOut(m_editDelay, this, [this] { OnDelayChange(); });
    OnFocusOut(m_editZoom, this, [this] { OnZoomEdited(); });
    OnFocusOut(m_editShutter, this, [this] { OnShutterEdited(); });
    connect(m_sliderZoom, &QSlider::sliderReleased, this, &CTulkDlg::OnZoomReleased);

    const std::pair<QComboBox*, void (CTulkDlg::*)()> lists[] = {
        {m_cbResolution, &CTulkDlg::OnResolutionChange},
        {m_cbAperture, &CTulkDlg::OnApertureChange},
        {m_cbColourMode, &CTulkDlg::OnColourModeChange},
        {m_cbFlash, &CTulkDlg::OnFlashChange},
        {m_cbWhiteBalance, &CTulkDlg::OnWhiteBalanceChange},
        {m_cbImageAdjust, &CTulkDlg::OnImageAdjustChange},
        {m_cbMetering, &CTulkDlg::OnMeteringChange},
        {m_cbFocus, &CTulkDlg::OnFocusChange},
        {m_cbViewfinder, &CTulkDlg::OnViewfinderChange},
    };
    // A choice the user makes, never one Get Info shows.
    for (const auto& [list, handler] : lists) {
        connect(list, &QComboBox::activated, this, handler);
    }
}

void CTulkDlg::OnHelp() {
    AskUser(this, BoxQuestion{QStringLiteral("Tulk"), QStringLiteral("No help file is installed."),
                              QMessageBox::Information, QMessageBox::Ok});
}

void CTulkDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CTulkDlg::OnBrowse() {
    // Until Browse has been used, the chooser opens where pictures go now.
    CTreeSelect chooser(this, m_strSaveFolder.isEmpty() ? m_strFolderInUse : m_strSaveFolder);
    if (chooser.exec() != QDialog::Accepted || chooser.m_strPath == m_strSaveFolder) {
        return;
    }
    m_strSaveFolder = chooser.m_strPath;
    SetSaveFolder(m_strSaveFolder);
    // The choice is kept for the next run as a typed folder is.
    if (!m_strSaveFolder.isEmpty() && m_strFolderInUse == m_strSaveFolder) {
        std::string text = m_strSaveFolder.toStdString();
        SettingString("SaveFolder", &text, 1);
    }
}

void CTulkDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CTulkDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CTulkDlg::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}

int PumpWaitingMessage() {
    if (QCoreApplication::closingDown()) {
        return 0;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        return 0;
    }
    return dispatcher->processEvents(QEventLoop::AllEvents) ? 1 : 0;
}
