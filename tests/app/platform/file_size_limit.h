// A disk that is full, for this process: while the object lives, no file
// can grow beyond the given size (writes past it fail as on a full disk).
#pragma once

class FileSizeLimit {
public:
    explicit FileSizeLimit(long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return active_; }

private:
    bool active_ = false;
    unsigned long long saved_ = 0;
};
