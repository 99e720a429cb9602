// The main window's camera settings panel: Get Info, the lists, the zoom and
// the shutter speed.
#include <QComboBox>
#include <QProgressBar>
#include <QSlider>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "link/eph.h"
#include "log/activity_log.h"

namespace {

void LogFormatted(int line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogFormatted(int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_szErrorText, kErrorTextSize, format, args);
    va_end(args);
    WriteLog("TulkDlg", line, g_szErrorText);
}

// Selects the first entry that carries the name, without regard to case.
// Returns where the search stopped: the entry count when nothing matched.
int SearchList(QComboBox* list, const char* name, int* found) {
    int position = 0;
    const QString wanted = QString::fromUtf8(name ? name : "");
    for (; position < list->count(); ++position) {
        if (list->itemText(position).compare(wanted, Qt::CaseInsensitive) == 0) {
            list->setCurrentIndex(position);
            *found = 1;
            break;
        }
    }
    return position;
}

// A value beyond its table's end has no name; the log line shows it empty.
const char* NameForLog(const NameTable& table, long value) {
    const char* name = NameOfValue(table, value);
    return name ? name : "";
}

const NameTable& ResolutionTable() {
    const NameTable* table = g_ppResolutionNames;
    return table ? *table : ResolutionNamesOther;
}

NameTable ResolutionLookup() {
    NameTable table = ResolutionTable();
    table.lookupCount = g_nResolutionNames;
    return table;
}

}  // namespace

void SelectResolutionTable() {
    std::lock_guard lock(LinkLock());
    std::memset(g_szCameraCode, 0, sizeof g_szCameraCode);
    if (!g_iob) {
        g_ppResolutionNames = &ResolutionNamesOther;
        g_nResolutionNames = ResolutionNamesOther.lookupCount;
        return;
    }
    long length = kCameraCodeSize;
    auto* buffer = static_cast<unsigned char*>(g_iob->realloc_cb(nullptr, length));
    if (buffer) {
        if (eph_getvar(g_iob, C990_CAMERAID, &buffer, &length) == 0) {
            // An answer longer than the buffer is cut; the code is never
            // longer than a few letters.
            const long n = length < kCameraCodeSize - 1 ? length : kCameraCodeSize - 1;
            std::memcpy(g_szCameraCode, buffer, static_cast<std::size_t>(n < 0 ? 0 : n));
            g_szCameraCode[n < 0 ? 0 : n] = '\0';
        }
        g_iob->realloc_cb(buffer, 0);
    }
    const NameTable& table = ResolutionTableOfModel(g_szCameraCode);
    g_ppResolutionNames = &table;
    g_nResolutionNames = table.lookupCount;
}

namespace {

// One register as Get Info read it.
struct RegisterRead {
    int rc = 0;
    std::int32_t value = 0;
};

// Everything Get Info asks the camera, in the order it asks.
struct CameraInfo {
    RegisterRead resolution, aperture, colourMode, battery, flash, whiteBalance, imageAdjust,
        metering, focus;
    int zoom = 100;
    std::string model;
};

// Camera thread.
CameraInfo ReadCameraInfo() {
    std::lock_guard lock(LinkLock());
    SelectResolutionTable();
    CameraInfo info;
    auto read = [](int reg) {
        RegisterRead r;
        r.rc = eph_getint(g_iob, reg, &r.value);
        return r;
    };
    info.resolution = read(C990_RESOLUTION);
    info.aperture = read(C990_APERTURE);
    info.colourMode = read(C990_COLOURMODE);
    info.battery = read(C990_BATTERY);
    info.flash = read(C990_FLASH);
    info.whiteBalance = read(WHITEBAL);
    info.imageAdjust = read(C990_IMAGEADJ);
    info.metering = read(C990_METERING);
    info.focus = read(C990_FOCUSMODE);
    // Every capture from now on writes this back, whichever thread asks.
    g_nFocusMode = info.focus.value;
    info.zoom = GetZoom();
    info.model = g_szCameraCode;
    return info;
}

}  // namespace

namespace {

// How a Get Info step shows its register in the panel.
enum class Shown { NamedList, ColourModeIndex, BatteryBar, WhiteBalanceList, FocusList };

struct InfoStep {
    RegisterRead CameraInfo::*read;
    Shown shown;
    QComboBox* list;         // for the lists
    const NameTable* table;  // the value names, null for the numbers
    // Logged when the read failed (-1); null: not logged.
    const char* failedLine;
    // Logs the value the panel could not show; null: nothing is logged, and
    // whether the value was shown carries over to the next step. Each row
    // writes its line with its own literal format, which -Wformat checks.
    void (*notShown)(const char* name, int position, int rc, std::int32_t value);
};

// Shows the value as the step says; *found becomes 1 when it was shown and
// *position is where a list search stopped.
void ShowValue(const InfoStep& step, std::int32_t value, QProgressBar* battery, int* position,
               int* found) {
    switch (step.shown) {
        case Shown::NamedList:
            *position = SearchList(step.list, NameOfValue(*step.table, value), found);
            break;
        case Shown::ColourModeIndex:
            if (value >= 1 && value <= 2) {
                step.list->setCurrentIndex(value - 1);
            }
            *found = 1;
            break;
        case Shown::BatteryBar:
            battery->setValue(value == 0 ? 100 : value);
            *found = 1;
            break;
        case Shown::WhiteBalanceList:
            if (value != 255) {
                *position = SearchList(step.list, NameOfValue(*step.table, value), found);
            }
            break;
        case Shown::FocusList:
            if (value <= step.list->count()) {
                *position = SearchList(step.list, NameOfValue(*step.table, value), found);
            }
            break;
    }
}

}  // namespace

void CTulkDlg::OnGetInfo() {
    if (!g_bConnected) {
        return;
    }
    const CameraInfo info =
        CameraWait([] {
            return g_bConnected ? std::optional<CameraInfo>(ReadCameraInfo()) : std::nullopt;
        }).value_or(CameraInfo{});
    if (!g_bConnected) {
        return;
    }
    m_strModel = QString::fromStdString(info.model).trimmed();

    const NameTable resolution = ResolutionLookup();
    const InfoStep steps[] = {
        {&CameraInfo::resolution, Shown::NamedList, m_cbResolution, &resolution, "C990_RESOLUTION",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C999_RESOLUTION: str=%s, val=%d", name, position);
         }},
        {&CameraInfo::aperture, Shown::NamedList, m_cbAperture, &ApertureNames, "C990_APERTURE",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C999_APERTURE: str=%s, val=%d", name, position);
         }},
        {&CameraInfo::colourMode, Shown::ColourModeIndex, m_cbColourMode, nullptr,
         "C990_COLOURMODE",
         [](const char*, int, int rc, std::int32_t value) {
             LogFormatted(__LINE__, "C999_COLOURMODE: rc=%d,val=%d", rc, value);
         }},
        {&CameraInfo::battery, Shown::BatteryBar, nullptr, nullptr, "C990_BATTERY",
         [](const char*, int, int rc, std::int32_t value) {
             LogFormatted(__LINE__, "C999_BATTERY: rc=%d,val=%d", rc, value);
         }},
        {&CameraInfo::flash, Shown::NamedList, m_cbFlash, &FlashNames, "C990_FLASH",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C990_FLASH: str=%s, val=%d", name, position);
         }},
        {&CameraInfo::whiteBalance, Shown::WhiteBalanceList, m_cbWhiteBalance, &WhiteBalanceNames,
         nullptr, nullptr},
        {&CameraInfo::imageAdjust, Shown::NamedList, m_cbImageAdjust, &ImageAdjustNames,
         "C990_IMAGEADJ",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C990_IMAGEADJ: str=%s, val=%d", name, position);
         }},
        {&CameraInfo::metering, Shown::NamedList, m_cbMetering, &MeteringNames, "C990_METERING",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C990_METERING: str=%s, val=%d", name, position);
         }},
        {&CameraInfo::focus, Shown::FocusList, m_cbFocus, &FocusNames, "C990_FOCUSMODE",
         [](const char* name, int position, int, std::int32_t) {
             LogFormatted(__LINE__, "C990_FOCUSMODE: str=%s, val=%d", name, position);
         }},
    };
    // Both carry over from step to step as the panel has always logged them:
    // a read that failed logs the position where the step before stopped.
    int found = 0;
    int position = 0;
    for (const InfoStep& step : steps) {
        const RegisterRead& read = info.*step.read;
        if (read.rc == 0) {
            ShowValue(step, read.value, m_progBattery, &position, &found);
        }
        if (read.rc == -1 && step.failedLine) {
            WriteLog("TulkDlg", __LINE__, step.failedLine);
        }
        if (step.notShown) {
            if (!found) {
                step.notShown(step.table ? NameForLog(*step.table, read.value) : "", position,
                              read.rc, read.value);
            }
            found = 0;
        }
    }
    m_sliderZoom->setValue(info.zoom);
}

void CTulkDlg::OnResolutionChange() {
    if (!g_bConnected) {
        return;
    }
    const int position = m_cbResolution->currentIndex();
    const std::string text = m_cbResolution->itemText(position).toStdString();
    const bool written = CameraWait([position, &text] {
        if (!g_bConnected) {
            return false;
        }
        SelectResolutionTable();
        if (position < 0) {
            return false;
        }
        const auto value = ValueOfName(ResolutionLookup(), text);
        if (!value) {
            WriteLog("TulkDlg", __LINE__, "Bad res setting");
            return false;
        }
        if (eph_setint(g_iob, C990_RESOLUTION, *value) != 0) {
            LogFormatted(__LINE__, "res = %d", *value);
        }
        return true;
    });
    if (written) {
        RefreshCounters();
    }
}

namespace {

// A write the camera refuses (NAK, an odd reply byte) fails as surely as a
// broken link, so every non-zero status is reported, not only -1.

// The lists whose choice is the value of its name in a table.
void WriteNamedChoice(CTulkDlg* window, QComboBox* list, const NameTable& table, int reg,
                      const char* noValueLine, const char* failedLine) {
    if (!g_bConnected) {
        return;
    }
    const int position = list->currentIndex();
    const auto value = ValueOfName(table, list->itemText(position).toStdString());
    if (!value) {
        std::snprintf(g_szErrorText, kErrorTextSize, noValueLine, position);
        WriteLog("TulkDlg", __LINE__, g_szErrorText);
        return;
    }
    window->CameraWait([reg, value, failedLine] {
        if (g_bConnected && eph_setint(g_iob, reg, *value) != 0) {
            std::snprintf(g_szErrorText, kErrorTextSize, failedLine, *value);
            WriteLog("TulkDlg", __LINE__, g_szErrorText);
        }
    });
}

}  // namespace

void CTulkDlg::OnApertureChange() {
    WriteNamedChoice(this, m_cbAperture, ApertureNames, C990_APERTURE, "APERTURE get failed (%d)",
                     "APERTURE set failed (%d)");
}

void CTulkDlg::OnWhiteBalanceChange() {
    WriteNamedChoice(this, m_cbWhiteBalance, WhiteBalanceNames, WHITEBAL,
                     "WHITEBAL get failed (%d)", "WHITEBAL set failed (%d)");
}

void CTulkDlg::OnImageAdjustChange() {
    WriteNamedChoice(this, m_cbImageAdjust, ImageAdjustNames, C990_IMAGEADJ,
                     "IMAGEADJ get failed (%d)", "IMAGEADJ set failed (%d)");
}

void CTulkDlg::OnMeteringChange() {
    WriteNamedChoice(this, m_cbMetering, MeteringNames, C990_METERING, "METERING get failed (%d)",
                     "METERING set failed (%d)");
}

void CTulkDlg::OnFlashChange() {
    if (!g_bConnected) {
        return;
    }
    const int position = m_cbFlash->currentIndex();
    std::int32_t value = position;
    if (const auto named = ValueOfName(FlashNames, m_cbFlash->itemText(position).toStdString())) {
        value = *named;
    }
    CameraWait([value] {
        if (g_bConnected && eph_setint(g_iob, C990_FLASH, value) != 0) {
            LogFormatted(__LINE__, "FLASH set failed (%d)", value);
        }
    });
}

void CTulkDlg::OnColourModeChange() {
    if (!g_bConnected) {
        return;
    }
    const std::int32_t value = m_cbColourMode->currentIndex() + 1;
    CameraWait([value] {
        if (g_bConnected && eph_setint(g_iob, C990_COLOURMODE, value) != 0) {
            LogFormatted(__LINE__, "COLOURMODE set failed (%d)", value);
        }
    });
}

void CTulkDlg::OnFocusChange() {
    if (!g_bConnected) {
        return;
    }
    const auto named = ValueOfName(FocusNames, m_cbFocus->currentText().toStdString());
    const std::int32_t value = named ? *named : -1;
    CameraWait([value] {
        if (!g_bConnected || eph_setint(g_iob, C990_FOCUSMODE, 1) == -1) {
            return;
        }
        g_nFocusMode = value;
        eph_setint(g_iob, C990_FOCUSMODE, value);
        std::int32_t readBack = -1;
        eph_getint(g_iob, C990_FOCUSMODE, &readBack);
        if (readBack != value) {
            LogFormatted(__LINE__, "FOCUSMODE set failed tried to set %d got %lu", value,
                         static_cast<unsigned long>(static_cast<std::uint32_t>(readBack)));
        }
    });
}

void CTulkDlg::OnViewfinderChange() {
    if (!g_bConnected) {
        return;
    }
    const int mode = m_cbViewfinder->currentIndex() + 1;
    if (mode >= 1 && mode <= m_cbViewfinder->count()) {
        CameraWait([mode] { SetViewfinder(mode); });
    } else {
        LogFormatted(__LINE__, "Viewfinder bad mode (%d)", mode);
    }
}

void SetViewfinder(int mode) {
    std::lock_guard lock(LinkLock());
    if (!g_bConnected) {
        return;
    }
    CameraAction(LCDMODE, static_cast<unsigned char>(mode & 0xFF), "LCDMODE failed");
}

void CTulkDlg::OnShutterEdited() {
    if (!g_bConnected) {
        return;
    }
    const long value = m_editShutter->Value();
    CameraWait([value] {
        if (g_bConnected) {
            SetShutterSpeed(value);
        }
    });
}

void CTulkDlg::OnZoomReleased() {
    if (!g_bConnected) {
        return;
    }
    const double zoom = m_sliderZoom->value() / 10.0;
    // Not sent at all (the window is closing) counts as failed.
    int status = -1;
    CameraWait([zoom, &status] {
        if (g_bConnected) {
            status = SetZoom(zoom);
        }
    });
    if (status != 0) {
        WriteLog("TulkDlg", __LINE__, "zoom failed");
    } else {
        RefreshZoom();
    }
}

void CTulkDlg::RefreshZoom() {
    if (!g_bConnected) {
        return;
    }
    // The slider and the field each asked the camera in their turn.
    struct Zooms {
        int slider = 100;
        int field = 100;
    };
    const Zooms zooms = CameraWait([] {
        Zooms read;
        if (g_bConnected) {
            read.slider = GetZoom();
            read.field = GetZoom();
        }
        return read;
    });
    if (!g_bConnected) {
        return;
    }
    m_sliderZoom->setValue(zooms.slider);
    char text[32];
    std::snprintf(text, sizeof text, "%3.3g", zooms.field / 10.0);
    m_editZoom->SetText(QString::fromLatin1(text));
}

void CTulkDlg::OnZoomEdited() {
    double r = std::strtod(m_editZoom->GetText().toLocal8Bit().constData(), nullptr) * 10.0;
    // "nan" is no number: it counts as the 0 of text without one.
    if (std::isnan(r)) {
        r = 0;
    }
    char text[32];
    if (r < m_sliderZoom->minimum()) {
        r = m_sliderZoom->minimum();
        std::snprintf(text, sizeof text, "%3.2g", r / 10.0);
        m_editZoom->SetText(QString::fromLatin1(text));
    } else if (r > m_sliderZoom->maximum()) {
        r = m_sliderZoom->maximum();
        std::snprintf(text, sizeof text, "%3.3g", r / 10.0);
        m_editZoom->SetText(QString::fromLatin1(text));
    }
    m_sliderZoom->setValue(static_cast<int>(r));
    if (g_bConnected) {
        const double zoom = r / 10.0;
        CameraWait([zoom] {
            if (g_bConnected) {
                SetZoom(zoom);
            }
        });
    }
}
