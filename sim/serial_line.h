// The serial cable: a pseudo-terminal served on a thread of its own, with
// the line speed rules of a real camera's serial port.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "sim/platform/pty.h"
#include "sim/platform/waker.h"
#include "sim/session.h"
#include "sim/state.h"
#include "sim/wire.h"

namespace camsim {

class SerialLine : private Line {
public:
    explicit SerialLine(CameraState& state) : state_(state), session_(state, *this) {}
    ~SerialLine() override { stop(); }
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    std::string start();
    void stop();
    bool serving() const { return thread_.joinable(); }
    // Writes bytes as they are; false when no line is served.
    bool sendRaw(const Bytes& bytes);

    long speed() const { return speed_; }
    void setIdleReset(std::chrono::milliseconds t);
    void setStallLimit(std::chrono::milliseconds t);
    void setPacing(bool on) { pacing_ = on; }
    // The restart fault, from either cable's thread: the serving thread
    // starts the interface again as soon as it is back in its loop.
    void requestRestart();

private:
    Received::Via via() const override { return Received::Serial; }
    void send(const Bytes& bytes) override { writeAll(bytes); }
    bool answersWakeUp() const override { return speed_ == kWakeSpeed; }
    void acknowledgeSpeed(std::int32_t code) override;
    void complete(bool signOff) override;
    void freeze(std::chrono::milliseconds t) override;
    // True (the interface started again) when a restart was asked for.
    bool restartIfAsked();

    static constexpr long kWakeSpeed = 19200;
    // A line quiet for longer than this has paused; shorter, it is streaming
    // (the host answering a packet, the next packet of a transfer).
    static constexpr std::chrono::milliseconds kStreamingGap{3};

    void serve();
    int pollTimeout(Clock::time_point now) const;
    std::optional<Clock::time_point> idleDeadline() const;
    void onBytes(const std::uint8_t* bytes, std::size_t n, Clock::time_point now);
    void runTimers(Clock::time_point now);
    void writeAll(const Bytes& bytes);
    // Sends bytes, then the camera is at newSpeed; the bytes still go at
    // the speed before.
    void writeThenSwitch(const Bytes& bytes, long newSpeed);
    // Paced at bps when bps > 0; the caller holds writeMu_.
    void writeLocked(const Bytes& bytes, long bps);
    // Where on the line a paced write that starts now begins; writeMu_ held.
    Clock::time_point lineStart(Clock::time_point now) const;
    bool writeSome(const std::uint8_t* bytes, std::size_t n);

    CameraState& state_;
    Session session_;
    PtyPair pty_;
    Waker waker_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex writeMu_;  // the serving thread and sendRaw both write

    std::atomic<long> speed_{kWakeSpeed};
    std::atomic<bool> pacing_{false};
    std::atomic<long long> idleResetMs_{0};
    std::atomic<long long> stallLimitMs_{1000};
    std::atomic<bool> restartAsked_{false};

    // Owned by the serving thread.
    wire::StreamParser parser_;
    Clock::time_point lastByte_;
    // Guarded by writeMu_: when the line has sent everything written so far
    // (on the paced schedule), and when the last piece was actually written.
    Clock::time_point lineFreeAt_;
    Clock::time_point lastWriteAt_;
};

}  // namespace camsim
