#include "camera/panel_settings.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "camera/camera_ops.h"
#include "camera/picture_steps.h"
#include "log/activity_log.h"

namespace {

// The zoom slider's range, in tenths.
constexpr int kZoomLowest = 10;
constexpr int kZoomHighest = 234;

std::string Folded(const std::string& text) {
    std::string folded;
    for (const char c : text) {
        if (c != ' ' && c != '-' && c != '_') {
            folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return folded;
}

void LogValue(const char* format, long value) {
    std::snprintf(g_szErrorText, kErrorTextSize, format, value);
    WriteLog("TulkDlg", __LINE__, g_szErrorText);
}

int PositionOf(const PanelSetting& setting, const char* entry) {
    for (std::size_t i = 0; i < setting.entries.size(); ++i) {
        if (setting.entries[i] == entry) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The entry that carries the value's name, as Get Info selects it.
std::optional<std::string> EntryOfValue(const PanelSetting& setting, const NameTable& table,
                                        long value) {
    const char* name = NameOfValue(table, value);
    if (!name) {
        return std::nullopt;
    }
    if (const char* entry = FindPanelEntry(setting, name)) {
        return std::string(entry);
    }
    return std::nullopt;
}

std::optional<double> Number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

const std::vector<PanelSetting>& PanelSettings() {
    // The entries are the window's lists, in their order.
    static const std::vector<PanelSetting> settings = {
        {"Resolution",
         PanelSetting::Named,
         C990_RESOLUTION,
         nullptr,
         {"VGA Basic", "VGA Normal", "VGA Fine", "XGA Basic", "XGA Normal", "XGA Fine", "3:2 Basic",
          "3:2 Normal", "3:2 Fine", "3:2 Hi", "Basic", "Normal", "Fine", "Hi"},
         "res = %ld"},
        {"Aperture",
         PanelSetting::Named,
         C990_APERTURE,
         &ApertureNames,
         {"Auto", "Low", "Medium", "Unknown", "High"},
         "APERTURE set failed (%ld)"},
        {"Colour Mode",
         PanelSetting::Position,
         C990_COLOURMODE,
         nullptr,
         {"Colour", "B/W"},
         "COLOURMODE set failed (%ld)"},
        {"Flash",
         PanelSetting::Flash,
         C990_FLASH,
         &FlashNames,
         {"Auto", "On", "Off", "RedEye", "Slow"},
         "FLASH set failed (%ld)"},
        {"White Balance",
         PanelSetting::Named,
         WHITEBAL,
         &WhiteBalanceNames,
         {"Auto", "Sunny", "Incandescent", "Fluorescent", "Flash", "Preset"},
         "WHITEBAL set failed (%ld)"},
        {"Image Adjust",
         PanelSetting::Named,
         C990_IMAGEADJ,
         &ImageAdjustNames,
         {"Normal", "More Contrast", "Less Contrast", "Lighten Image", "Darken Image", "Auto"},
         "IMAGEADJ set failed (%ld)"},
        {"Metering Mode",
         PanelSetting::Named,
         C990_METERING,
         &MeteringNames,
         {"Center", "Spot", "Matrix", "Spot AF"},
         "METERING set failed (%ld)"},
        {"Focus",
         PanelSetting::Focus,
         C990_FOCUSMODE,
         &FocusNames,
         {"Macro", "Normal", "Infinity"},
         "FOCUSMODE set failed tried to set %ld"},
        {"Viewfinder",
         PanelSetting::Viewfinder,
         LCDMODE,
         nullptr,
         {"Off", "Viewfinder", "Preview Whole", "Preview Thumbnails", "Thumbnail 1", "Thumbnail 2",
          "Next", "Previous"},
         "LCDMODE failed"},
        {"Zoom", PanelSetting::Zoom, C990_ZOOM, nullptr, {}, "Zoom failed"},
        {"ShutterSpeed", PanelSetting::Shutter, SHUTTERSPEED, nullptr, {}, "SHUTTERSPEED failed"},
    };
    return settings;
}

const PanelSetting* FindPanelSetting(const std::string& label) {
    const std::string wanted = Folded(label);
    for (const PanelSetting& setting : PanelSettings()) {
        if (Folded(setting.label) == wanted) {
            return &setting;
        }
    }
    return nullptr;
}

const char* FindPanelEntry(const PanelSetting& setting, const std::string& text) {
    for (const char* entry : setting.entries) {
        if (strcasecmp(entry, text.c_str()) == 0) {
            return entry;
        }
    }
    return nullptr;
}

const NameTable& PanelResolutionTable(const std::string& model) {
    return ResolutionTableOfModel(model);
}

std::optional<std::string> ReadPanelSetting(eph_iob* iob, const PanelSetting& setting,
                                            const NameTable& resolution) {
    std::lock_guard lock(LinkLock());
    if (setting.kind == PanelSetting::Viewfinder || setting.kind == PanelSetting::Shutter) {
        return std::nullopt;
    }
    if (setting.kind == PanelSetting::Zoom) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", GetZoom() / 10.0);
        return std::string(text);
    }
    std::int32_t value = 0;
    if (eph_getint(iob, setting.reg, &value) != 0) {
        return std::nullopt;
    }
    switch (setting.kind) {
        case PanelSetting::Position:
            if (value >= 1 && value <= static_cast<long>(setting.entries.size())) {
                return std::string(setting.entries[static_cast<std::size_t>(value - 1)]);
            }
            return std::nullopt;
        case PanelSetting::Named:
            // White balance 255: the camera has none to show.
            if (setting.reg == WHITEBAL && value == 255) {
                return std::nullopt;
            }
            return EntryOfValue(setting, setting.table ? *setting.table : resolution, value);
        default:
            return EntryOfValue(setting, *setting.table, value);
    }
}

PanelWrite WritePanelSetting(eph_iob* iob, const PanelSetting& setting, const std::string& value,
                             const NameTable& resolution, std::int32_t* focusMode) {
    std::lock_guard lock(LinkLock());
    if (setting.kind == PanelSetting::Zoom) {
        const auto zoom = Number(value);
        if (!zoom || *zoom * 10 < kZoomLowest || *zoom * 10 > kZoomHighest) {
            return PanelWrite::NoValue;
        }
        return SetZoom(*zoom) == 0 ? PanelWrite::Written : PanelWrite::Refused;
    }
    if (setting.kind == PanelSetting::Shutter) {
        const auto speed = Number(value);
        if (!speed || *speed != std::floor(*speed) || std::fabs(*speed) > 2147483647.0) {
            return PanelWrite::NoValue;
        }
        return SetShutterSpeed(static_cast<long>(*speed)) == 0 ? PanelWrite::Written
                                                               : PanelWrite::Refused;
    }
    const char* entry = FindPanelEntry(setting, value);
    if (!entry) {
        return PanelWrite::NoValue;
    }
    const int position = PositionOf(setting, entry);
    std::int32_t code = 0;
    switch (setting.kind) {
        case PanelSetting::Position:
        case PanelSetting::Viewfinder:
            code = position + 1;
            break;
        case PanelSetting::Flash:
            code = ValueOfName(*setting.table, entry).value_or(position);
            break;
        default: {
            NameTable lookup = setting.table ? *setting.table : resolution;
            const auto named = ValueOfName(lookup, entry);
            if (!named) {
                if (!setting.table) {
                    WriteLog("TulkDlg", __LINE__, "Bad res setting");
                }
                return PanelWrite::NoValue;
            }
            code = *named;
        }
    }
    if (setting.kind == PanelSetting::Viewfinder) {
        return CameraActionOnLink(iob, LCDMODE, static_cast<unsigned char>(code), "LCDMODE failed")
                   ? PanelWrite::Written
                   : PanelWrite::Refused;
    }
    if (setting.kind == PanelSetting::Focus) {
        // Macro first, then the mode, as the window writes a focus choice.
        if (eph_setint(iob, C990_FOCUSMODE, 1) == -1) {
            return PanelWrite::Refused;
        }
        *focusMode = code;
        eph_setint(iob, C990_FOCUSMODE, code);
        std::int32_t readBack = -1;
        eph_getint(iob, C990_FOCUSMODE, &readBack);
        if (readBack != code) {
            std::snprintf(g_szErrorText, kErrorTextSize,
                          "FOCUSMODE set failed tried to set %d got %lu", code,
                          static_cast<unsigned long>(static_cast<std::uint32_t>(readBack)));
            WriteLog("TulkDlg", __LINE__, g_szErrorText);
            return PanelWrite::Refused;
        }
        return PanelWrite::Written;
    }
    if (eph_setint(iob, setting.reg, code) != 0) {
        LogValue(setting.failedLine, code);
        return PanelWrite::Refused;
    }
    return PanelWrite::Written;
}
