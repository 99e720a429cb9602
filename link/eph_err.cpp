#include <cstdarg>
#include <cstdio>

#include "link/eph.h"
#include "log/platform/last_error.h"

namespace {

const char* tableText(int code) {
    switch (code) {
        case EPH_ERR_DATA_TOO_LONG:
            return "Data too long";
        case EPH_ERR_TIMEOUT:
            return "Timeout";
        case EPH_ERR_UNEXPECTED_READ:
            return "Unexpected amount of data read";
        case EPH_ERR_BAD_HEADER:
            return "Bad packet header received";
        case EPH_ERR_BAD_CRC:
            return "Bad CRC on packet";
        case EPH_ERR_BAD_SPEED:
            return "Bad speed value";
        case EPH_ERR_NO_MEMORY:
            return "No memory";
        case EPH_ERR_BAD_ARGS:
            return "Bad arguments";
        case EPH_ERR_EXCESSIVE_RETRIES:
            return "";
        default:
            return nullptr;
    }
}

}  // namespace

const char* eph_syserrtext(int number) {
    thread_local char text[64];
    std::snprintf(text, sizeof text, "System error %d", number);
    return text;
}

void eph_error(eph_iob* iob, int code, const char* format, ...) {
    // The system's text must be taken before formatting can disturb it.
    const char* systemText = sys_errortext(sys_lasterror());
    char message[4096];
    int used = 0;
    if (format) {
        va_list args;
        va_start(args, format);
        used = std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    } else if (const char* text = tableText(code)) {
        used = std::snprintf(message, sizeof message, "%s", text);
    } else {
        used = std::snprintf(message, sizeof message, "System error %d", code);
    }
    if (used < 0) {
        used = 0;
    }
    if (static_cast<std::size_t>(used) < sizeof message) {
        std::snprintf(message + used, sizeof message - used, "\nWindows says : %s : \n",
                      systemText);
    }
    iob->error_cb(code, message);
}
