// The run's journal: one JSON object a line in the save folder, named after
// the run's start ("tulk-run-20261211-140312.jsonl"): what the run was
// asked, then one record a tick, the camera lost and back, the end. Each
// line is one append put on the disk before the next tick, so that a power
// cut can at most cut the last line, which a reader skips.
#pragma once

#include <chrono>
#include <string>

#include "run/platform/append_file.h"

// One record, its fields in the order given.
class CJsonRecord {
public:
    explicit CJsonRecord(const char* record);
    CJsonRecord& Text(const char* key, const std::string& value);
    CJsonRecord& Number(const char* key, long long value);
    CJsonRecord& Flag(const char* key, bool value);
    const std::string& Line();

private:
    void Key(const char* key);
    std::string line_;
    bool closed_ = false;
};

// "2026-12-11T14:03:12.345+01:00": local time with milliseconds and offset.
std::string IsoTime(std::chrono::system_clock::time_point when);
// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

class CRunJournal {
public:
    // Makes the journal in the folder (ending in "/"), named after the
    // start; "-2", "-3"... when that name is taken. False when it cannot be
    // made: the run goes on without it.
    bool Create(const std::string& folder, std::chrono::system_clock::time_point start);
    // The path, empty while there is none.
    const std::string& Path() const { return path_; }
    // False when the line could not be put on the disk (logged once).
    bool Write(CJsonRecord& record);

private:
    std::string path_;
    CAppendFile file_;
    bool failed_ = false;
};
