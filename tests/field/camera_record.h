// What tulk-camsim --record DIR left, read by a test in another process:
// every picture the camera ever held (DIR/NNNNNN-NAME, its exact bytes) and
// its events (DIR/events.log: "snapshot NNNNNN NAME", "erase NNNNNN NAME",
// ...), checked against a save folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace field {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Event {
    std::string kind;  // snapshot, erase, erase-all, fault
    std::string number;
    std::string name;
};

inline std::vector<Event> Events(const std::filesystem::path& record) {
    std::vector<Event> events;
    std::istringstream lines(ReadFile(record / "events.log"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        Event e;
        words >> e.kind >> e.number >> e.name;
        events.push_back(e);
    }
    return events;
}

inline long Count(const std::filesystem::path& record, const std::string& kind) {
    long n = 0;
    for (const Event& e : Events(record)) {
        n += e.kind == kind;
    }
    return n;
}

// How a save folder stands against the camera's record.
struct Verdict {
    long snapshots = 0;      // pictures the camera took
    long savedOfRun = 0;     // of those, saved whole in the folder
    long strangers = 0;      // files in the folder that are no picture of the camera
    long erasedUnsaved = 0;  // pictures erased that were not saved
    long lostPictures = 0;   // pictures taken, not saved, and erased
};

inline Verdict Check(const std::filesystem::path& record, const std::filesystem::path& folder) {
    std::map<std::string, std::string> pictures;
    std::set<std::string> cameraBytes;
    for (const auto& entry : std::filesystem::directory_iterator(record)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 7 && name[6] == '-' &&
            name.substr(0, 6).find_first_not_of("0123456789") == std::string::npos) {
            pictures[name.substr(0, 6)] = ReadFile(entry.path());
            cameraBytes.insert(pictures[name.substr(0, 6)]);
        }
    }
    std::set<std::string> saved;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() != ".jsonl") {
            saved.insert(ReadFile(entry.path()));
        }
    }
    Verdict verdict;
    for (const std::string& bytes : saved) {
        verdict.strangers += cameraBytes.count(bytes) == 0;
    }
    std::set<std::string> erased;
    for (const Event& e : Events(record)) {
        if (e.kind == "erase") {
            erased.insert(e.number);
            verdict.erasedUnsaved += saved.count(pictures[e.number]) == 0;
        }
    }
    for (const Event& e : Events(record)) {
        if (e.kind == "snapshot") {
            ++verdict.snapshots;
            const bool isSaved = saved.count(pictures[e.number]) > 0;
            verdict.savedOfRun += isSaved;
            verdict.lostPictures += !isSaved && erased.count(e.number) > 0;
        }
    }
    return verdict;
}

// A run's journal, each line a flat JSON object of texts, numbers and flags,
// read into key -> value (texts unescaped for \" and \\ only, which is all
// the names here need). A line that is not a whole object is left out, as
// a reader of a journal cut by a power cut does.
using Record = std::map<std::string, std::string>;

inline std::vector<Record> ReadJournal(const std::filesystem::path& path) {
    std::vector<Record> records;
    std::istringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 2 || line.front() != '{' || line.back() != '}') {
            continue;
        }
        Record record;
        std::size_t at = 1;
        auto text = [&](std::string* out) {
            ++at;  // the opening quote
            while (at < line.size() && line[at] != '"') {
                if (line[at] == '\\' && at + 1 < line.size()) {
                    ++at;
                }
                out->push_back(line[at++]);
            }
            ++at;
        };
        bool whole = true;
        while (at < line.size() - 1 && whole) {
            std::string key;
            std::string value;
            if (line[at] != '"') {
                whole = false;
                break;
            }
            text(&key);
            if (at >= line.size() || line[at] != ':') {
                whole = false;
                break;
            }
            ++at;
            if (line[at] == '"') {
                text(&value);
            } else {
                while (at < line.size() - 1 && line[at] != ',') {
                    value.push_back(line[at++]);
                }
            }
            record[key] = value;
            if (line[at] == ',') {
                ++at;
            }
        }
        if (whole) {
            records.push_back(record);
        }
    }
    return records;
}

// The one journal in the folder ("tulk-run-*.jsonl"), or an empty path.
inline std::filesystem::path FindJournal(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tulk-run-", 0) == 0 && entry.path().extension() == ".jsonl") {
            return entry.path();
        }
    }
    return {};
}

}  // namespace field
