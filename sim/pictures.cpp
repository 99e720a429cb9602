#include "sim/pictures.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

#include "sim/picture_jpeg.h"
#include "sim/wire.h"

namespace camsim {

namespace {

constexpr int kPreviewWidth = 160;
constexpr int kPreviewHeight = 120;
constexpr const char* kPreviewName = "PREVIEW.JPG";
constexpr const char* kTitle = "TULK CAMSIM";

std::int32_t clampToInt32(std::int64_t v) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int32_t>::max()));
}

Bytes summaryOf(const Picture& p) {
    if (p.summary == Picture::Summary::Empty)
        return {};
    const std::uint32_t length =
        p.summaryLength.value_or(static_cast<std::uint32_t>(p.jpeg.size()));
    const std::uint32_t taken = p.taken.value_or(0);
    Bytes s(32, 0);
    for (int i = 0; i < 3; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(20 + i)] = static_cast<std::uint8_t>(taken >> (8 * i));
    return s;
}

// The number in a name of the camera's own kind, "DSCN0042.JPG" (any case).
std::optional<int> cameraNumber(const std::string& name) {
    if (name.size() != 12)
        return std::nullopt;
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.compare(0, 4, "DSCN") != 0 || upper.compare(8, 4, ".JPG") != 0)
        return std::nullopt;
    int n = 0;
    for (std::size_t i = 4; i < 8; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(upper[i])))
            return std::nullopt;
        n = n * 10 + (upper[i] - '0');
    }
    return n;
}

}  // namespace

const Picture* PictureStore::selectedPicture() const {
    if (selected_ == 0)
        return preview_ ? &*preview_ : nullptr;
    if (selected_ < 0 || static_cast<std::size_t>(selected_) > pictures_.size())
        return nullptr;
    return &pictures_[static_cast<std::size_t>(selected_ - 1)];
}

std::int32_t PictureStore::framesLeft() const {
    return clampToInt32(static_cast<std::int64_t>(capacity_) -
                        static_cast<std::int64_t>(pictures_.size()));
}

std::int32_t PictureStore::freeBytes() const {
    std::int64_t used = 0;
    for (const auto& p : pictures_)
        used += static_cast<std::int64_t>(p.jpeg.size() + p.thumbnail.value_or(Bytes{}).size());
    return clampToInt32(cardBytes_ - used);
}

StoreRead<std::int32_t> PictureStore::readInt(int reg) const {
    using Read = StoreRead<std::int32_t>;
    if (!enabled_)
        return Read::notMine();
    const auto count = static_cast<std::int32_t>(pictures_.size());
    const Picture* sel = selectedPicture();
    switch (reg) {
        case kCurrentFrame:
            return Read::of(selected_);
        case kNumFrames:
            return Read::of(count);
        case kNumFrames2:
            return Read::of(secondCount_.value_or(count));
        case kFramesLeft:
            return Read::of(framesLeft());
        case kAvailMem:
            return Read::of(freeBytes());
        case kLengthFrame:
            if (!sel)
                return Read::refused();
            return Read::of(sel->zeroLength ? 0 : static_cast<std::int32_t>(sel->jpeg.size()));
        case kLengthThumb:
            if (!sel)
                return Read::refused();
            return Read::of(static_cast<std::int32_t>(sel->thumbnail.value_or(Bytes{}).size()));
        default:
            return Read::notMine();
    }
}

StoreRead<Bytes> PictureStore::readData(int reg) const {
    using Read = StoreRead<Bytes>;
    if (!enabled_)
        return Read::notMine();
    if (reg != kFrameData && reg != kThumbData && reg != kSummary && reg != kFrameName)
        return Read::notMine();
    const Picture* sel = selectedPicture();
    if (!sel)
        return Read::refused();
    switch (reg) {
        case kFrameData:
            return Read::of(sel->jpeg);
        case kThumbData:
            return Read::of(sel->thumbnail.value_or(Bytes{}));
        case kSummary:
            if (sel->summary == Picture::Summary::Refused)
                return Read::refused();
            return Read::of(summaryOf(*sel));
        default: {
            const std::string name = sel->name.value_or("");
            Bytes text(name.begin(), name.end());
            text.push_back(0);
            return Read::of(std::move(text));
        }
    }
}

std::optional<bool> PictureStore::writeInt(int reg, std::int32_t value) {
    if (!enabled_)
        return std::nullopt;
    if (reg == kMagic) {
        armed_ = value == kArmingWord;
        return std::nullopt;
    }
    if (reg != kCurrentFrame)
        return std::nullopt;
    if (value < 0 || static_cast<std::size_t>(value) > pictures_.size())
        return false;
    selected_ = value;
    return true;
}

bool PictureStore::acceptsData(int reg, const Bytes& data) const {
    if (!enabled_ || reg != kZoom)
        return true;
    return data.size() == 8 && wire::readLe32(&data[4]) != 0;
}

void PictureStore::dataWritten(int reg, const Bytes* data) {
    if (!enabled_ || reg != kUpload)
        return;
    // Data written without the arming word is no upload, and it replaces
    // any upload written before it.
    if (data && armed_)
        upload_ = *data;
    else
        upload_.reset();
}

std::string PictureStore::nextName(int number) const {
    char name[32];
    std::snprintf(name, sizeof name, "DSCN%04d.JPG", number % 10000);
    return name;
}

void PictureStore::noteName(const std::string& name) {
    // A picture named as the camera names them moves the count on, so that
    // no later picture gets the same name.
    if (auto n = cameraNumber(name))
        nextNumber_ = std::max(nextNumber_, *n + 1);
}

PictureStore::Plan PictureStore::plan(Picture picture) {
    Plan p;
    p.width = snapshotWidth_;
    p.height = snapshotHeight_;
    if (picture.name) {
        p.number = nextNumber_;
        noteName(*picture.name);
    } else {
        p.number = nextNumber_++;
        picture.name = nextName(p.number);
    }
    p.clockReading = clockNow();
    p.picture = std::move(picture);
    return p;
}

void PictureStore::complete(Plan& p) {
    Picture& pic = p.picture;
    const bool drawn = pic.jpeg.empty();
    if (drawn) {
        if (!pic.taken)
            pic.taken = p.clockReading;
        const Bytes segment = jpeg::app12(kTitle, {{"TimeDate", std::to_string(*pic.taken)},
                                                   {"Frame", std::to_string(p.number)}});
        pic.jpeg = jpeg::insertAfterSoi(jpeg::draw(p.width, p.height, p.number), segment);
    }
    if (!pic.taken)
        pic.taken = jpeg::timeDateOf(pic.jpeg).value_or(p.clockReading);
    if (!pic.thumbnail) {
        // What the camera drew it can draw again, smaller; anything else it
        // has to decode first.
        pic.thumbnail =
            drawn ? jpeg::draw(std::max(1, p.width / 8), std::max(1, p.height / 8), p.number)
                  : jpeg::thumbnailOf(pic.jpeg);
    }
}

int PictureStore::insert(Plan p) {
    const int number = nextRecordNumber_++;
    if (recorder_)
        recorder_->picture(number, p.picture.name.value_or(""), p.picture.jpeg);
    recordNumbers_.push_back(number);
    pictures_.push_back(std::move(p.picture));
    selected_ = static_cast<int>(pictures_.size());
    return selected_;
}

int PictureStore::add(Picture picture, std::unique_lock<std::mutex>& lock) {
    enabled_ = true;
    Plan p = plan(std::move(picture));
    lock.unlock();
    complete(p);
    lock.lock();
    return insert(std::move(p));
}

int PictureStore::generate(int n, int width, int height, std::unique_lock<std::mutex>& lock) {
    if (n < 0 || width < 1 || height < 1 || width > jpeg::kMaxSide || height > jpeg::kMaxSide)
        return -1;
    enabled_ = true;
    std::vector<Plan> plans;
    for (int i = 0; i < n; ++i) {
        Plan p = plan(Picture{});
        p.width = width;
        p.height = height;
        p.picture.taken = p.clockReading;
        plans.push_back(std::move(p));
    }
    lock.unlock();
    for (auto& p : plans)
        complete(p);
    lock.lock();
    for (auto& p : plans)
        insert(std::move(p));
    return static_cast<int>(pictures_.size());
}

std::optional<bool> PictureStore::act(int action, std::unique_lock<std::mutex>& lock) {
    if (!enabled_)
        return std::nullopt;
    switch (action) {
        case kEraseLast:
            if (pictures_.empty())
                return false;
            record("erase " + Recorder::numberText(recordNumbers_.back()) + " " +
                   Recorder::plainName(pictures_.back().name.value_or("")));
            pictures_.pop_back();
            recordNumbers_.pop_back();
            selected_ = std::min(selected_, static_cast<int>(pictures_.size()));
            return true;
        case kEraseAll:
            record("erase-all " + std::to_string(pictures_.size()));
            pictures_.clear();
            recordNumbers_.clear();
            selected_ = 0;
            return true;
        case kSnapshot: {
            const auto asked = std::chrono::steady_clock::now();
            if (framesLeft() <= 0)
                return false;
            Plan p = plan(Picture{});
            p.picture.taken = p.clockReading;
            lock.unlock();
            complete(p);
            lock.lock();
            if (p.picture.jpeg.size() + p.picture.thumbnail->size() >
                static_cast<std::size_t>(freeBytes()))
                return false;
            insert(std::move(p));
            record("snapshot " + Recorder::numberText(recordNumbers_.back()) + " " +
                   Recorder::plainName(pictures_.back().name.value_or("")));
            snapshotTimes_.push_back(asked);
            return true;
        }
        case kPreview: {
            Plan p;
            p.number = ++previews_;
            p.width = kPreviewWidth;
            p.height = kPreviewHeight;
            p.clockReading = clockNow();
            p.picture.name = kPreviewName;
            lock.unlock();
            complete(p);
            lock.lock();
            preview_ = std::move(p.picture);
            return true;
        }
        case kStore: {
            if (!upload_ || upload_->empty() || framesLeft() <= 0)
                return false;
            Picture upload;
            upload.jpeg = *upload_;
            Plan p = plan(std::move(upload));
            lock.unlock();
            complete(p);
            lock.lock();
            if (p.picture.jpeg.size() + p.picture.thumbnail->size() >
                static_cast<std::size_t>(freeBytes()))
                return false;
            insert(std::move(p));
            upload_.reset();
            armed_ = false;
            return true;
        }
        default:
            return std::nullopt;
    }
}

void PictureStore::record(const std::string& line) {
    if (recorder_)
        recorder_->event(line);
}

void PictureStore::setCapacity(int pictures, std::int64_t bytes) {
    capacity_ = std::max(pictures, 0);
    cardBytes_ = std::max<std::int64_t>(bytes, 0);
}

bool PictureStore::setSnapshotSize(int width, int height) {
    if (width < 1 || height < 1 || width > jpeg::kMaxSide || height > jpeg::kMaxSide)
        return false;
    snapshotWidth_ = width;
    snapshotHeight_ = height;
    return true;
}

void PictureStore::setClockOffset(std::chrono::seconds offset) {
    clockOffset_ = offset;
    frozenClock_.reset();
}

void PictureStore::freezeClock(std::uint32_t reading) {
    frozenClock_ = reading;
}

std::uint32_t PictureStore::clockNow() const {
    if (frozenClock_)
        return *frozenClock_;
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(
        (now + clockOffset_).count(), 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace camsim
