// The camera settings panel's lists, by their labels and entries, for a
// program without the window: the value an entry stands for, reading a
// setting from the camera as the entry it shows, and writing an entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "camera/registers.h"
#include "link/eph.h"

struct PanelSetting {
    enum Kind {
        Named,       // the entry's value in a name table
        Position,    // the entry's position + 1 (Colour Mode)
        Flash,       // the name table, else the position
        Focus,       // written as the window writes it, read back
        Viewfinder,  // an action with position + 1; cannot be read
        Zoom,        // the zoom factor, 1 to 23.4
        Shutter,     // a number; cannot be read
    };
    const char* label;
    Kind kind;
    int reg;
    const NameTable* table;  // Named and Flash; null for Resolution (by model)
    std::vector<const char*> entries;
    // The log line of a write the camera refused, with the value.
    const char* failedLine;
};

// Every setting of the panel, in the panel's order.
const std::vector<PanelSetting>& PanelSettings();
// The setting of a label, without regard to case, blanks or "-"/"_"
// ("colour mode", "ColourMode", "colour-mode"); null when none has it.
const PanelSetting* FindPanelSetting(const std::string& label);
// The list entry the text names (without regard to case), or null.
const char* FindPanelEntry(const PanelSetting& setting, const std::string& text);

// The setting as the panel shows it after Get Info: its entry, or the zoom
// factor; none when it cannot be read or names no entry. The caller holds
// the link. resolution is the model's table.
std::optional<std::string> ReadPanelSetting(eph_iob* iob, const PanelSetting& setting,
                                            const NameTable& resolution);

enum class PanelWrite {
    Written,
    // The value means nothing to this camera (a resolution its model does
    // not name, a zoom out of range, no number): nothing is sent.
    NoValue,
    Refused,
};
// Writes the setting; value is an entry's text, or a number for Zoom and
// ShutterSpeed. *focusMode gets the focus mode captures write back after a
// Focus write.
PanelWrite WritePanelSetting(eph_iob* iob, const PanelSetting& setting, const std::string& value,
                             const NameTable& resolution, std::int32_t* focusMode);

// The resolution names valid for the model, with the window's lookup.
const NameTable& PanelResolutionTable(const std::string& model);
