#include "sim/serial_line.h"

#include "sim/platform/fd_wait.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace camsim {

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

long speedOfCode(std::int32_t code) {
    switch (code) {
        case 0:
            return 19200;
        case 1:
            return 9600;
        case 2:
            return 19200;
        case 3:
            return 38400;
        case 4:
            return 57600;
        case 5:
            return 115200;
        default:
            return code;
    }
}

}  // namespace

std::string SerialLine::start() {
    if (thread_.joinable())
        return pty_.slavePath;
    if (!waker_.open())
        return {};
    if (!openPty(pty_)) {
        const int saved = errno;
        waker_.close();
        errno = saved;
        return {};
    }
    // A new cable: the camera is at the speed it wakes at, as the terminal is.
    speed_ = kWakeSpeed;
    stopping_ = false;
    restartAsked_ = false;
    parser_.reset();
    session_.reset();
    lastByte_ = Clock::now();
    lineFreeAt_ = Clock::time_point{};
    lastWriteAt_ = Clock::time_point{};
    thread_ = std::thread([this] { serve(); });
    return pty_.slavePath;
}

void SerialLine::stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    waker_.wake();
    thread_.join();
    std::lock_guard lock(writeMu_);
    closePty(pty_);
    waker_.close();
}

bool SerialLine::sendRaw(const Bytes& bytes) {
    if (!serving())
        return false;
    writeAll(bytes);
    return true;
}

void SerialLine::setIdleReset(milliseconds t) {
    idleResetMs_ = std::max<long long>(t.count(), 0);
    waker_.wake();  // the serving thread's time-out may change
}

void SerialLine::acknowledgeSpeed(std::int32_t code) {
    writeThenSwitch(Bytes{wire::kAck}, speedOfCode(code));
}

void SerialLine::complete(bool signOff) {
    if (signOff)
        writeThenSwitch(Bytes{wire::kComplete}, kWakeSpeed);
    else
        writeAll(Bytes{wire::kComplete});
}

void SerialLine::requestRestart() {
    restartAsked_ = true;
    waker_.wake();
}

bool SerialLine::restartIfAsked() {
    if (!restartAsked_.exchange(false))
        return false;
    // As after power comes back: at the speed it wakes at, nothing half
    // received, nothing under way.
    speed_ = kWakeSpeed;
    parser_.reset();
    session_.reset();
    lastByte_ = Clock::now();
    return true;
}

void SerialLine::freeze(milliseconds t) {
    const auto start = Clock::now();
    const auto until = start + t;
    for (auto now = start; !stopping_ && now < until; now = Clock::now()) {
        pauseOn(waker_.fd(),
                static_cast<int>(std::chrono::ceil<milliseconds>(until - now).count()));
        // A wake-up for new settings is seen after the freeze, when the loop
        // works out its wait again; only stop() ends it early.
        waker_.drain();
    }
    // A stopped camera's line did not go idle.
    lastByte_ += Clock::now() - start;
}

void SerialLine::setStallLimit(milliseconds t) {
    stallLimitMs_ = t.count();
    waker_.wake();
}

void SerialLine::serve() {
    std::array<std::uint8_t, 4096> buf{};
    while (!stopping_) {
        parser_.setStallLimit(milliseconds(stallLimitMs_.load()));
        const FdWait w = waitForInput(pty_.master, waker_.fd(), pollTimeout(Clock::now()));
        if (w.failed)
            break;
        if (stopping_)
            break;
        if (w.woken)
            waker_.drain();
        restartIfAsked();
        if (w.readable) {
            const long n = readFd(pty_.master, buf.data(), buf.size());
            if (n > 0)
                onBytes(buf.data(), static_cast<std::size_t>(n), Clock::now());
        } else if (w.hungUp) {
            // Not expected while we hold the slave; do not spin on it.
            pauseOn(waker_.fd(), 50);
        }
        runTimers(Clock::now());
    }
}

std::optional<Clock::time_point> SerialLine::idleDeadline() const {
    const long long ms = idleResetMs_;
    if (ms <= 0 || speed_ == kWakeSpeed)
        return std::nullopt;
    return lastByte_ + milliseconds(ms);
}

int SerialLine::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next = parser_.stallDeadline();
    for (const auto& t : {session_.nextDeadline(), idleDeadline()})
        if (t && (!next || *t < *next))
            next = t;
    if (!next)
        return -1;
    if (*next <= now)
        return 0;
    const auto ms = std::chrono::ceil<milliseconds>(*next - now).count();
    return static_cast<int>(std::min<long long>(ms, 60000));
}

void SerialLine::runTimers(Clock::time_point now) {
    if (parser_.expire(now))
        state_.countStalledPacket();
    if (const auto idle = idleDeadline(); idle && now >= *idle)
        speed_ = kWakeSpeed;
    session_.runTimers(now);
}

void SerialLine::onBytes(const std::uint8_t* bytes, std::size_t n, Clock::time_point now) {
    state_.appendRaw(bytes, n);
    // A camera that has been idle long enough is back at 19200 before these
    // bytes reach it.
    runTimers(now);
    lastByte_ = now;
    // The host's end of the terminal says what speed the bytes were sent at;
    // at any other speed than the camera's its UART sees only noise.
    if (terminalSpeed(pty_.slave) != speed_) {
        parser_.reset();
        Received r;
        r.kind = Received::Garbled;
        r.via = Received::Serial;
        r.payload.assign(bytes, bytes + n);
        r.when = now;
        state_.append(std::move(r));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto ev = parser_.feed(bytes[i], now);
        if (ev.kind == wire::Event::None)
            continue;
        session_.handle(ev, now);
        // What followed a restart's command never reached the camera.
        if (restartIfAsked())
            return;
        // A stall may have passed in there.
        now = Clock::now();
    }
}

bool SerialLine::writeSome(const std::uint8_t* bytes, std::size_t n) {
    std::size_t done = 0;
    // Gives up when the host stops reading for long: a camera stuck on a
    // full line would never see stop().
    auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (done < n && !stopping_) {
        const long w = writeFd(pty_.master, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            giveUp = Clock::now() + std::chrono::seconds(5);
            continue;
        }
        if (w < 0 && !lastFailureIsTransient())
            return false;
        if (Clock::now() >= giveUp)
            return false;
        waitWritable(pty_.master, 50);
    }
    return done == n;
}

void SerialLine::writeAll(const Bytes& bytes) {
    std::lock_guard lock(writeMu_);
    writeLocked(bytes, pacing_ ? speed_.load() : 0);
}

void SerialLine::writeThenSwitch(const Bytes& bytes, long newSpeed) {
    std::lock_guard lock(writeMu_);
    const long bps = pacing_ ? speed_.load() : 0;
    // The camera's own thread is the one that would read the host's next
    // bytes, and it is busy here: switching first cannot misjudge them.
    speed_ = newSpeed;
    writeLocked(bytes, bps);
}

void SerialLine::writeLocked(const Bytes& bytes, long bps) {
    if (pty_.master < 0)
        return;
    if (bps <= 0) {
        writeSome(bytes.data(), bytes.size());
        return;
    }
    // Ten bits a byte (start, eight data, stop). Each piece goes out when
    // its last byte would have left a real UART, about a millisecond apart.
    const nanoseconds perByte(10'000'000'000LL / bps);
    const std::size_t piece = static_cast<std::size_t>(std::clamp(bps / 10000, 1L, 64L));
    lineFreeAt_ = lineStart(Clock::now());
    for (std::size_t done = 0; done < bytes.size() && !stopping_;) {
        const std::size_t k = std::min(piece, bytes.size() - done);
        // Runs on from the schedule, never from the clock: a sleep that wakes
        // late delays this piece only, not every piece after it.
        lineFreeAt_ += perByte * static_cast<long long>(k);
        // In slices, so that stop() is not kept waiting at very low speeds.
        while (!stopping_ && Clock::now() < lineFreeAt_)
            std::this_thread::sleep_for(
                std::min<nanoseconds>(lineFreeAt_ - Clock::now(), milliseconds(50)));
        const bool written = writeSome(bytes.data() + done, k);
        lastWriteAt_ = Clock::now();
        if (!written)
            return;
        done += k;
    }
}

Clock::time_point SerialLine::lineStart(Clock::time_point now) const {
    if (now - lastWriteAt_ >= kStreamingGap)
        return std::max(lineFreeAt_, now);  // a real pause: the line was idle
    // The host answered what we sent a moment ago. It saw our last piece
    // late by as much as that piece's sleep overshot, so its answer came
    // late by as much too: give that back, or every packet of a transfer
    // would add it. What the host itself took to answer stays on the line.
    const nanoseconds late =
        std::clamp<nanoseconds>(lastWriteAt_ - lineFreeAt_, nanoseconds::zero(), kStreamingGap);
    return std::max(lineFreeAt_, now - late);
}

}  // namespace camsim
