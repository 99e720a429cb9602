#include "app/platform/serial_devices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Name prefixes of serial devices. ttyS comes last so that "ttyS" does not
// take names that a longer prefix owns.
constexpr const char* kPrefixes[] = {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm", "ttyS"};

// The prefix a device name starts with, followed by digits only; null when
// the name is not a serial device's.
const char* SerialPrefix(const std::string& name) {
    for (const char* prefix : kPrefixes) {
        const std::string p(prefix);
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            std::all_of(name.begin() + static_cast<long>(p.size()), name.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return prefix;
        }
    }
    return nullptr;
}

// The 8250 driver makes a ttyS node for every port it might have; only
// those with a known UART type are there.
bool IsRealPort(const std::string& sysClassTty, const std::string& name) {
    std::ifstream type(sysClassTty + "/" + name + "/type");
    int value = 0;
    return type >> value && value != 0;
}

// Natural order: by prefix, then by number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const std::size_t da = a.find_first_of("0123456789");
    const std::size_t db = b.find_first_of("0123456789");
    const std::string pa = a.substr(0, da);
    const std::string pb = b.substr(0, db);
    if (pa != pb) {
        return pa < pb;
    }
    const std::string na = da == std::string::npos ? "" : a.substr(da);
    const std::string nb = db == std::string::npos ? "" : b.substr(db);
    if (na.size() != nb.size()) {
        return na.size() < nb.size();
    }
    return na < nb;
}

}  // namespace

std::vector<std::string> ListSerialDevicesIn(const std::string& devDir,
                                             const std::string& sysClassTty) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(devDir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const char* prefix = SerialPrefix(name);
        if (!prefix) {
            continue;
        }
        if (std::string(prefix) == "ttyS" && !IsRealPort(sysClassTty, name)) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> paths;
    for (const auto& name : names) {
        paths.push_back(devDir + "/" + name);
    }
    return paths;
}

std::vector<std::string> ListSerialDevices() {
    return ListSerialDevicesIn("/dev", "/sys/class/tty");
}
