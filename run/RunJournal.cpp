#include "run/RunJournal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log/activity_log.h"

CJsonRecord::CJsonRecord(const char* record) {
    line_ = "{\"record\":" + JsonString(record);
}

void CJsonRecord::Key(const char* key) {
    line_ += ",";
    line_ += JsonString(key);
    line_ += ":";
}

CJsonRecord& CJsonRecord::Text(const char* key, const std::string& value) {
    Key(key);
    line_ += JsonString(value);
    return *this;
}

CJsonRecord& CJsonRecord::Number(const char* key, long long value) {
    Key(key);
    line_ += std::to_string(value);
    return *this;
}

CJsonRecord& CJsonRecord::Flag(const char* key, bool value) {
    Key(key);
    line_ += value ? "true" : "false";
    return *this;
}

const std::string& CJsonRecord::Line() {
    if (!closed_) {
        line_ += "}";
        closed_ = true;
    }
    return line_;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    long long milli = ms.count() % 1000;
    if (milli < 0) {
        milli += 1000;
    }
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &parts);
    const long offset = parts.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03lld%c%02ld:%02ld", date, milli, offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return text;
}

bool CRunJournal::Create(const std::string& folder, std::chrono::system_clock::time_point start) {
    const std::time_t t = std::chrono::system_clock::to_time_t(start);
    std::tm parts{};
    localtime_r(&t, &parts);
    char stem[64];
    std::strftime(stem, sizeof stem, "tulk-run-%Y%m%d-%H%M%S", &parts);
    for (int n = 1; n < 100; ++n) {
        const std::string path =
            folder + stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".jsonl";
        if (file_.Create(path)) {
            path_ = path;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const std::string line = "no journal in " + folder + ": " + std::strerror(errno);
    WriteLog("run", __LINE__, line.c_str());
    return false;
}

bool CRunJournal::Write(CJsonRecord& record) {
    if (!file_.IsOpen()) {
        return false;
    }
    if (file_.Append(record.Line())) {
        return true;
    }
    if (!failed_) {
        failed_ = true;
        const std::string line = "journal " + path_ + " not written: " + std::strerror(errno);
        WriteLog("run", __LINE__, line.c_str());
    }
    return false;
}
