// Files written whole or not at all: the bytes go to a temporary file in
// the same folder, which takes the file's name only once everything is
// written, flushed to the disk and closed.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

class FileWriter {
public:
    explicit FileWriter(std::string path);
    ~FileWriter();  // a file not committed is discarded
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates the temporary file. False when the folder cannot take it.
    bool open();
    // Appends the bytes; false for a short write and for no bytes at all.
    bool write(const unsigned char* data, long count);
    // Flushes, closes and renames the file to its name; false (and nothing
    // under the name changed) when any of that fails.
    bool commit();
    // As commit, but a file of that name with other bytes is never replaced:
    // the file takes the next free name ("NAME-1.EXT", "NAME-2.EXT", ...),
    // and a file there already with the very same bytes is left as it is
    // (*unchanged is then true). A name the file system refuses (too long,
    // or bytes it cannot carry) gives way to fallback, numbered alike, when
    // there is one. path() is the name used.
    bool commitWithoutReplacing(bool* unchanged, const std::string& fallback = {});
    // Removes the temporary file; with removeTarget also a file that
    // already carries the name.
    void discard(bool removeTarget = false);

    const std::string& path() const { return path_; }

private:
    // Flushes to the disk and closes; false when any of that fails.
    bool close();

    std::string path_;
    std::string temp_;
    std::FILE* file_ = nullptr;
};

// Sets a file's access and modification times; false when that fails.
bool SetFileTimes(const char* path, std::time_t when);
