// The USB cable: a packet socket served on a thread of its own. Every
// message is a whole packet or a single control byte, both ways, as the
// camera's USB endpoint moves whole transfers.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "sim/platform/waker.h"
#include "sim/session.h"
#include "sim/state.h"

namespace camsim {

class UsbLine : private Line {
public:
    explicit UsbLine(CameraState& state) : state_(state), session_(state, *this) {}
    ~UsbLine() override { stop(); }
    UsbLine(const UsbLine&) = delete;
    UsbLine& operator=(const UsbLine&) = delete;

    std::string start(int n);
    void stop();
    bool serving() const { return thread_.joinable(); }
    // Sends bytes as one message; false when no host is connected.
    bool sendRaw(const Bytes& bytes);
    // The restart fault, from either cable's thread: the serving thread
    // closes the host's connection as soon as it is back in its loop.
    void requestRestart();

private:
    Received::Via via() const override { return Received::Usb; }
    void send(const Bytes& bytes) override;
    void freeze(std::chrono::milliseconds t) override;
    void restartIfAsked();

    void serve();
    void onMessage(const Bytes& message, bool tooLong, Clock::time_point now);
    void hangUp();

    CameraState& state_;
    Session session_;
    std::string path_;
    int listen_ = -1;
    Waker waker_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> restartAsked_{false};

    // The host connection being served; guarded by connMu_ because sendRaw
    // may come from any thread.
    std::mutex connMu_;
    int conn_ = -1;
};

}  // namespace camsim
