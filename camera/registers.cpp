#include "camera/registers.h"

#include <strings.h>

namespace {

const char* const kAperture[] = {"Auto", "Low", "Medium", "Unknown", "High"};
const char* const kFlash[] = {"Auto", "On", "Off", "RedEye", "Slow"};
const char* const kWhiteBalance[] = {"Auto",    "Sunny", "Incandescent", "Fluorescent",
                                     "Unknown", "Flash", "Preset"};
const char* const kMetering[] = {"Unknown", "Unknown", "Center", "Spot",
                                 "Unknown", "Matrix",  "Spot AF"};
const char* const kImageAdjust[] = {"Normal",        "More Contrast", "Less Contrast",
                                    "Lighten Image", "Darken Image",  "Auto"};
const char* const kFocus[] = {"Unknown", "Macro", "Normal", "Infinity"};

const char* const kResolutionSR981[34] = {
    "Unknown",  "VGA Basic", "VGA Normal", "VGA Fine", "", "", "",  "XGA Basic", "XGA Normal",
    "XGA Fine", "Basic",     "Normal",     "Fine",     "", "", "",  "",          "",
    "",         "",          "",           "",         "", "", "",  "",          "",
    "",         "",          "",           "",         "", "", "Hi"};
const char* const kResolutionSX381[36] = {
    "Unknown",    "VGA Basic", "VGA Normal", "VGA Fine", "", "", "",          "XGA Basic",
    "XGA Normal", "XGA Fine",  "",           "",         "", "", "3:2 Basic", "3:2 Normal",
    "3:2 Fine",   "Basic",     "Normal",     "Fine",     "", "", "",          "",
    "",           "",          "",           "",         "", "", "",          "",
    "",           "",          "3:2 Hi",     "Hi"};
const char* const kResolutionOther[] = {"Unknown", "Low", "High", "Extended"};

template <int N>
constexpr NameTable table(const char* const (&names)[N], int lookup = N) {
    return NameTable{names, N, lookup};
}

}  // namespace

const NameTable ApertureNames = table(kAperture);
const NameTable FlashNames = table(kFlash);
const NameTable WhiteBalanceNames = table(kWhiteBalance);
const NameTable MeteringNames = table(kMetering);
const NameTable ImageAdjustNames = table(kImageAdjust);
const NameTable FocusNames = table(kFocus);
const NameTable ResolutionNamesSR981 = table(kResolutionSR981);
const NameTable ResolutionNamesSX381 = table(kResolutionSX381);
// Entries 1..3 only name values read from the camera; no choice writes them.
const NameTable ResolutionNamesOther = table(kResolutionOther, 1);

const char* NameOfValue(const NameTable& t, long value) {
    if (value < 0 || value >= t.size) {
        return nullptr;
    }
    return t.names[value];
}

std::optional<int> ValueOfName(const NameTable& t, const std::string& name) {
    for (int i = 0; i < t.lookupCount && i < t.size; ++i) {
        if (strcasecmp(t.names[i], name.c_str()) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

const NameTable& ResolutionTableOfModel(const std::string& model) {
    if (model == "SR981") {
        return ResolutionNamesSR981;
    }
    if (model == "SX381") {
        return ResolutionNamesSX381;
    }
    return ResolutionNamesOther;
}

// By register number, ten to a row.
// clang-format off
const unsigned char RegisterDumpClass[kRegisterDumpCount] = {
    2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0..9
    0, 0, 0, 0, 9, 9, 0, 0, 0, 0,  // 10..19
    0, 9, 9, 0, 0, 9, 1, 1, 0, 1,  // 20..29
    0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  // 30..39
    0, 0, 9, 1, 1, 9, 1, 1, 1, 9,  // 40..49
    9, 9, 9, 0, 9, 9, 9, 9, 9, 9,  // 50..59
    2, 9, 9, 9, 9, 9, 9, 9, 9, 9,  // 60..69
    0, 1, 0, 2, 2, 2, 2, 4, 1, 1,  // 70..79
    9, 9, 6, 0, 9, 9, 9, 9, 9, 9,  // 80..89
    9, 9, 0, 0,  // 90..93
};
// clang-format on

int RegisterDumpClassOf(int reg) {
    if (reg < 0 || reg >= kRegisterDumpCount) {
        return DUMP_INT;
    }
    return RegisterDumpClass[reg];
}
