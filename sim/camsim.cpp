#include "camsim.h"

#include <algorithm>

#include "serial_line.h"
#include "state.h"
#include "usb_line.h"
#include "wire.h"

namespace camsim {

struct Camera::Impl {
    CameraState state;
    // Declared after the state they serve, so that they stop before it goes.
    SerialLine serial{state};
    UsbLine usb{state};
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

void Camera::setAction(int reg, ActionHandler handler) {
    std::lock_guard lock(d->state.mu);
    d->state.actions[reg] = std::move(handler);
}

void Camera::setActionTime(std::chrono::milliseconds t) {
    std::lock_guard lock(d->state.mu);
    d->state.actionTime = t;
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
    ++d->state.recordGeneration;
}

bool Camera::waitReceived(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d->state.mu);
    return d->state.recorded.wait_for(lock, timeout, [&] { return d->state.record.size() >= n; });
}

}  // namespace camsim
