#include "sim/camsim.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sim/picture_jpeg.h"
#include "sim/serial_line.h"
#include "sim/state.h"
#include "sim/usb_line.h"
#include "sim/wire.h"

namespace camsim {

struct Camera::Impl {
    CameraState state;
    // Declared after the state they serve, so that they stop before it goes.
    SerialLine serial{state};
    UsbLine usb{state};

    Impl() {
        // A restart is the whole interface's, whichever cable brought it.
        state.restartInterfaces = [this] {
            serial.requestRestart();
            usb.requestRestart();
        };
    }
};

Camera::Camera() : d(std::make_unique<Impl>()) {}

Camera::~Camera() {
    stop();
}

std::string Camera::startSerial() {
    return d->serial.start();
}

std::string Camera::startUsb(int n) {
    return d->usb.start(n);
}

void Camera::stop() {
    d->serial.stop();
    d->usb.stop();
}

long Camera::lineSpeed() const {
    return d->serial.speed();
}

void Camera::setIdleReset(std::chrono::milliseconds t) {
    d->serial.setIdleReset(t);
}

void Camera::setStallLimit(std::chrono::milliseconds t) {
    d->serial.setStallLimit(t);
}

void Camera::setPacing(bool on) {
    d->serial.setPacing(on);
}

void Camera::setFolders(const Folder& root) {
    std::lock_guard lock(d->state.mu);
    d->state.folders.set(root);
}

void Camera::clearFolders() {
    std::lock_guard lock(d->state.mu);
    d->state.folders.clear();
}

std::string Camera::currentFolder() const {
    std::lock_guard lock(d->state.mu);
    return d->state.folders.path();
}

void Camera::setInt(int reg, std::int32_t value) {
    std::lock_guard lock(d->state.mu);
    d->state.ints[reg] = value;
}

std::int32_t Camera::getInt(int reg) const {
    std::lock_guard lock(d->state.mu);
    auto it = d->state.ints.find(reg);
    return it == d->state.ints.end() ? 0 : it->second;
}

void Camera::setData(int reg, const Bytes& data) {
    std::lock_guard lock(d->state.mu);
    d->state.datas[reg] = data;
}

Bytes Camera::getData(int reg) const {
    std::lock_guard lock(d->state.mu);
    auto it = d->state.datas.find(reg);
    return it == d->state.datas.end() ? Bytes{} : it->second;
}

void Camera::setRefused(int reg, bool refused) {
    std::lock_guard lock(d->state.mu);
    if (refused)
        d->state.refused.insert(reg);
    else
        d->state.refused.erase(reg);
}

void Camera::setReadOnly(int reg, bool readOnly) {
    std::lock_guard lock(d->state.mu);
    if (readOnly)
        d->state.readOnly.insert(reg);
    else
        d->state.readOnly.erase(reg);
}

void Camera::setAction(int reg, ActionHandler handler) {
    std::lock_guard lock(d->state.mu);
    d->state.actions[reg] = std::move(handler);
}

void Camera::setActionTime(std::chrono::milliseconds t) {
    std::lock_guard lock(d->state.mu);
    d->state.actionTime = t;
}

void Camera::setActionTime(int action, std::chrono::milliseconds t) {
    std::lock_guard lock(d->state.mu);
    d->state.actionTimes[action] = t;
}

namespace {

Bytes textWithZero(const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

// Turns the store on; registers that are plain storage but that a camera
// with pictures always has get a believable value unless they hold one.
void enableLocked(CameraState& state) {
    state.pictures.enable();
    state.ints.try_emplace(PictureStore::kBattery, 85);
    state.datas.try_emplace(PictureStore::kCameraId, textWithZero("SR981"));
    Bytes zoom = wire::le32(10);
    const Bytes denominator = wire::le32(10);
    zoom.insert(zoom.end(), denominator.begin(), denominator.end());
    state.datas.try_emplace(PictureStore::kZoom, zoom);
}

// One file of a folder being loaded.
struct LoadedFile {
    std::string name;
    Bytes bytes;
    std::uint32_t modified = 0;
};

bool isJpegName(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const std::string ext : {".jpg", ".jpeg"})
        if (lower.size() > ext.size() &&
            lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0)
            return true;
    return false;
}

// Reads the whole file; false with errno set.
bool readWhole(const std::filesystem::path& path, Bytes& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::uint8_t buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        errno = EIO;
    return !failed;
}

}  // namespace

void Camera::enablePictures() {
    std::lock_guard lock(d->state.mu);
    enableLocked(d->state);
}

bool Camera::picturesEnabled() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.enabled();
}

int Camera::addPicture(Picture picture) {
    std::unique_lock lock(d->state.mu);
    enableLocked(d->state);
    return d->state.pictures.add(std::move(picture), lock);
}

int Camera::generatePictures(int n, int width, int height) {
    std::unique_lock lock(d->state.mu);
    if (n < 0)
        return -1;
    const int held = d->state.pictures.generate(n, width, height, lock);
    if (held >= 0)
        enableLocked(d->state);
    return held;
}

int Camera::loadPictures(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> paths;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && isJpegName(it->path().filename().string()))
            paths.push_back(it->path());
    }
    if (ec) {
        errno = ec.value();
        return -1;
    }
    std::sort(paths.begin(), paths.end());
    // Every file is read before any is added: a folder that cannot be read
    // whole adds nothing.
    std::vector<LoadedFile> files;
    for (const auto& path : paths) {
        LoadedFile f;
        f.name = path.filename().string();
        if (!readWhole(path, f.bytes))
            return -1;
        const auto written = fs::last_write_time(path, ec);
        if (ec) {
            errno = ec.value();
            return -1;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::file_clock::to_sys(written).time_since_epoch());
        f.modified =
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds.count(), 0, 0xFFFFFFFFLL));
        files.push_back(std::move(f));
    }
    std::unique_lock lock(d->state.mu);
    enableLocked(d->state);
    for (auto& f : files) {
        Picture p;
        p.taken = jpeg::timeDateOf(f.bytes).value_or(f.modified);
        p.jpeg = std::move(f.bytes);
        p.name = std::move(f.name);
        d->state.pictures.add(std::move(p), lock);
    }
    return static_cast<int>(files.size());
}

std::vector<Picture> Camera::pictures() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.pictures();
}

std::optional<Picture> Camera::previewPicture() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.preview();
}

int Camera::selectedPicture() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.selected();
}

std::vector<std::chrono::steady_clock::time_point> Camera::snapshotTimes() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.snapshotTimes();
}

void Camera::setModel(const std::string& model) {
    std::lock_guard lock(d->state.mu);
    d->state.datas[PictureStore::kCameraId] = textWithZero(model);
}

void Camera::setCapacity(int pictures, std::int64_t bytes) {
    std::lock_guard lock(d->state.mu);
    d->state.pictures.setCapacity(pictures, bytes);
}

void Camera::setSecondCount(std::optional<std::int32_t> count) {
    std::lock_guard lock(d->state.mu);
    d->state.pictures.setSecondCount(count);
}

bool Camera::setSnapshotSize(int width, int height) {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.setSnapshotSize(width, height);
}

void Camera::setClockOffset(std::chrono::seconds offset) {
    std::lock_guard lock(d->state.mu);
    d->state.pictures.setClockOffset(offset);
}

void Camera::freezeClock(std::uint32_t reading) {
    std::lock_guard lock(d->state.mu);
    d->state.pictures.freezeClock(reading);
}

std::uint32_t Camera::clockNow() const {
    std::lock_guard lock(d->state.mu);
    return d->state.pictures.clockNow();
}

std::int32_t Camera::speedCode() const {
    std::lock_guard lock(d->state.mu);
    return d->state.speedCode;
}

void Camera::nakNext(int n) {
    answerNext(wire::kNak, n);
}

void Camera::answerNext(std::uint8_t byte, int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(d->state.mu);
    d->state.answerFaults.push_back({byte, n});
}

namespace {

void addSendFault(CameraState& state, SendFault fault, int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(state.mu);
    state.sendFaults.push_back({fault, n});
}

}  // namespace

void Camera::corruptNextChecksum(int n) {
    addSendFault(d->state, SendFault::Corrupt, n);
}

void Camera::dropNext(int n) {
    addSendFault(d->state, SendFault::Drop, n);
}

void Camera::repeatNext(int n) {
    addSendFault(d->state, SendFault::Repeat, n);
}

void Camera::setSilent(bool silent) {
    std::lock_guard lock(d->state.mu);
    d->state.silent = silent;
}

void Camera::addFault(const Fault& fault) {
    std::lock_guard lock(d->state.mu);
    d->state.faults.add(fault);
}

std::vector<std::pair<Fault::Kind, int>> Camera::firedFaults() const {
    std::lock_guard lock(d->state.mu);
    return d->state.faults.fired();
}

void Camera::setVanishHandler(std::function<void()> handler) {
    std::lock_guard lock(d->state.mu);
    d->state.vanishHandler = std::move(handler);
}

bool Camera::setRecord(const std::string& dir) {
    std::lock_guard lock(d->state.mu);
    int highest = 0;
    if (!d->state.recorder.open(dir, highest))
        return false;
    d->state.pictures.continueNumbersFrom(highest + 1);
    return true;
}

void Camera::sendRaw(const Bytes& bytes) {
    if (!d->serial.sendRaw(bytes))
        d->usb.sendRaw(bytes);
}

void Camera::setMaxPacket(int bytes) {
    std::lock_guard lock(d->state.mu);
    d->state.maxPacket =
        static_cast<std::size_t>(std::clamp(bytes, 1, static_cast<int>(wire::kMaxPayload)));
}

void Camera::setAnswerTimeout(std::chrono::milliseconds t) {
    std::lock_guard lock(d->state.mu);
    d->state.answerTimeout = t;
}

std::vector<Received> Camera::received() const {
    std::lock_guard lock(d->state.mu);
    return d->state.record;
}

std::vector<Received> Camera::commands() const {
    std::lock_guard lock(d->state.mu);
    std::vector<Received> out;
    for (const auto& r : d->state.record)
        if (r.kind == Received::Packet && r.type == wire::kCommandPacket)
            out.push_back(r);
    return out;
}

Bytes Camera::rawReceived() const {
    std::lock_guard lock(d->state.mu);
    return d->state.raw;
}

void Camera::clearRecord() {
    std::lock_guard lock(d->state.mu);
    d->state.record.clear();
    d->state.raw.clear();
    d->state.stalledPackets = 0;
    ++d->state.recordGeneration;
    d->state.changedLocked();
}

bool Camera::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(d->state.mu);
    for (;;) {
        const std::uint64_t seen = d->state.changes;
        // The predicate reads the record through the camera's own calls,
        // which take the lock.
        lock.unlock();
        if (done()) {
            return true;
        }
        lock.lock();
        if (!d->state.recorded.wait_until(lock, deadline,
                                          [&] { return d->state.changes != seen; })) {
            lock.unlock();
            return done();
        }
    }
}

std::size_t Camera::stalledPackets() const {
    std::lock_guard lock(d->state.mu);
    return d->state.stalledPackets;
}

bool Camera::waitReceived(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d->state.mu);
    return d->state.recorded.wait_for(lock, timeout, [&] { return d->state.record.size() >= n; });
}

}  // namespace camsim
