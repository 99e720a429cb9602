#include "cli/TulkCli.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/Settings.h"
#include "app/demo/Demo.h"
#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/panel_settings.h"
#include "camera/picture_steps.h"
#include "camera/registers.h"
#include "camera/transfer_progress.h"
#include "cli/TerminalProgress.h"
#include "cli/platform/process.h"
#include "ftp/FtpUpload.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "run/RunEngine.h"
#include "run/RunJournal.h"

namespace {

constexpr const char* kSource = "tulk-cli";
constexpr long kShortestInterval = 100;
constexpr std::int32_t kFirstDelay = 7000;
constexpr long kDemoSpeed = 115200;

// The serial settings list counts its line speeds from 1.
long SpeedOfPosition(std::int32_t position) {
    static const long speeds[] = {9600, 19200, 38400, 57600, 115200};
    return position >= 1 && position <= 5 ? speeds[position - 1] : position;
}

bool NeedsFolder(const CliOptions& options) {
    for (const CliAction& action : options.actions) {
        if (action.kind == CliAction::GetAll || action.kind == CliAction::GetLast ||
            (action.kind == CliAction::TimeLapse && options.saveEveryTime)) {
            return true;
        }
    }
    return false;
}

std::string DefaultSaveFolder() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) {
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    }
    return (pictures + QStringLiteral("/Tulk")).toStdString();
}

}  // namespace

CTulkCli::CTulkCli(CliOptions options)
    : m_options(std::move(options)), m_bTerminal(StandardErrorIsTerminal()) {
    SetFtpErrorStream(stderr);
}

CTulkCli::~CTulkCli() = default;

void CTulkCli::RequestStop(int signal) {
    // A camera that does not answer is given up at once: a service manager
    // waits only so long. A picture whose bytes flow is finished.
    link_set_quitting(true);
    if (m_nSignal.exchange(signal) == 0) {
        std::fprintf(stderr,
                     "%stulk-cli: stopping after the picture in hand (again: stop waiting for "
                     "the FTP server)\n",
                     m_bTerminal ? "\n" : "");
        // The log's shared text is the run's: this thread writes its own line.
        char line[64];
        std::snprintf(line, sizeof line, "Stopping on signal %d", signal);
        WriteLog(kSource, __LINE__, line);
    } else {
        m_bAbortFtp = true;
    }
    std::lock_guard lock(m_mutex);
    m_bStop = true;
    if (m_engine) {
        m_engine->Stop();
    }
}

void CTulkCli::Fail(int code, const std::string& message) {
    if (m_progress) {
        m_progress->EndLine();
    }
    std::fprintf(stderr, "tulk-cli: %s\n", message.c_str());
    WriteLog(kSource, __LINE__, message.c_str());
    if (m_nExit == kExitOk) {
        m_nExit = code;
    }
}

bool CTulkCli::UseFolder() {
    std::string folder;
    if (m_options.folder) {
        folder = *m_options.folder;
    } else if (SettingString("SaveFolder", &folder, 0) != 0 || folder.empty()) {
        folder = DefaultSaveFolder();
    }
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(folder, error);
    if (!error && !std::filesystem::exists(path, error)) {
        std::filesystem::create_directories(path, error);
    }
    const QFileInfo info(QString::fromStdString(path.string()));
    if (error || !info.isDir() || !info.isWritable() || !info.isExecutable()) {
        Fail(kExitFolder, "pictures cannot be saved in \"" + folder + "\"" +
                              (error ? ": " + error.message() : std::string()));
        return false;
    }
    m_strFolder = path.lexically_normal().string();
    if (m_strFolder.empty() || m_strFolder.back() != '/') {
        m_strFolder += '/';
    }
    return true;
}

bool CTulkCli::Connect() {
    eph_setportmap(LoadPortMap());
    bool usb = m_options.usb;
    if (!usb && !m_options.port && !m_options.demo) {
        std::int32_t stored = 0;
        usb = SettingDword("UseUSB", &stored, 0) == 1 && stored != 0;
    }
    std::int32_t port = 1;
    if (m_options.port) {
        port = *m_options.port;
    } else if (!m_options.demo && SettingDword("SerialPort", &port, 0) != 1) {
        port = 1;
    }
    long speed = kDemoSpeed;
    if (m_options.speed) {
        speed = *m_options.speed;
    } else if (!m_options.demo || m_options.port) {
        std::int32_t position = 1;
        if (SettingDword("SerialSpeed", &position, 0) != 1) {
            position = 1;
        }
        speed = SpeedOfPosition(position);
    }
    std::lock_guard lock(LinkLock());
    g_bUseUsb = usb ? 1 : 0;
    m_nPort = port;
    m_nSpeed = speed;
    m_iob = eph_open(port, speed);
    if (!m_iob) {
        Fail(kExitNoCamera, usb ? std::string("no camera answered on USB")
                                : "no camera answered on COM" + std::to_string(port) + " (" +
                                      eph_portdevice(port) + ")");
        return false;
    }
    m_iob->progress_cb = TransferProgressCallback;
    g_iob = m_iob;
    // Every capture writes the focus mode back, as the window does once it
    // has read the camera's.
    if (eph_getint(m_iob, C990_FOCUSMODE, &m_nFocusMode) != 0) {
        m_nFocusMode = -1;
    }
    return true;
}

const NameTable& CTulkCli::Resolution() {
    if (!m_bModelRead) {
        m_strModel = ReadCameraModel(m_iob);
        m_bModelRead = true;
    }
    return PanelResolutionTable(m_strModel);
}

int CTulkCli::Run() {
    if (NeedsFolder(m_options) && !UseFolder()) {
        return m_nExit;
    }
    // Removed after the demo camera that serves in it (declared first, so
    // gone last).
    struct FolderGone {
        std::string path;
        ~FolderGone() {
            std::error_code ignored;
            if (!path.empty()) {
                std::filesystem::remove_all(path, ignored);
            }
        }
    } demoFolderGone;
    std::unique_ptr<CDemoCamera> demo;
    std::string& demoFolder = demoFolderGone.path;
    if (m_options.demo) {
        // The demo camera's socket lives in a folder of this process's own,
        // so that it can never be another program's camera, nor another
        // program's demo this one.
        demoFolder = MakePrivateFolder("tulk-cli-demo");
        if (demoFolder.empty()) {
            Fail(kExitNoCamera,
                 std::string("the demo camera cannot be made: ") + std::strerror(errno));
            return m_nExit;
        }
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(demoFolder));
        demo = std::make_unique<CDemoCamera>();
        if (!demo->Error().empty()) {
            Fail(kExitNoCamera, "the demo camera cannot be made: " + demo->Error());
            return m_nExit;
        }
    }
    if (!Connect()) {
        return m_nSignal ? kExitInterrupted : m_nExit;
    }
    m_progress = std::make_unique<CTerminalProgress>(m_bTerminal, stderr);
    for (const CliAction& action : m_options.actions) {
        if (Stopping()) {
            break;
        }
        Do(action);
    }
    m_progress.reset();
    {
        std::lock_guard lock(LinkLock());
        eph_close(m_iob, 1);
        eph_free(m_iob);
        m_iob = nullptr;
        g_iob = nullptr;
    }
    demo.reset();
    return m_nSignal ? kExitInterrupted : m_nExit;
}

void CTulkCli::Do(const CliAction& action) {
    switch (action.kind) {
        case CliAction::Summary:
            Summary();
            break;
        case CliAction::Capture:
            Capture();
            break;
        case CliAction::GetAll:
            GetAll();
            break;
        case CliAction::GetLast:
            GetLast();
            break;
        case CliAction::DeleteLast:
            DeleteLast();
            break;
        case CliAction::DeleteAll:
            DeleteAll();
            break;
        case CliAction::TimeLapse:
            TimeLapse();
            break;
        case CliAction::Set:
            Set(action);
            break;
        case CliAction::Get:
            Get(action);
            break;
    }
}

void CTulkCli::Summary() {
    struct Line {
        std::string label;
        std::optional<std::string> text;  // none: cannot be read
        bool number;
    };
    std::vector<Line> lines;
    {
        std::lock_guard lock(LinkLock());
        const NameTable& resolution = Resolution();
        const int pictures = GetFrameCount(m_iob);
        std::int32_t battery = 0;
        const bool batteryRead = eph_getint(m_iob, C990_BATTERY, &battery) == 0;
        // The battery bar shows 0 full, as the camera means it.
        if (batteryRead && battery == 0) {
            battery = 100;
        }
        lines.push_back({"Model", m_strModel, false});
        lines.push_back({"Pictures",
                         pictures < 0 ? std::nullopt : std::optional(std::to_string(pictures)),
                         true});
        lines.push_back({"Frames left", std::to_string(GetFramesLeft()), true});
        lines.push_back({"Avail memory", std::to_string(ReadAvailMemory(m_iob)), true});
        lines.push_back(
            {"Battery", batteryRead ? std::optional(std::to_string(battery)) : std::nullopt, true});
        for (const PanelSetting& setting : PanelSettings()) {
            if (setting.kind == PanelSetting::Viewfinder || setting.kind == PanelSetting::Shutter) {
                continue;
            }
            lines.push_back({setting.label, ReadPanelSetting(m_iob, setting, resolution),
                             setting.kind == PanelSetting::Zoom});
        }
        if (pictures < 0) {
            Fail(kExitFailed, "the camera did not say how many pictures it holds");
        }
    }
    if (m_options.json) {
        std::string text = "{";
        for (const Line& line : lines) {
            text += text.size() > 1 ? ", " : "";
            text += JsonString(line.label) + ": ";
            text += !line.text ? "null" : line.number ? *line.text : JsonString(*line.text);
        }
        std::printf("%s}\n", text.c_str());
    } else {
        for (const Line& line : lines) {
            std::printf("%s: %s\n", line.label.c_str(),
                        line.text ? line.text->c_str() : "(cannot be read)");
        }
    }
    std::fflush(stdout);
}

void CTulkCli::Capture() {
    if (CaptureChecked(m_iob, m_nFocusMode) != CameraChange::Done) {
        Fail(kExitFailed, "the camera did not take the picture");
    }
}

void CTulkCli::Saved(const std::string& path) {
    if (m_progress) {
        m_progress->EndLine();
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    if (m_options.hook) {
        const HookEnd end = RunHook(*m_options.hook, path);
        if (end.how == HookEnd::NotRun) {
            Fail(kExitHook, "the hook could not be run for " + path);
        } else if (end.how == HookEnd::Signalled) {
            Fail(kExitHook,
                 "the hook was ended by signal " + std::to_string(end.value) + " for " + path);
        } else if (end.value != 0) {
            Fail(kExitHook,
                 "the hook ended with status " + std::to_string(end.value) + " for " + path);
        }
    }
}

void CTulkCli::GetAll() {
    ForgetSaveFailures();
    const int count = GetFrameCount(m_iob);
    if (count < 0) {
        Fail(kExitFailed, "the camera did not say how many pictures it holds");
        return;
    }
    for (int number = 1; number <= count && !Stopping(); ++number) {
        std::string saved;
        {
            std::lock_guard lock(LinkLock());
            if (m_options.onlyNew && PictureAlreadyDownloaded(m_iob, number, m_strFolder)) {
                continue;
            }
            if (DownloadNumberedPicture(m_iob, number, m_strFolder, &saved) != 0) {
                saved.clear();
                Fail(kExitFailed, "picture " + std::to_string(number) + " was not saved");
            }
        }
        if (!saved.empty()) {
            Saved(saved);
        }
    }
}

void CTulkCli::GetLast() {
    ForgetSaveFailures();
    std::string saved;
    {
        std::lock_guard lock(LinkLock());
        const int count = GetFrameCount(m_iob);
        if (count == 0) {
            std::fprintf(stderr, "tulk-cli: the camera holds no picture\n");
            return;
        }
        if (DownloadNewestPicture(m_iob, m_strFolder, &saved) != 0) {
            Fail(kExitFailed, "the newest picture was not saved");
            return;
        }
    }
    Saved(saved);
}

void CTulkCli::DeleteLast() {
    std::lock_guard lock(LinkLock());
    if (GetFrameCount(m_iob) == 0) {
        std::fprintf(stderr, "tulk-cli: the camera holds no picture\n");
        return;
    }
    if (EraseLastChecked(m_iob) != CameraChange::Done) {
        Fail(kExitFailed, "the camera did not erase its newest picture");
    }
}

void CTulkCli::DeleteAll() {
    std::lock_guard lock(LinkLock());
    if (GetFrameCount(m_iob) == 0) {
        std::fprintf(stderr, "tulk-cli: the camera holds no picture\n");
        return;
    }
    if (!CameraActionOnLink(m_iob, ERASEALL, 0, "ERASEALL failed")) {
        Fail(kExitFailed, "the camera did not erase its pictures");
    }
}

namespace {

// The run's link is the command line's own: its work runs on the run's
// thread, under the link's lock, and a lost camera is opened again with
// the same port and speed.
class CCliRunCamera : public CRunCamera {
public:
    CCliRunCamera(eph_iob** iob, int port, long speed)
        : m_iob(iob), m_nPort(port), m_nSpeed(speed) {}
    bool RunOnLink(const std::function<void()>& work) override {
        std::lock_guard lock(LinkLock());
        work();
        return true;
    }
    eph_iob* Link() override { return *m_iob; }
    bool Reopen() override {
        if (*m_iob) {
            eph_close(*m_iob, 0);
            eph_free(*m_iob);
            *m_iob = nullptr;
            g_iob = nullptr;
        }
        *m_iob = eph_open(m_nPort, m_nSpeed);
        if (*m_iob) {
            (*m_iob)->progress_cb = TransferProgressCallback;
            g_iob = *m_iob;
        }
        return *m_iob != nullptr;
    }

private:
    eph_iob** m_iob;
    int m_nPort;
    long m_nSpeed;
};

}  // namespace

void CTulkCli::TimeLapse() {
    long interval = 0;
    if (m_options.interval) {
        interval = *m_options.interval;
    } else {
        std::int32_t stored = kFirstDelay;
        interval = SettingDword("TimerValue", &stored, 0) == 1 ? stored : kFirstDelay;
    }
    if (interval < kShortestInterval) {
        std::fprintf(stderr, "tulk-cli: an interval of %ld ms is raised to %ld ms\n", interval,
                     kShortestInterval);
        interval = kShortestInterval;
    }
    RunSettings settings;
    settings.interval = std::chrono::milliseconds(interval);
    settings.frames = m_options.frames.value_or(1);
    settings.saveEveryTime = m_options.saveEveryTime;
    settings.deleteAfter = m_options.deleteAfter;
    settings.folder = m_strFolder;
    settings.focusMode = m_nFocusMode;
    ForgetSaveFailures();
    CCliRunCamera camera(&m_iob, m_nPort, m_nSpeed);
    CRunEngine engine(camera);
    {
        std::lock_guard lock(m_mutex);
        if (m_bStop) {
            return;
        }
        m_engine = &engine;
    }
    settings.about = {{"program", "tulk-cli"},
                      {"camera", m_strModel.empty() ? ReadCameraModel(m_iob) : m_strModel},
                      {"connection", m_options.usb ? std::string("USB")
                                                   : "COM" + std::to_string(m_nPort) + " (" +
                                                         eph_portdevice(m_nPort) + ") at " +
                                                         std::to_string(m_nSpeed) + " baud"}};
    engine.Start(settings, [this](RunEvent& event) { OnRunEvent(event); });
    engine.Wait();
    {
        std::lock_guard lock(m_mutex);
        m_engine = nullptr;
    }
    if (m_progress) {
        m_progress->EndLine();
    }
    const RunTotals totals = engine.Totals();
    std::fprintf(stderr,
                 "tulk-cli: time lapse: %ld of %ld pictures taken, %ld ticks dropped, %ld missed, "
                 "%ld saved\n",
                 totals.taken, settings.frames, totals.dropped, totals.missed, totals.saved);
}

void CTulkCli::OnRunEvent(RunEvent& event) {
    switch (event.kind) {
        case RunEvent::PictureSaved:
            Saved(event.path);
            if (m_options.ftp) {
                event.published = Publish(event.path);
            }
            break;
        case RunEvent::Journal:
            std::fprintf(stderr, "tulk-cli: journal: %s\n", event.path.c_str());
            break;
        case RunEvent::StepFailed:
            if (event.saveError != 0) {
                Fail(kExitFolder,
                     event.text + ": " + m_strFolder + ": " + std::strerror(event.saveError));
            } else {
                Fail(kExitFailed, event.text);
            }
            break;
        case RunEvent::CameraLost:
        case RunEvent::CameraBack:
            if (m_progress) {
                m_progress->EndLine();
            }
            std::fprintf(stderr, "tulk-cli: %s\n", event.text.c_str());
            break;
        case RunEvent::Tick:
        case RunEvent::StepEnded:
        case RunEvent::TickDropped:
        case RunEvent::Ended:
            break;
    }
}

std::string CTulkCli::Publish(const std::string& path) {
    // Never while holding the link: a slow server keeps only itself waiting.
    if (LinkHeldByThisThread()) {
        Fail(kExitFtp, "internal error: publishing while holding the camera link");
        return "failed: internal error";
    }
    std::string reason;
    switch (FtpUploadLastPicture(path.c_str(), &reason, &m_bAbortFtp)) {
        case FtpResult::Published:
            return "published";
        case FtpResult::NoSettings:
            Fail(kExitFtp, "no FTP settings: set them in the window's FTP Settings");
            return "off: no FTP settings";
        case FtpResult::Failed:
            Fail(kExitFtp, "publishing " + path + " failed: " + reason);
            return "failed: " + reason;
    }
    return {};
}

void CTulkCli::Set(const CliAction& action) {
    const PanelSetting* setting = FindPanelSetting(action.name);
    std::lock_guard lock(LinkLock());
    const NameTable& resolution = Resolution();
    switch (WritePanelSetting(m_iob, *setting, action.value, resolution, &m_nFocusMode)) {
        case PanelWrite::Written:
            break;
        case PanelWrite::NoValue:
            Fail(kExitUsage, std::string(setting->label) + " " + action.value +
                                 " means nothing to this camera" +
                                 (m_strModel.empty() ? std::string() : " (" + m_strModel + ")"));
            break;
        case PanelWrite::Refused:
            Fail(kExitFailed,
                 "the camera refused " + std::string(setting->label) + " " + action.value);
            break;
    }
}

void CTulkCli::Get(const CliAction& action) {
    const PanelSetting* setting = FindPanelSetting(action.name);
    std::optional<std::string> value;
    {
        std::lock_guard lock(LinkLock());
        value = ReadPanelSetting(m_iob, *setting, Resolution());
    }
    if (!value) {
        Fail(kExitFailed, std::string(setting->label) + " cannot be read from the camera");
        return;
    }
    if (m_options.json) {
        std::printf(
            "{%s: %s}\n", JsonString(setting->label).c_str(),
            setting->kind == PanelSetting::Zoom ? value->c_str() : JsonString(*value).c_str());
    } else {
        std::printf("%s\n", value->c_str());
    }
    std::fflush(stdout);
}
