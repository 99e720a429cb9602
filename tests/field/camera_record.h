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
        if (entry.is_regular_file()) {
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

}  // namespace field
