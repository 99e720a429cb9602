#include "sim/session.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace camsim {

namespace {

using std::chrono::milliseconds;

// Registers and actions that mean more to the camera than storage.
constexpr int kNumFrames = 10;
constexpr int kLineSpeed = 17;
constexpr int kFolderIndex = 83;
constexpr int kFolderName = 84;
constexpr int kSignOff = 4;

Received decode(const wire::Frame& f, Received::Kind kind, Received::Via via,
                Clock::time_point when) {
    Received r;
    r.kind = kind;
    r.via = via;
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

void Session::handle(const wire::Event& ev, Clock::time_point now) {
    switch (ev.kind) {
        case wire::Event::None:
            break;
        case wire::Event::Control:
            onControl(ev.byte, now);
            break;
        case wire::Event::BadPacket:
            state_.append(decode(ev.frame, Received::BadPacket, line_.via(), now));
            if (!state_.isSilent())
                answer(wire::kNak);
            break;
        case wire::Event::Packet:
            onPacket(ev.frame, now);
            break;
    }
}

std::optional<Clock::time_point> Session::nextDeadline() const {
    std::optional<Clock::time_point> next;
    if (out_.active)
        next = out_.deadline;
    if (completionAt_ && (!next || *completionAt_ < *next))
        next = completionAt_;
    return next;
}

void Session::runTimers(Clock::time_point now) {
    if (out_.active && now >= out_.deadline)
        out_.active = false;
    if (completionAt_ && now >= *completionAt_) {
        completionAt_.reset();
        if (state_.isSilent())
            return;
        line_.complete(completionSignsOff_);
    }
}

void Session::onControl(std::uint8_t byte, Clock::time_point now) {
    Received r;
    r.kind = Received::Control;
    r.via = line_.via();
    r.type = byte;
    r.when = now;
    {
        std::lock_guard lock(state_.mu);
        state_.appendLocked(std::move(r));
        if (state_.silent)
            return;
    }
    switch (byte) {
        case wire::kInit:
            // A host that wakes the camera has forgotten anything under way.
            abandonAll();
            if (line_.answersWakeUp())
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

void Session::abandonAll() {
    out_.active = false;
    in_.active = false;
    completionAt_.reset();
}

void Session::onPacket(const wire::Frame& f, Clock::time_point now) {
    Received r = decode(f, Received::Packet, line_.via(), now);
    std::size_t index = 0;
    std::uint64_t generation = 0;
    std::optional<std::uint8_t> fault;
    std::optional<FaultTable::Fired> fired;
    {
        std::lock_guard lock(state_.mu);
        std::tie(index, generation) = state_.appendLocked(std::move(r));
        if (state_.silent)
            return;
        fault = takeOne(state_.answerFaults);
        const Bytes& p = f.payload;
        if (!fault && f.type == wire::kCommandPacket && f.subtype == wire::kOrdinary &&
            p.size() >= 2 && p[0] == wire::kAction) {
            using Kind = Fault::Kind;
            fired = state_.fireLocked(
                {Kind::Vanish, Kind::Restart, Kind::IgnoreCommand, Kind::LoseAnswer}, p[1]);
        }
    }
    if (fault) {
        answer(*fault);
        return;
    }
    if (actionFault(f, fired))
        return;
    if (f.type == wire::kCommandPacket) {
        // The host moved on: whatever the camera was still sending or
        // expecting belongs to a command the host has given up.
        abandonAll();
        onCommand(f, index, generation);
    } else {
        onData(f);
    }
}

bool Session::actionFault(const wire::Frame& f, std::optional<FaultTable::Fired> fired) {
    if (!fired)
        return false;
    switch (fired->fault.kind) {
        case Fault::Kind::Vanish:
            state_.vanish();
            return true;
        case Fault::Kind::Restart:
            abandonAll();
            if (state_.restartInterfaces)
                state_.restartInterfaces();
            return true;
        case Fault::Kind::IgnoreCommand:
            // Not heard: not even the end of what was under way.
            return true;
        case Fault::Kind::LoseAnswer:
            abandonAll();
            onAction(f.payload, f.payload[1], false);
            return true;
        default:
            return false;
    }
}

void Session::onCommand(const wire::Frame& f, std::size_t index, std::uint64_t generation) {
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
            std::lock_guard lock(state_.mu);
            state_.ints[reg] = code;
            state_.speedCode = code;
        }
        if (reg == kLineSpeed)
            return line_.acknowledgeSpeed(code);
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

void Session::onSet(const Bytes& p, int reg) {
    if ((p.size() != 6 && p.size() != 2) || state_.isRefused(reg) || state_.isReadOnly(reg))
        return answer(wire::kNak);
    bool accepted = true;
    if (p.size() == 6) {
        std::lock_guard lock(state_.mu);
        const std::int32_t value = wire::readLe32(&p[2]);
        if (reg == kFolderIndex) {
            accepted = state_.folders.select(value);
        } else {
            // The picture store judges the writes it answers (a picture
            // selection); the value is kept either way once taken.
            accepted = state_.pictures.writeInt(reg, value).value_or(true);
            if (accepted)
                state_.ints[reg] = value;
        }
    }
    answer(accepted ? wire::kAck : wire::kNak);
}

void Session::onGetInt(const Bytes& p, int reg) {
    if (p.size() != 2 || state_.isRefused(reg))
        return answer(wire::kNak);
    std::optional<std::int32_t> value = 0;
    {
        std::lock_guard lock(state_.mu);
        if (reg == kFolderIndex)
            value = state_.folders.subfolderCount();
        else if (reg == kNumFrames && state_.folders.present())
            value = state_.folders.pictures();
        else if (auto r = state_.pictures.readInt(reg); r.kind != r.NotMine)
            value = r.kind == r.Value ? std::optional(r.value) : std::nullopt;
        else if (auto it = state_.ints.find(reg); it != state_.ints.end())
            value = it->second;
    }
    if (!value)
        return answer(wire::kNak);
    startOutgoing({wire::encodePacket(wire::kLastDataPacket, 0, wire::le32(*value))});
}

void Session::onAction(const Bytes& p, int reg, bool answered) {
    ActionHandler handler;
    milliseconds time{};
    {
        std::lock_guard lock(state_.mu);
        if (auto it = state_.actions.find(reg); it != state_.actions.end())
            handler = it->second;
        auto own = state_.actionTimes.find(reg);
        time = own != state_.actionTimes.end() ? own->second : state_.actionTime;
    }
    // Called unlocked: a handler may well change the camera's registers.
    const Bytes args(p.begin() + 2, p.end());
    bool done = !handler || handler(args);
    if (done) {
        std::unique_lock lock(state_.mu);
        done = state_.pictures.act(reg, lock) != false;
    }
    if (!answered)
        return;
    if (!done)
        return answer(wire::kNak);
    answer(wire::kAck);
    completionAt_ = Clock::now() + time;
    completionSignsOff_ = reg == kSignOff;
}

void Session::onSetVar(const Bytes& p, int reg, std::size_t index, std::uint64_t generation) {
    const std::size_t chunk = p.size() - 2;
    if (chunk > wire::kSetVarFirstChunk || state_.isRefused(reg))
        return answer(wire::kNak);
    const Bytes data(p.begin() + 2, p.end());
    if (reg == kFolderName) {
        // A change of folder, not a register to store: a camera without
        // folders refuses it, which is how the host tells the two apart.
        bool changed = false;
        {
            std::lock_guard lock(state_.mu);
            changed = state_.folders.change(data);
        }
        state_.setRecordData(index, generation, data);
        return answer(changed ? wire::kAck : wire::kNak);
    }
    std::optional<Bytes> before;
    {
        std::lock_guard lock(state_.mu);
        if (!state_.pictures.acceptsData(reg, data))
            return answer(wire::kNak);
        if (auto it = state_.datas.find(reg); it != state_.datas.end())
            before = it->second;
        state_.datas[reg] = data;
        state_.pictures.dataWritten(reg, &data);
    }
    state_.setRecordData(index, generation, data);
    if (chunk == wire::kSetVarFirstChunk) {
        in_ = Incoming{};
        in_.active = true;
        in_.reg = reg;
        in_.data = data;
        in_.before = std::move(before);
        in_.recordIndex = index;
        in_.generation = generation;
    }
    answer(wire::kAck);
}

void Session::onData(const wire::Frame& f) {
    if (!in_.active)
        return answer(wire::kNak);
    const std::uint8_t seq = f.subtype;
    if (in_.anyData && seq == static_cast<std::uint8_t>(in_.nextSeq - 1)) {
        // Our ACK of it was lost on the way: acknowledge again, keep one copy.
        return answer(wire::kAck);
    }
    if (seq != in_.nextSeq)
        return answer(wire::kNak);
    if (!in_.anyData) {
        // More than the command's bytes after all: until the last packet,
        // the register keeps what it held before this transfer.
        {
            std::lock_guard lock(state_.mu);
            if (in_.before)
                state_.datas[in_.reg] = *in_.before;
            else
                state_.datas.erase(in_.reg);
            state_.pictures.dataWritten(in_.reg, nullptr);
        }
        state_.setRecordData(in_.recordIndex, in_.generation, {});
    }
    in_.anyData = true;
    in_.data.insert(in_.data.end(), f.payload.begin(), f.payload.end());
    in_.nextSeq = static_cast<std::uint8_t>(in_.nextSeq + 1);
    if (f.type == wire::kLastDataPacket) {
        {
            std::lock_guard lock(state_.mu);
            state_.datas[in_.reg] = in_.data;
            state_.pictures.dataWritten(in_.reg, &in_.data);
        }
        state_.setRecordData(in_.recordIndex, in_.generation, in_.data);
        in_.active = false;
    }
    answer(wire::kAck);
}

void Session::onGetVar(const Bytes& p, int reg) {
    if (p.size() != 2 || state_.isRefused(reg))
        return answer(wire::kNak);
    std::optional<Bytes> found;
    std::size_t chunk = 0;
    {
        std::lock_guard lock(state_.mu);
        if (reg == kFolderName && state_.folders.present())
            found = state_.folders.selectedName();  // none before a subfolder is selected
        else if (auto r = state_.pictures.readData(reg); r.kind != r.NotMine)
            found = r.kind == r.Value ? std::optional(std::move(r.value)) : std::nullopt;
        else if (auto it = state_.datas.find(reg); it != state_.datas.end())
            found = it->second;
        else
            found = Bytes{};
        chunk = state_.maxPacket;
    }
    if (!found)
        return answer(wire::kNak);
    const Bytes& data = *found;
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
    startOutgoing(std::move(packets), reg == PictureStore::kFrameData);
}

void Session::startOutgoing(std::vector<Bytes> packets, bool picture) {
    out_ = Outgoing{};
    out_.active = true;
    out_.packets = std::move(packets);
    out_.picture = picture;
    if (picture) {
        std::lock_guard lock(state_.mu);
        if (auto stall = state_.fireLocked({Fault::Kind::StallMidTransfer})) {
            // Right after the packet that makes half of them (rounded up):
            // the host is left waiting with a picture half read.
            out_.stallAfter = (out_.packets.size() + 1) / 2 - 1;
            out_.stallFor = stall->fault.duration;
        }
    }
    transmit();
}

void Session::transmit() {
    std::optional<SendFault> fault;
    milliseconds timeout{};
    Bytes packet = out_.packets[out_.next];
    const bool first = out_.next == out_.sent;
    if (first) {
        out_.sent = out_.next + 1;
        out_.copies = 0;
        out_.garbleCopies = false;
    }
    bool garble = out_.garbleCopies;
    {
        std::lock_guard lock(state_.mu);
        fault = takeOne(state_.sendFaults);
        timeout = state_.answerTimeout;
        // A packet without payload has no byte to garble: no occasion.
        if (first && out_.picture && packet.size() > wire::kPacketOverhead) {
            using Kind = Fault::Kind;
            if (auto fired = state_.fireLocked({Kind::GarbleAlways, Kind::GarblePacket})) {
                garble = true;
                out_.garbleCopies = fired->fault.kind == Kind::GarbleAlways;
            }
        }
    }
    if (garble)
        wire::garblePayload(packet, out_.copies);
    ++out_.copies;
    out_.owed = fault == SendFault::Repeat ? 2 : 1;
    out_.accepted = false;
    if (fault == SendFault::Corrupt)
        wire::spoilChecksum(packet);
    if (fault != SendFault::Drop)
        line_.send(packet);
    if (fault == SendFault::Repeat)
        line_.send(packet);
    if (first && out_.stallAfter == out_.next)
        line_.freeze(out_.stallFor);
    // The host's answer is awaited from when the camera can hear it again.
    out_.deadline = Clock::now() + timeout;
}

void Session::onAnswer(bool ack) {
    if (!out_.active)
        return;
    out_.accepted = out_.accepted || ack;
    if (--out_.owed > 0)
        return;
    if (!out_.accepted)
        return transmit();
    if (++out_.next == out_.packets.size()) {
        out_.active = false;
        return;
    }
    transmit();
}

}  // namespace camsim
