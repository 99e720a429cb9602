// The pictures a camera holds and the registers and actions through which
// the host sees them: counts, the selected picture's length, data, summary
// and name, free room, snapshot, preview, erase and upload. Off until
// enabled; while off it owns no register. Every member is called with
// CameraState::mu held, except where a member says otherwise.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/camsim.h"
#include "sim/record.h"

namespace camsim {

// The store's answer to one of the host's reads.
template <typename T>
struct StoreRead {
    enum Kind {
        NotMine,  // an ordinary register: the camera answers from storage
        Refused,  // the camera answers NAK
        Value,
    };
    Kind kind = NotMine;
    T value{};
    static StoreRead notMine() { return {}; }
    static StoreRead refused() { return {Refused, T{}}; }
    static StoreRead of(T v) { return {Value, std::move(v)}; }
};

class PictureStore {
public:
    // Register and action numbers the store answers.
    static constexpr int kCurrentFrame = 4;
    static constexpr int kNumFrames = 10;
    static constexpr int kFramesLeft = 11;
    static constexpr int kLengthFrame = 12;
    static constexpr int kLengthThumb = 13;
    static constexpr int kFrameData = 14;
    static constexpr int kThumbData = 15;
    static constexpr int kBattery = 16;
    static constexpr int kCameraId = 27;
    static constexpr int kAvailMem = 28;
    static constexpr int kUpload = 29;
    static constexpr int kMagic = 32;
    static constexpr int kNumFrames2 = 40;
    static constexpr int kSummary = 47;
    static constexpr int kZoom = 71;
    static constexpr int kFrameName = 79;
    static constexpr int kEraseLast = 0;
    static constexpr int kEraseAll = 1;
    static constexpr int kSnapshot = 2;
    static constexpr int kPreview = 5;
    static constexpr int kStore = 11;
    static constexpr std::int32_t kArmingWord = 0x05D21A3B;

    bool enabled() const { return enabled_; }
    void enable() { enabled_ = true; }

    // The host's reads. (A camera with folders counts its current folder's
    // pictures in register 10; the session asks the folders first.)
    StoreRead<std::int32_t> readInt(int reg) const;
    StoreRead<Bytes> readData(int reg) const;
    // The host's writes of an integer. Nothing when the register is an
    // ordinary one for the camera to store (the store may still take note
    // of the value, as of the arming word); otherwise whether it is taken.
    std::optional<bool> writeInt(int reg, std::int32_t value);
    // A setvar command about to store data in reg: false when the camera
    // refuses it (a zoom that is no numerator and denominator).
    bool acceptsData(int reg, const Bytes& data) const;
    // reg now holds data as the host's setvar left it (nullptr: the
    // register went back to what it held before the setvar).
    void dataWritten(int reg, const Bytes* data);
    // The store's part of an action: nothing when it has none, else whether
    // the camera carries the action out. lock holds CameraState::mu; it is
    // let go while a picture is drawn and taken again.
    std::optional<bool> act(int action, std::unique_lock<std::mutex>& lock);

    // Adds a picture as the test or the program gives it; fields left empty
    // are filled in. Draws outside the lock as act() does. Returns its number.
    int add(Picture picture, std::unique_lock<std::mutex>& lock);
    int generate(int n, int width, int height, std::unique_lock<std::mutex>& lock);

    const std::vector<Picture>& pictures() const { return pictures_; }
    const std::optional<Picture>& preview() const { return preview_; }
    int selected() const { return selected_; }
    const std::vector<std::chrono::steady_clock::time_point>& snapshotTimes() const {
        return snapshotTimes_;
    }
    std::int32_t framesLeft() const;
    std::int32_t freeBytes() const;

    // Where the store writes down the pictures it adds and the snapshots and
    // erasures (an inactive recorder writes nothing); pictures are numbered
    // in it from next on, or on from the last number given, whichever is
    // higher.
    void setRecorder(Recorder* recorder) { recorder_ = recorder; }
    void continueNumbersFrom(int next) { nextRecordNumber_ = std::max(nextRecordNumber_, next); }

    void setCapacity(int pictures, std::int64_t bytes);
    void setSecondCount(std::optional<std::int32_t> count) { secondCount_ = count; }
    bool setSnapshotSize(int width, int height);
    void setClockOffset(std::chrono::seconds offset);
    void freezeClock(std::uint32_t reading);
    std::uint32_t clockNow() const;

private:
    // A picture on its way in: planned under the lock (its number, name and
    // the clock's reading), completed without it (drawing, decoding), then
    // inserted under the lock again.
    struct Plan {
        Picture picture;
        int number = 0;  // the file number it is drawn with and named by
        int width = 0, height = 0;
        std::uint32_t clockReading = 0;  // when it was planned
    };
    Plan plan(Picture picture);
    static void complete(Plan& plan);
    int insert(Plan plan);
    const Picture* selectedPicture() const;
    void record(const std::string& line);
    std::string nextName(int number) const;
    void noteName(const std::string& name);

    bool enabled_ = false;
    std::vector<Picture> pictures_;
    std::vector<int> recordNumbers_;  // of each of pictures_, for the record
    int nextRecordNumber_ = 1;
    Recorder* recorder_ = nullptr;
    std::optional<Picture> preview_;
    int selected_ = 0;             // 0: the preview picture
    int nextNumber_ = 1;           // of the next name the camera makes up
    int previews_ = 0;             // previews taken, each drawn with its own number
    bool armed_ = false;           // the arming word is in register 32
    std::optional<Bytes> upload_;  // what an armed setvar left in register 29
    int capacity_ = 100;
    std::int64_t cardBytes_ = 32LL * 1024 * 1024;
    std::optional<std::int32_t> secondCount_;
    int snapshotWidth_ = 640, snapshotHeight_ = 480;
    std::chrono::seconds clockOffset_{0};
    std::optional<std::uint32_t> frozenClock_;
    std::vector<std::chrono::steady_clock::time_point> snapshotTimes_;
};

}  // namespace camsim
