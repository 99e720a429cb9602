#include "log/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "log/platform/debug_output.h"
#include "log/platform/last_error.h"
#include "log/platform/private_folder.h"

thread_local char g_szErrorText[kErrorTextSize] = "No Error";

namespace {

std::mutex g_logMutex;
FILE* g_logStream = nullptr;  // guarded by g_logMutex
bool g_closeRegistered = false;

std::mutex g_boxMutex;
MessageBoxHook g_boxHook;

// Called with g_logMutex held.
void openLog() {
    const std::string path = LogFilePath();
    make_private_folders(path.substr(0, path.rfind('/')));
    g_logStream = std::fopen(path.c_str(), "a+");
    if (!g_logStream) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    char date[64];
    if (!ctime_r(&now, date)) {
        date[0] = '\0';
    }
    std::fprintf(g_logStream, "\r\nLog started : %s\r\n\r\n", date);
    std::fflush(g_logStream);
    if (!g_closeRegistered) {
        g_closeRegistered = true;
        std::atexit(CloseLog);
    }
}

}  // namespace

std::string LogFilePath() {
    // Each part appended on its own: GCC 12 at -O3 warns falsely
    // (-Wrestrict) inside std::string's + and =, which would fail a release
    // build.
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        base.append(state);
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base.append(home);
        base.append("/.local/state");
    } else {
        base.append(".");
    }
    base.append("/tulk/tulk.log");
    return base;
}

void WriteLog(const char* /*file*/, int line, const char* message) {
    // The last error must be taken before anything here can change it.
    const int lastError = sys_lasterror();
    char text[kErrorTextSize];
    if (line != 0 && !std::strstr(message, "RegDump")) {
        std::snprintf(text, sizeof text, "Log (%d) : warning : %s\r\n", line, message);
    } else {
        std::snprintf(text, sizeof text, "%s\n", message);
    }
    {
        std::lock_guard lock(g_logMutex);
        if (!g_logStream) {
            openLog();
        }
        if (g_logStream) {
            std::fputs(text, g_logStream);
            std::fflush(g_logStream);
        }
    }
    debug_output(sys_errortext(lastError));
    debug_output(text);
}

void CloseLog() {
    std::lock_guard lock(g_logMutex);
    if (g_logStream) {
        std::fclose(g_logStream);
        g_logStream = nullptr;
    }
}

void HexDumpToLog(const unsigned char* bytes, std::size_t count) {
    constexpr std::size_t kRow = 20;
    for (std::size_t at = 0; at < count; at += kRow) {
        char row[kRow * 3 + 1];
        std::size_t used = 0;
        for (std::size_t i = at; i < count && i < at + kRow; ++i) {
            used += std::snprintf(row + used, sizeof row - used, "%02x ", bytes[i]);
        }
        row[used] = '\0';
        WriteLog("", 0, row);
    }
}

int ShowMessage(const char* text, int type) {
    MessageBoxHook hook;
    {
        std::lock_guard lock(g_boxMutex);
        hook = g_boxHook;
    }
    if (hook) {
        return hook("Tulk Message", text, type);
    }
    std::fprintf(stderr, "Tulk Message: %s\n", text);
    return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(g_boxMutex);
    g_boxHook = std::move(hook);
}
