// The service corner of the main window: the register dump, the read and
// test write of one register, the raw USB bytes, and the camera's own
// autofocus and white balance calibrations. The dump and the read report to
// the activity log only; the calibrations walk the user through their
// questions in message boxes, each camera step on the camera thread.
#include <QMessageBox>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/MessageBoxes.h"
#include "app/ProgressWindow.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "camera/link_buffer.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "link/usb/usb_transport.h"
#include "log/activity_log.h"

namespace {

constexpr int kLastDumpedRegister = 93;

// The link's own pause: it sleeps without occupying a processor.
void Pause(int milliseconds) {
    eph_usleep(milliseconds * 1000L);
}

std::int32_t DumpInteger(int reg, bool unclassified) {
    std::int32_t value = 0;
    const int status = eph_getint(g_iob, reg, &value);
    const auto shown = static_cast<unsigned long>(static_cast<std::uint32_t>(value));
    // Any status but 0 is a read that failed: a time-out or a refusal
    // leaves no value, and the caller must not take the 0 for one.
    if (status != 0) {
        std::snprintf(g_szErrorText, kErrorTextSize,
                      unclassified ? "RegDump: (unk) failed (%d) register = (%d) param (%lu)"
                                   : "RegDump: failed (%d) register = (%d) param (%lu)",
                      status, reg, shown);
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return -1;
    }
    std::snprintf(g_szErrorText, kErrorTextSize,
                  unclassified ? "RegDump: (unk) Result for (%d) was (%lu)"
                               : "RegDump: Result for (%d) was (%lu)",
                  reg, shown);
    WriteLog("TulkDlg", __LINE__, g_szErrorText);
    return value;
}

void DumpData(int reg) {
    constexpr long kFirstRoom = 2048;
    LinkBuffer buffer(g_iob, kFirstRoom);
    if (!buffer.data) {
        WriteLog("TulkDlg", __LINE__, "no memory");
        return;
    }
    std::memset(buffer.data, 0, kFirstRoom);
    long room = kFirstRoom;
    const int status = eph_getvar(g_iob, reg, &buffer.data, &room);
    if (status != 0 || !buffer.data) {
        std::snprintf(g_szErrorText, kErrorTextSize,
                      "RegDump: failed read data (%d) register = (%d)", status, reg);
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return;
    }
    std::snprintf(g_szErrorText, kErrorTextSize,
                  "RegDump: Result for read data from (%d) was (%lu)", reg,
                  static_cast<unsigned long>(room));
    WriteLog("TulkDlg", __LINE__, g_szErrorText);
    // The data as text, up to its first zero byte; the camera need not end
    // it with one.
    const auto* end = static_cast<const unsigned char*>(std::memchr(buffer.data, 0, room));
    const std::string text(
        reinterpret_cast<const char*>(buffer.data),
        end ? static_cast<std::size_t>(end - buffer.data) : static_cast<std::size_t>(room));
    WriteLog("TulkDlg", __LINE__, text.c_str());
    HexDumpToLog(buffer.data, static_cast<std::size_t>(room));
}

std::int32_t Skipped(const char* format, int reg) {
    std::snprintf(g_szErrorText, kErrorTextSize, format, reg);
    WriteLog("TulkDlg", __LINE__, g_szErrorText);
    return -1;
}

}  // namespace

std::int32_t RegDump(int reg) {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected || reg == C990_FRAMEDATA || reg == C990_THUMBDATA) {
        return 0;
    }
    switch (RegisterDumpClassOf(reg)) {
        case DUMP_INT:
            return DumpInteger(reg, false);
        case DUMP_DATA:
        case DUMP_DATA2:
            DumpData(reg);
            return -1;
        case DUMP_WRITEONLY:
        case DUMP_WRITEONLY2:
            return Skipped("RegDump: Skipped (%d) write only", reg);
        case DUMP_LOCKS:
            return Skipped("RegDump: Skipped (%d) caused lock", reg);
        default:
            return DumpInteger(reg, true);
    }
}

namespace {

void RegisterReadTest(int reg, std::int32_t value) {
    std::lock_guard lock(LinkLock());
    const std::int32_t old = RegDump(reg);
    Pause(100);
    if (old == -1) {
        return;
    }
    // A refusal is a status of its own, not -1, and as much a failure.
    if (eph_setint(g_iob, reg, value) != 0) {
        WriteLog("TulkDlg", __LINE__, "Failed to set");
    }
    Pause(100);
    if (RegDump(reg) != value) {
        WriteLog("TulkDlg", __LINE__, "Failed to set, data ignored");
    }
    Pause(100);
    eph_setint(g_iob, reg, old);
    RegDump(reg);
}

void SendHackBytes() {
    static constexpr unsigned char kFirst[4] = {0xD4, 0x0B, 0x66, 0x2E};
    static constexpr unsigned char kSecond[4] = {0x5C, 0x71, 0xA9, 0x03};
    std::lock_guard lock(LinkLock());
    usb_write(g_hUsb, kFirst, 4);
    eph_waitack(g_iob, 10000);
    Pause(100);
    usb_write(g_hUsb, kSecond, 4);
    Pause(100);
    usb_write(g_hUsb, kFirst, 4);
}

}  // namespace

CProgressWindow* CTulkDlg::RegisterDumpWindow() {
    if (!m_wndRegisterDump) {
        m_wndRegisterDump = new CProgressWindow(this, QStringLiteral("IDD_REGISTER_DUMP"),
                                                QStringLiteral("All Register Dump"));
    }
    return m_wndRegisterDump;
}

void CTulkDlg::OnRegisterDump() {
    if (!g_bConnected) {
        return;
    }
    // Each register is its own camera job: the window paints and says how
    // far the dump is between them, and the user's input waits for its end.
    CProgressWindow* progress = RegisterDumpWindow();
    for (int reg = 1; reg <= kLastDumpedRegister && !m_bDestroyed; ++reg) {
        progress->Begin(QStringLiteral("register %1 of %2").arg(reg).arg(kLastDumpedRegister),
                        false);
        CameraWait([reg] {
            RegDump(reg);
            Pause(200);
        });
    }
    progress->End();
}

void CTulkDlg::OnRegisterRead() {
    if (!g_bConnected) {
        return;
    }
    const int reg = static_cast<int>(m_editRegister->Value());
    if (reg == 0) {
        return;
    }
    const auto value = static_cast<std::int32_t>(m_editRegValue->Value());
    CameraWait([reg, value] {
        if (g_bConnected) {
            RegisterReadTest(reg, value);
        }
    });
}

void CTulkDlg::OnHack() {
    if (!g_bConnected) {
        return;
    }
    CameraWait([] {
        if (g_bConnected) {
            SendHackBytes();
        }
    });
}

namespace {

const char* const kDisclaimer =
    "Disclaimer: this may or may not work, it may do nothing, it may break your camera, there "
    "may be other steps required to calibrate the camera\r\nThis is all work in progress by "
    "accepting the following process you accept that you are aware of these problems and accept "
    "all responsibility\r\nfor any outcomes. The author assumes no responsibilty for what you do "
    "with this software\n\n\t\t\t\tBy clicking YES you agree to accept these terms";
const char* const kWarning =
    "Warning: Selecting YES will start the auto calibration of the camera, this step cannot be "
    "undone, if it fails the camera will need to be recalibrated professionally\n\t\t\t!!!! DO "
    "NOT MOVE THE CAMERA, SCENE OR LIGHTS !!!!";
const char* const kLensQuestion =
    "Q: Is the lens cap off, there must be no filters, adapters or extra lenses on the camera, "
    "the cameras lens must be clean, the subject matter must be evenly lit and in a position that "
    "the camera can focus on it correctly. Failure to observe this, will cause the camera to "
    "click, if so switch the camera off, and try again ";
const char* const kLightingNote =
    "\n\n\t\t\tNote: I have no clue as to what the correct lighting requirements are for this "
    "calibration I'm assuming you do, if you do not, stop now ";
const char* const kLcdQuestion =
    "Q: Is the LCD on the camera showing the current scene correctly  ?";
const char* const kPreviewQuestion = "Q: Is the LCD now showing in preview mode  ?";
const char* const kPointedQuestion =
    "Q: Is the camera pointed at an object suitable for calibration?  ?";
const char* const kFocusQuestion =
    "Q: Is the camera focused reasonably clearly and the object in the center of the display  ?";
const char* const kAdjustNotice =
    "Adjust the object until it is reasonably focused and centered, then press OK ";
const char* const kWentWrong =
    "Something went wrong, make sure the camera is in preview and is pointing at a suitable "
    "object !";

QMessageBox::StandardButton Ask(QWidget* parent, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
    return AskUser(parent, BoxQuestion{QStringLiteral("Tulk"), text, QMessageBox::Critical, buttons,
                                       defaultButton});
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return Ask(parent, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// The disclaimer and the last warning start something that may harm the
// camera: Return must not answer them Yes.
bool AskYesNoDefaultNo(QWidget* parent, const QString& text) {
    return Ask(parent, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void Notice(QWidget* parent, const QString& text) {
    Ask(parent, text, QMessageBox::Ok);
}

}  // namespace

// The texts that tell one calibration from the other.
struct CalibrationTexts {
    unsigned char argument;
    const char* disclaimerRefused;
    const char* confirmRefused;
    QString lensQuestion;
    const char* previewRefused;
    const char* pointedRefused;
    const char* logLine;
    const char* finished;
};

bool CTulkDlg::CalibrationStep(const std::function<void()>& job) {
    CameraWait([&job] {
        if (g_bConnected) {
            job();
        }
    });
    return !m_bDestroyed;
}

// The questions both calibrations begin with; false when the user stopped
// it (the notice has been shown) or the window went.
bool CTulkDlg::CalibrationAgreed(const CalibrationTexts& c) {
    if (!AskYesNoDefaultNo(this, QString::fromLatin1(kDisclaimer))) {
        Notice(this, QString::fromLatin1(c.disclaimerRefused));
        return false;
    }
    if (!AreYouSure() || !AreYouReallySure() || !AskYesNo(this, c.lensQuestion)) {
        Notice(this, QString::fromLatin1(c.confirmRefused));
        return false;
    }
    if (!AskYesNo(this, QString::fromLatin1(kLcdQuestion))) {
        if (!CalibrationStep([] {
                SetViewfinder(2);
                Pause(200);
                TakePicture();
                Pause(200);
            })) {
            return false;
        }
        if (!AskYesNo(this, QString::fromLatin1(kPreviewQuestion))) {
            Notice(this, QString::fromLatin1(c.previewRefused));
            return false;
        }
    }
    if (!AskYesNo(this, QString::fromLatin1(kPointedQuestion))) {
        Notice(this, QString::fromLatin1(c.pointedRefused));
        return false;
    }
    return true;
}

// The calibration action itself, after the last warning; true when the
// camera took it.
bool CTulkDlg::RunCalibration(const CalibrationTexts& c) {
    if (!AskYesNoDefaultNo(this, QString::fromLatin1(kWarning))) {
        Notice(this, QString::fromLatin1(c.disclaimerRefused));
        return false;
    }
    const unsigned char argument = c.argument;
    const char* logLine = c.logLine;
    const int status = CameraWait([argument, logLine] {
        std::lock_guard lock(LinkLock());
        if (!g_bConnected) {
            return -1;
        }
        const int result = eph_action(g_iob, C990_CALIBRATE, &argument, 1);
        std::snprintf(g_szErrorText, kErrorTextSize, logLine, result, argument);
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return result;
    });
    if (m_bDestroyed) {
        return false;
    }
    if (status != 0) {
        Notice(this, QString::fromLatin1(kWentWrong));
        return false;
    }
    if (CalibrationStep([] {
            Pause(200);
            TakePicture();
        })) {
        Notice(this, QString::fromLatin1(c.finished));
    }
    return true;
}

// Zooms to the factor and asks until the user finds the picture focused;
// false on Cancel.
bool CTulkDlg::FocusedAt(double zoom) {
    for (;;) {
        if (!CalibrationStep([zoom] { SetZoom(zoom); })) {
            return false;
        }
        const auto answer = Ask(this, QString::fromLatin1(kFocusQuestion),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Yes) {
            return true;
        }
        if (answer != QMessageBox::No) {
            return false;
        }
        Notice(this, QString::fromLatin1(kAdjustNotice));
    }
}

void CTulkDlg::OnAutoFocusCalibrate() {
    if (!g_bConnected) {
        return;
    }
    const CalibrationTexts c{CALIBRATE_AUTOFOCUS,
                             "Autofocus calibration aborted, well done !",
                             "Autofocus calibration aborted, well done !",
                             QString::fromLatin1(kLensQuestion) + QStringLiteral("?"),
                             "Autofocus calibration cannot continue?",
                             "Autofocus calibration cannot continue? Read manual",
                             "Auto Focus Calibration: return code for (%d) zero=(%d)",
                             "Autofocus calibration finished, hope it works !"};
    if (!CalibrationAgreed(c) || !FocusedAt(23.4) || !FocusedAt(8.2) ||
        !CalibrationStep([] { SetZoom(13.4); })) {
        return;
    }
    RunCalibration(c);
}

void CTulkDlg::OnWhiteBalanceCalibrate() {
    if (!g_bConnected) {
        return;
    }
    const CalibrationTexts c{
        CALIBRATE_WHITEBALANCE,
        "White Balance calibration aborted, well done !",
        "White Balance  calibration aborted, well done !",
        QString::fromLatin1(kLensQuestion) + QString::fromLatin1(kLightingNote),
        "White Balance  calibration cannot continue?",
        "White Balance  calibration cannot continue? Read manual",
        "White Balance Calibration: return code for (%d) zero=(%d)",
        "White Balance calibration finished, hope it works !\nThe last two pictures will be "
        "before and after shots"};
    if (!CalibrationAgreed(c)) {
        return;
    }
    // The picture before the calibration.
    if (!CalibrationStep([] {
            SetZoom(13.4);
            Pause(200);
            TakePicture();
        })) {
        return;
    }
    RunCalibration(c);
}
