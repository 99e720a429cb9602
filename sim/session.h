// The camera's side of the protocol on one cable: answers commands, sends
// replies packet by packet, takes setvar data in, and times completions. The
// cable itself (framing of bytes, pacing, line speed) is the Line's business.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/camsim.h"
#include "sim/state.h"
#include "sim/wire.h"

namespace camsim {

using Clock = std::chrono::steady_clock;

// What the protocol needs of the cable it runs on.
class Line {
public:
    virtual ~Line() = default;
    virtual Received::Via via() const = 0;
    // One control byte or one whole packet.
    virtual void send(const Bytes& bytes) = 0;
    // Whether the init byte gets the camera's signature now.
    virtual bool answersWakeUp() const { return true; }
    // ACK to a speed command on the line-speed register. A line with a speed
    // takes up the code's speed; it does so before the host can see the ACK,
    // so that whoever watches the camera never finds it behind the host.
    virtual void acknowledgeSpeed(std::int32_t /*code*/) { send(Bytes{wire::kAck}); }
    // The completion byte of an action; after the sign-off a line with a
    // speed is back at the speed it wakes at, again before the host knows.
    virtual void complete(bool /*signOff*/) { send(Bytes{wire::kComplete}); }
    // The stall fault: neither sends nor reads for t (the host's bytes wait
    // in the line), then the cable is as it was, its idle time not counted.
    virtual void freeze(std::chrono::milliseconds t) = 0;
};

// Runs on its cable's serving thread only; the camera itself is reached
// through the shared state.
class Session {
public:
    Session(CameraState& state, Line& line) : state_(state), line_(line) {}

    void handle(const wire::Event& ev, Clock::time_point now);
    void runTimers(Clock::time_point now);
    // The earliest time runTimers has something to do, if any.
    std::optional<Clock::time_point> nextDeadline() const;
    // A new host on the cable: nothing under way is carried over.
    void reset() { abandonAll(); }

private:
    void answer(std::uint8_t byte) { line_.send(Bytes{byte}); }
    void onControl(std::uint8_t byte, Clock::time_point now);
    void onPacket(const wire::Frame& f, Clock::time_point now);
    void onCommand(const wire::Frame& f, std::size_t index, std::uint64_t generation);
    void onSet(const Bytes& p, int reg);
    void onGetInt(const Bytes& p, int reg);
    // answered: false when the lose-answer fault has the answer lost.
    void onAction(const Bytes& p, int reg, bool answered = true);
    // The faults that wait for a command's arrival; true when one took the
    // command.
    bool actionFault(const wire::Frame& f, std::optional<FaultTable::Fired> fired);
    void onSetVar(const Bytes& p, int reg, std::size_t index, std::uint64_t generation);
    void onData(const wire::Frame& f);
    void onGetVar(const Bytes& p, int reg);
    void startOutgoing(std::vector<Bytes> packets, bool picture = false);
    void transmit();
    void onAnswer(bool ack);
    void abandonAll();

    CameraState& state_;
    Line& line_;

    // A reply the camera is sending, packet by packet, each awaiting the
    // host's ACK or NAK.
    struct Outgoing {
        bool active = false;
        std::vector<Bytes> packets;
        std::size_t next = 0;
        int owed = 0;  // answers still due for the current packet
        bool accepted = false;
        Clock::time_point deadline;
        // A picture transfer (register 14), whose packets the picture faults
        // wait for.
        bool picture = false;
        std::size_t sent = 0;                   // packets sent at least once
        int copies = 0;                         // of the current packet sent so far
        bool garbleCopies = false;              // garble-always took the current packet
        std::optional<std::size_t> stallAfter;  // the packet the stall follows
        std::chrono::milliseconds stallFor{0};
    } out_;

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
    } in_;

    std::optional<Clock::time_point> completionAt_;
    bool completionSignsOff_ = false;
};

}  // namespace camsim
