// The camera's registers, actions and value names: one source of truth for
// the controller, the tests and the simulated camera's defaults.
//
// Three number spaces, each reached by its own commands: integer registers
// (eph_getint / eph_setint), data registers (eph_getvar / eph_setvar) and
// actions (eph_action, always with one argument byte). The same number can
// name different things in different spaces.
#pragma once

#include <optional>
#include <string>

// Integer registers.
inline constexpr int C990_RESOLUTION = 1;
inline constexpr int SHUTTERSPEED = 3;
inline constexpr int C990_CURRENTFRAME = 4;  // pictures from 1; 0 = the preview
inline constexpr int C990_APERTURE = 5;
inline constexpr int C990_COLOURMODE = 6;  // 1 colour, 2 black and white
inline constexpr int C990_FLASH = 7;
inline constexpr int C990_NUMFRAMES = 10;
inline constexpr int C990_FRAMESLEFT = 11;
inline constexpr int C990_LENGTHFRAME = 12;
inline constexpr int C990_LENGTHTHUMB = 13;
inline constexpr int C990_BATTERY = 16;
inline constexpr int C990_LINESPEED = 17;
inline constexpr int C990_IMAGEADJ = 19;
inline constexpr int WHITEBAL = 20;
inline constexpr int AVAILMEM = 28;
inline constexpr int C990_MAGIC = 32;
inline constexpr int C990_FOCUSMODE = 33;
inline constexpr int C990_NUMFRAMES2 = 40;
inline constexpr int C990_METERING = 70;
inline constexpr int C990_USBINIT = 77;
inline constexpr int C990_FOLDERINDEX = 83;

// Data registers.
inline constexpr int C990_FRAMEDATA = 14;
inline constexpr int C990_THUMBDATA = 15;
inline constexpr int C990_CAMERAID = 27;
inline constexpr int C990_UPLOAD = 29;
inline constexpr int C990_PICSUMMARY = 47;
inline constexpr int C990_ZOOM = 71;
inline constexpr int C990_FRAMENAME = 79;
inline constexpr int C990_FOLDERNAME = 84;

// Actions.
inline constexpr int ERASELAST = 0;
inline constexpr int ERASEALL = 1;
inline constexpr int C990_C2_SNAPSHOT = 2;
inline constexpr int C990_SIGNOFF = 4;
inline constexpr int C990_C2_PREVIEW = 5;
inline constexpr int C990_CALIBRATE = 6;
inline constexpr int LCDMODE = 8;
inline constexpr int C2_STORE = 11;

// Arming word written to C990_MAGIC before an upload.
inline constexpr long C990_MAGIC_ARM = 0x05D21A3B;
// Written to C990_USBINIT as the first command on a USB device.
inline constexpr long C990_USBINIT_VALUE = 32762;
// Argument bytes of C990_CALIBRATE.
inline constexpr int CALIBRATE_AUTOFOCUS = 1;
inline constexpr int CALIBRATE_WHITEBALANCE = 3;

// A table of value names, indexed by the register value. Only the first
// lookupCount entries take part in the reverse lookup.
struct NameTable {
    const char* const* names;
    int size;
    int lookupCount;
};

extern const NameTable ApertureNames;
extern const NameTable FlashNames;
extern const NameTable WhiteBalanceNames;
extern const NameTable MeteringNames;
extern const NameTable ImageAdjustNames;
extern const NameTable FocusNames;
// The three variants of the resolution names, by camera model.
extern const NameTable ResolutionNamesSR981;
extern const NameTable ResolutionNamesSX381;
extern const NameTable ResolutionNamesOther;

// The name of a value, or null when the value has none.
const char* NameOfValue(const NameTable& table, long value);
// The index of the first of the table's lookup entries whose name equals
// the text without regard to case; none when no entry matches.
std::optional<int> ValueOfName(const NameTable& table, const std::string& name);
// The resolution table for a camera model text ("SR981", "SX381", other).
const NameTable& ResolutionTableOfModel(const std::string& model);

// How the register dump treats each register.
enum RegisterDumpClasses {
    DUMP_INT = 0,
    DUMP_DATA = 1,
    DUMP_UNCLASSIFIED = 2,
    DUMP_WRITEONLY = 4,
    DUMP_LOCKS = 5,
    DUMP_WRITEONLY2 = 6,
    DUMP_DATA2 = 9,
};
inline constexpr int kRegisterDumpCount = 94;
extern const unsigned char RegisterDumpClass[kRegisterDumpCount];
// The dump class of a register; numbers outside 0..93 count as class 0.
int RegisterDumpClassOf(int reg);
