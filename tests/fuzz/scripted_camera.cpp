#include "tests/fuzz/scripted_camera.h"

#include <cstdlib>

#include "tests/fuzz/host_trace.h"

namespace {

// A camera takes well under this to pass bytes on; a wait that runs out
// means the terminal or the socket lost them, and the run is no test.
constexpr int kLongestPassMs = 2000;

struct Script {
    FuzzUsbEnd* usb = nullptr;
    const FuzzLine* line = nullptr;
    std::deque<Reply> replies;
    HostUnits units;
    bool hungUp = false;
};

Script& TheScript() {
    static Script script;
    return script;
}

Reply NextReply() {
    Script& s = TheScript();
    if (s.replies.empty()) {
        return {};
    }
    Reply reply = std::move(s.replies.front());
    s.replies.pop_front();
    return reply;
}

void AnswerUsb(const unsigned char*, std::size_t) {
    Script& s = TheScript();
    Bytes message;
    while (ReceiveFromUsbHost(s.usb, &message)) {
        if (s.replies.empty()) {
            HangUpUsb(s.usb);
            s.hungUp = true;
            return;
        }
        // A transfer that finds the host's queue full is lost, as on a
        // cable; the trace shows what the host did get.
        for (const Bytes& transfer : NextReply().transfers) {
            SendToUsbHost(*s.usb, transfer.data(), transfer.size());
        }
    }
}

void AnswerSerial(const unsigned char*, std::size_t count) {
    Script& s = TheScript();
    const Bytes bytes = ReceiveFromHost(*s.line, count, kLongestPassMs);
    if (bytes.size() != count) {
        std::abort();
    }
    std::vector<Bytes> units;
    s.units.feed(bytes.data(), bytes.size(), &units);
    for (std::size_t i = 0; i < units.size(); ++i) {
        Bytes reply;
        for (const Bytes& transfer : NextReply().transfers) {
            reply.insert(reply.end(), transfer.begin(), transfer.end());
        }
        const std::size_t waiting = WaitingForHost(*s.line);
        const long sent = SendToHost(*s.line, reply.data(), static_cast<long>(reply.size()));
        if (!WaitUntilHostCanRead(*s.line, waiting + static_cast<std::size_t>(sent),
                                  kLongestPassMs)) {
            std::abort();
        }
    }
}

}  // namespace

bool IsHostPacketType(unsigned char byte) {
    return byte == 0x1B || byte == 0x02 || byte == 0x03;
}

void HostUnits::feed(const unsigned char* data, std::size_t count, std::vector<Bytes>* units) {
    for (std::size_t i = 0; i < count; ++i) {
        partial_.push_back(data[i]);
        if (!IsHostPacketType(partial_[0])) {
            units->push_back(std::move(partial_));
            partial_.clear();
            continue;
        }
        if (partial_.size() >= 4 &&
            partial_.size() == 6u + (partial_[2] | (static_cast<unsigned>(partial_[3]) << 8))) {
            units->push_back(std::move(partial_));
            partial_.clear();
        }
    }
}

void ServeUsbScript(FuzzUsbEnd* end) {
    TheScript().usb = end;
    SetHostWriteHook(AnswerUsb);
}

void ServeSerialScript(const FuzzLine* line) {
    TheScript().line = line;
    SetHostWriteHook(AnswerSerial);
}

void PlayScript(std::deque<Reply> replies) {
    Script& s = TheScript();
    s.replies = std::move(replies);
    s.units.clear();
    s.hungUp = false;
}

bool HungUp() {
    return TheScript().hungUp;
}
