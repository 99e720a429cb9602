// The camera's record for a test in another process (tulk-camsim --record):
// a file per picture the camera added and a log of events. Called with
// CameraState::mu held, so that a line is on disk before the host hears the
// answer to what it describes.
#pragma once

#include <cstdio>
#include <string>

#include "sim/camsim.h"

namespace camsim {

class Recorder {
public:
    Recorder() = default;
    ~Recorder() { close(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Makes dir when missing and opens its events.log for appending.
    // highest is the largest running number of a picture file already in
    // dir (0 when none). False with errno set.
    bool open(const std::string& dir, int& highest);
    void close();
    bool active() const { return log_ != nullptr; }

    // Writes the picture's file (nothing while no record is open).
    void picture(int number, const std::string& name, const Bytes& jpeg);
    // Appends a line; a newline is added.
    void event(const std::string& line);

    // "000042": the form a running number takes in file names and events.
    static std::string numberText(int number);
    // A picture's name as the record writes it: a plain file name.
    static std::string plainName(const std::string& name);

private:
    void failed(const char* what);

    std::string dir_;
    std::FILE* log_ = nullptr;
    bool complained_ = false;
};

}  // namespace camsim
