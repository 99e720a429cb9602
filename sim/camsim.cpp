#include "camsim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/pty.h"
#include "wire.h"

namespace camsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum class SendFault { Corrupt, Drop, Repeat };

// A pending fault with how many more packets it applies to.
template <typename T>
struct Counted {
    T what;
    int left;
};

// Takes one use of the fault at the head of the queue.
template <typename T>
std::optional<T> takeOne(std::deque<Counted<T>>& queue) {
    while (!queue.empty() && queue.front().left <= 0)
        queue.pop_front();
    if (queue.empty())
        return std::nullopt;
    const T what = queue.front().what;
    if (--queue.front().left == 0)
        queue.pop_front();
    return what;
}

Received decode(const wire::Frame& f, Received::Kind kind, Clock::time_point when) {
    Received r;
    r.kind = kind;
    r.type = f.type;
    r.subtype = f.subtype;
    r.payload = f.payload;
    r.when = when;
    if (kind != Received::Packet || f.type != wire::kCommandPacket)
        return r;
    const Bytes& p = f.payload;
    if (!p.empty())
        r.command = p[0];
    if (p.size() >= 2)
        r.reg = p[1];
    if (r.command == wire::kSet && p.size() == 6)
        r.value = wire::readLe32(&p[2]);
    if (r.command == wire::kAction && p.size() > 2)
        r.data.assign(p.begin() + 2, p.end());
    return r;
}

}  // namespace

struct Camera::Impl {
    // Everything below up to the serving thread's own state is shared with
    // the API and guarded by mu.
    mutable std::mutex mu;
    mutable std::condition_variable recorded;
    std::map<int, std::int32_t> ints;
    std::map<int, Bytes> datas;
    std::set<int> refused;
    std::map<int, ActionHandler> actions;
    milliseconds actionTime{0};
    milliseconds answerTimeout{3000};
    std::deque<Counted<std::uint8_t>> answerFaults;
    std::deque<Counted<SendFault>> sendFaults;
    bool silent = false;
    std::size_t maxPacket = 2048;
    std::int32_t speedCode = -1;
    std::vector<Received> record;
    std::uint64_t recordGeneration = 0;  // lets a late setvar skip a cleared record
    Bytes raw;

    PtyPair pty;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::mutex writeMu;  // the serving thread and sendRaw both write

    // Owned by the serving thread.
    wire::StreamParser parser;

    // A reply the camera is sending, packet by packet, each awaiting the
    // host's ACK or NAK.
    struct Outgoing {
        bool active = false;
        std::vector<Bytes> packets;
        std::size_t next = 0;
        int owed = 0;  // answers still due for the current packet
        bool accepted = false;
        Clock::time_point deadline;
    } out;

    // A setvar whose data packets are still to come.
    struct Incoming {
        bool active = false;
        int reg = -1;
        Bytes data;
        std::uint8_t nextSeq = 0;
        bool anyData = false;
        std::optional<Bytes> before;  // the register until the transfer completes
        std::size_t recordIndex = 0;
        std::uint64_t generation = 0;
    } in;

    std::optional<Clock::time_point> completionAt;

    // --- shared-state helpers -------------------------------------------

    std::pair<std::size_t, std::uint64_t> append(Received r) {
        std::lock_guard lock(mu);
        record.push_back(std::move(r));
        recorded.notify_all();
        return {record.size() - 1, recordGeneration};
    }

    void setRecordData(std::size_t index, std::uint64_t generation, const Bytes& data) {
        std::lock_guard lock(mu);
        if (generation != recordGeneration || index >= record.size())
            return;
        record[index].data = data;
        recorded.notify_all();
    }

    bool isSilent() const {
        std::lock_guard lock(mu);
        return silent;
    }

    bool isRefused(int reg) const {
        std::lock_guard lock(mu);
        return refused.count(reg) != 0;
    }

    // --- output -----------------------------------------------------------

    // Writes everything unless the host stops reading for long: a camera
    // stuck on a full line would never see stop().
    void writeAll(const Bytes& bytes) {
        std::lock_guard lock(writeMu);
        if (pty.master < 0)
            return;
        std::size_t done = 0;
        const auto giveUp = Clock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && !stopping) {
            const ssize_t n = ::write(pty.master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            if (Clock::now() >= giveUp)
                return;
            pollfd p{pty.master, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }

    void answer(std::uint8_t byte) { writeAll(Bytes{byte}); }

    // --- the serving thread ---------------------------------------------------

    void serve() {
        std::array<std::uint8_t, 4096> buf{};
        while (!stopping) {
            pollfd fds[2] = {{pty.master, POLLIN, 0}, {wakeRead, POLLIN, 0}};
            const int r = ::poll(fds, 2, pollTimeout(Clock::now()));
            if (r < 0 && errno != EINTR)
                break;
            if (stopping)
                break;
            if (r > 0 && (fds[1].revents & POLLIN)) {
                std::uint8_t drain[64];
                while (::read(wakeRead, drain, sizeof drain) > 0) {
                }
            }
            if (r > 0 && (fds[0].revents & POLLIN)) {
                const ssize_t n = ::read(pty.master, buf.data(), buf.size());
                if (n > 0) {
                    {
                        std::lock_guard lock(mu);
                        raw.insert(raw.end(), buf.begin(), buf.begin() + n);
                    }
                    for (ssize_t i = 0; i < n; ++i)
                        onByte(buf[static_cast<std::size_t>(i)]);
                }
            } else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
                // Not expected while we hold the slave; do not spin on it.
                pollfd w{wakeRead, POLLIN, 0};
                ::poll(&w, 1, 50);
            }
            runTimers(Clock::now());
        }
    }

    int pollTimeout(Clock::time_point now) const {
        std::optional<Clock::time_point> next = parser.stallDeadline();
        auto consider = [&](Clock::time_point t) {
            if (!next || t < *next)
                next = t;
        };
        if (out.active)
            consider(out.deadline);
        if (completionAt)
            consider(*completionAt);
        if (!next)
            return -1;
        if (*next <= now)
            return 0;
        const auto ms = std::chrono::ceil<milliseconds>(*next - now).count();
        return static_cast<int>(std::min<long long>(ms, 60000));
    }

    void runTimers(Clock::time_point now) {
        parser.expire(now);
        if (out.active && now >= out.deadline)
            out.active = false;
        if (completionAt && now >= *completionAt) {
            completionAt.reset();
            if (!isSilent())
                answer(wire::kComplete);
        }
    }

    void onByte(std::uint8_t byte) {
        const auto now = Clock::now();
        auto ev = parser.feed(byte, now);
        switch (ev.kind) {
            case wire::StreamParser::Event::None:
                break;
            case wire::StreamParser::Event::Control:
                onControl(ev.byte, now);
                break;
            case wire::StreamParser::Event::BadPacket:
                append(decode(ev.frame, Received::BadPacket, now));
                if (!isSilent())
                    answer(wire::kNak);
                break;
            case wire::StreamParser::Event::Packet:
                onPacket(ev.frame, now);
                break;
        }
    }

    void onControl(std::uint8_t byte, Clock::time_point now) {
        Received r;
        r.kind = Received::Control;
        r.type = byte;
        r.when = now;
        append(std::move(r));
        if (isSilent())
            return;
        switch (byte) {
            case wire::kInit:
                // A host that wakes the camera has forgotten anything under way.
                abandonAll();
                answer(wire::kNak);
                break;
            case wire::kAck:
                onAnswer(true);
                break;
            case wire::kNak:
                onAnswer(false);
                break;
            default:
                break;
        }
    }

    void abandonAll() {
        out.active = false;
        in.active = false;
        completionAt.reset();
    }

    void onPacket(const wire::Frame& f, Clock::time_point now) {
        const auto [index, generation] = append(decode(f, Received::Packet, now));
        std::optional<std::uint8_t> fault;
        {
            std::lock_guard lock(mu);
            if (silent)
                return;
            fault = takeOne(answerFaults);
        }
        if (fault) {
            answer(*fault);
            return;
        }
        if (f.type == wire::kCommandPacket) {
            // The host moved on: whatever the camera was still sending or
            // expecting belongs to a command the host has given up.
            abandonAll();
            onCommand(f, index, generation);
        } else {
            onData(f);
        }
    }

    void onCommand(const wire::Frame& f, std::size_t index, std::uint64_t generation) {
        const Bytes& p = f.payload;
        if (p.size() < 2)
            return answer(wire::kNak);
        const int command = p[0];
        const int reg = p[1];
        if (f.subtype == wire::kSpeed) {
            if (command != wire::kSet || p.size() != 6)
                return answer(wire::kNak);
            const std::int32_t code = wire::readLe32(&p[2]);
            {
                std::lock_guard lock(mu);
                ints[reg] = code;
                speedCode = code;
            }
            return answer(wire::kAck);
        }
        if (f.subtype != wire::kOrdinary)
            return answer(wire::kNak);
        switch (command) {
            case wire::kSet:
                return onSet(p, reg);
            case wire::kGetInt:
                return onGetInt(p, reg);
            case wire::kAction:
                return onAction(p, reg);
            case wire::kSetVar:
                return onSetVar(p, reg, index, generation);
            case wire::kGetVar:
                return onGetVar(p, reg);
            default:
                return answer(wire::kNak);
        }
    }

    void onSet(const Bytes& p, int reg) {
        if ((p.size() != 6 && p.size() != 2) || isRefused(reg))
            return answer(wire::kNak);
        if (p.size() == 6) {
            std::lock_guard lock(mu);
            ints[reg] = wire::readLe32(&p[2]);
        }
        answer(wire::kAck);
    }

    void onGetInt(const Bytes& p, int reg) {
        if (p.size() != 2 || isRefused(reg))
            return answer(wire::kNak);
        std::int32_t value = 0;
        {
            std::lock_guard lock(mu);
            if (auto it = ints.find(reg); it != ints.end())
                value = it->second;
        }
        startOutgoing({wire::encodePacket(wire::kLastDataPacket, 0, wire::le32(value))});
    }

    void onAction(const Bytes& p, int reg) {
        ActionHandler handler;
        milliseconds time{};
        {
            std::lock_guard lock(mu);
            if (auto it = actions.find(reg); it != actions.end())
                handler = it->second;
            time = actionTime;
        }
        // Called unlocked: a handler may well change the camera's registers.
        const Bytes args(p.begin() + 2, p.end());
        if (handler && !handler(args))
            return answer(wire::kNak);
        answer(wire::kAck);
        completionAt = Clock::now() + time;
    }

    void onSetVar(const Bytes& p, int reg, std::size_t index, std::uint64_t generation) {
        const std::size_t chunk = p.size() - 2;
        if (chunk > wire::kSetVarFirstChunk || isRefused(reg))
            return answer(wire::kNak);
        const Bytes data(p.begin() + 2, p.end());
        std::optional<Bytes> before;
        {
            std::lock_guard lock(mu);
            if (auto it = datas.find(reg); it != datas.end())
                before = it->second;
            datas[reg] = data;
        }
        setRecordData(index, generation, data);
        if (chunk == wire::kSetVarFirstChunk) {
            in = Incoming{};
            in.active = true;
            in.reg = reg;
            in.data = data;
            in.before = std::move(before);
            in.recordIndex = index;
            in.generation = generation;
        }
        answer(wire::kAck);
    }

    void onData(const wire::Frame& f) {
        if (!in.active)
            return answer(wire::kNak);
        const std::uint8_t seq = f.subtype;
        if (in.anyData && seq == static_cast<std::uint8_t>(in.nextSeq - 1)) {
            // Our ACK of it was lost on the way: acknowledge again, keep one copy.
            return answer(wire::kAck);
        }
        if (seq != in.nextSeq)
            return answer(wire::kNak);
        if (!in.anyData) {
            // More than the command's bytes after all: until the last packet,
            // the register keeps what it held before this transfer.
            {
                std::lock_guard lock(mu);
                if (in.before)
                    datas[in.reg] = *in.before;
                else
                    datas.erase(in.reg);
            }
            setRecordData(in.recordIndex, in.generation, {});
        }
        in.anyData = true;
        in.data.insert(in.data.end(), f.payload.begin(), f.payload.end());
        in.nextSeq = static_cast<std::uint8_t>(in.nextSeq + 1);
        if (f.type == wire::kLastDataPacket) {
            {
                std::lock_guard lock(mu);
                datas[in.reg] = in.data;
            }
            setRecordData(in.recordIndex, in.generation, in.data);
            in.active = false;
        }
        answer(wire::kAck);
    }

    void onGetVar(const Bytes& p, int reg) {
        if (p.size() != 2 || isRefused(reg))
            return answer(wire::kNak);
        Bytes data;
        std::size_t chunk = 0;
        {
            std::lock_guard lock(mu);
            if (auto it = datas.find(reg); it != datas.end())
                data = it->second;
            chunk = maxPacket;
        }
        std::vector<Bytes> packets;
        std::size_t at = 0;
        std::uint8_t seq = 0;
        do {
            const std::size_t n = std::min(chunk, data.size() - at);
            const bool last = at + n == data.size();
            const Bytes piece(data.begin() + static_cast<std::ptrdiff_t>(at),
                              data.begin() + static_cast<std::ptrdiff_t>(at + n));
            packets.push_back(
                wire::encodePacket(last ? wire::kLastDataPacket : wire::kDataPacket, seq, piece));
            at += n;
            seq = static_cast<std::uint8_t>(seq + 1);
        } while (at < data.size());
        startOutgoing(std::move(packets));
    }

    void startOutgoing(std::vector<Bytes> packets) {
        out = Outgoing{};
        out.active = true;
        out.packets = std::move(packets);
        transmit();
    }

    void transmit() {
        std::optional<SendFault> fault;
        milliseconds timeout{};
        {
            std::lock_guard lock(mu);
            fault = takeOne(sendFaults);
            timeout = answerTimeout;
        }
        Bytes packet = out.packets[out.next];
        out.owed = fault == SendFault::Repeat ? 2 : 1;
        out.accepted = false;
        if (fault == SendFault::Corrupt)
            packet.back() ^= 0xFF;
        if (fault != SendFault::Drop)
            writeAll(packet);
        if (fault == SendFault::Repeat)
            writeAll(packet);
        out.deadline = Clock::now() + timeout;
    }

    void onAnswer(bool ack) {
        if (!out.active)
            return;
        out.accepted = out.accepted || ack;
        if (--out.owed > 0)
            return;
        if (!out.accepted)
            return transmit();
        if (++out.next == out.packets.size()) {
            out.active = false;
            return;
        }
        transmit();
    }

    void wake() {
        if (wakeWrite < 0)
            return;
        const std::uint8_t b = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &b, 1);
    }
};

Camera::Camera() : d(std::make_unique<Impl>()) {}

Camera::~Camera() {
    stop();
}

std::string Camera::startSerial() {
    if (d->thread.joinable())
        return d->pty.slavePath;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    if (!openPty(d->pty)) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return {};
    }
    for (int fd : pipeFds) {
        const int flags = fcntl(fd, F_GETFL);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];
    d->stopping = false;
    d->parser.reset();
    d->out = Impl::Outgoing{};
    d->in = Impl::Incoming{};
    d->completionAt.reset();
    d->thread = std::thread([this] { d->serve(); });
    return d->pty.slavePath;
}

void Camera::stop() {
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    d->wake();
    d->thread.join();
    std::lock_guard lock(d->writeMu);
    closePty(d->pty);
    ::close(d->wakeRead);
    ::close(d->wakeWrite);
    d->wakeRead = d->wakeWrite = -1;
}

void Camera::setInt(int reg, std::int32_t value) {
    std::lock_guard lock(d->mu);
    d->ints[reg] = value;
}

std::int32_t Camera::getInt(int reg) const {
    std::lock_guard lock(d->mu);
    auto it = d->ints.find(reg);
    return it == d->ints.end() ? 0 : it->second;
}

void Camera::setData(int reg, const Bytes& data) {
    std::lock_guard lock(d->mu);
    d->datas[reg] = data;
}

Bytes Camera::getData(int reg) const {
    std::lock_guard lock(d->mu);
    auto it = d->datas.find(reg);
    return it == d->datas.end() ? Bytes{} : it->second;
}

void Camera::setRefused(int reg, bool refused) {
    std::lock_guard lock(d->mu);
    if (refused)
        d->refused.insert(reg);
    else
        d->refused.erase(reg);
}

void Camera::setAction(int reg, ActionHandler handler) {
    std::lock_guard lock(d->mu);
    d->actions[reg] = std::move(handler);
}

void Camera::setActionTime(std::chrono::milliseconds t) {
    std::lock_guard lock(d->mu);
    d->actionTime = t;
}

std::int32_t Camera::speedCode() const {
    std::lock_guard lock(d->mu);
    return d->speedCode;
}

void Camera::nakNext(int n) {
    answerNext(wire::kNak, n);
}

void Camera::answerNext(std::uint8_t byte, int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(d->mu);
    d->answerFaults.push_back({byte, n});
}

void Camera::corruptNextChecksum(int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(d->mu);
    d->sendFaults.push_back({SendFault::Corrupt, n});
}

void Camera::dropNext(int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(d->mu);
    d->sendFaults.push_back({SendFault::Drop, n});
}

void Camera::repeatNext(int n) {
    if (n <= 0)
        return;
    std::lock_guard lock(d->mu);
    d->sendFaults.push_back({SendFault::Repeat, n});
}

void Camera::setSilent(bool silent) {
    std::lock_guard lock(d->mu);
    d->silent = silent;
}

void Camera::sendRaw(const Bytes& bytes) {
    d->writeAll(bytes);
}

void Camera::setMaxPacket(int bytes) {
    std::lock_guard lock(d->mu);
    d->maxPacket =
        static_cast<std::size_t>(std::clamp(bytes, 1, static_cast<int>(wire::kMaxPayload)));
}

void Camera::setAnswerTimeout(std::chrono::milliseconds t) {
    std::lock_guard lock(d->mu);
    d->answerTimeout = t;
}

std::vector<Received> Camera::received() const {
    std::lock_guard lock(d->mu);
    return d->record;
}

std::vector<Received> Camera::commands() const {
    std::lock_guard lock(d->mu);
    std::vector<Received> out;
    for (const auto& r : d->record)
        if (r.kind == Received::Packet && r.type == wire::kCommandPacket)
            out.push_back(r);
    return out;
}

Bytes Camera::rawReceived() const {
    std::lock_guard lock(d->mu);
    return d->raw;
}

void Camera::clearRecord() {
    std::lock_guard lock(d->mu);
    d->record.clear();
    d->raw.clear();
    ++d->recordGeneration;
}

bool Camera::waitReceived(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d->mu);
    return d->recorded.wait_for(lock, timeout, [&] { return d->record.size() >= n; });
}

}  // namespace camsim
