// The run's journal on the disk: lines appended each with one write and put
// on the disk before the append returns, so that a power cut can cut at
// most the last line; and the room left on the disk.
#pragma once

#include <string>

class CAppendFile {
public:
    CAppendFile() = default;
    ~CAppendFile();
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Creates the file (mode 0644); false (errno set) when it exists or
    // cannot be made.
    bool Create(const std::string& path);
    // Opens a file that exists, to append to it.
    bool OpenExisting(const std::string& path);
    // The line, with its line end, in one write, then on the disk.
    bool Append(const std::string& line);
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Bytes free for an ordinary user on the file system that holds the path;
// -1 when it cannot be told.
long long FreeBytes(const std::string& path);
