#include "sim/usb_line.h"

#include "sim/platform/fd_wait.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "sim/platform/usb_socket.h"

namespace camsim {

namespace {

// The largest message the host may send: a packet with the largest payload.
constexpr std::size_t kMaxMessage = wire::kMaxPayload + 6;

}  // namespace

std::string UsbLine::start(int n) {
    if (thread_.joinable())
        return path_;
    const std::string path = usbSocketPath(n);
    if (path.empty())
        return {};
    if (!waker_.open())
        return {};
    listen_ = listenUsb(path);
    if (listen_ < 0) {
        const int saved = errno;
        waker_.close();
        errno = saved;
        return {};
    }
    path_ = path;
    stopping_ = false;
    restartAsked_ = false;
    session_.reset();
    thread_ = std::thread([this] { serve(); });
    return path_;
}

void UsbLine::stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    waker_.wake();
    thread_.join();
    {
        std::lock_guard lock(connMu_);
        closeFd(conn_);
    }
    closeFd(listen_);
    removeUsbSocket(path_);
    path_.clear();
    waker_.close();
}

bool UsbLine::sendRaw(const Bytes& bytes) {
    std::lock_guard lock(connMu_);
    if (conn_ < 0)
        return false;
    return sendMessage(conn_, bytes, stopping_);
}

void UsbLine::send(const Bytes& bytes) {
    if (bytes.size() < wire::kPacketOverhead || !state_.noChecksum()) {
        sendRaw(bytes);
        return;
    }
    Bytes unsummed = bytes;
    wire::zeroChecksum(unsummed);
    sendRaw(unsummed);
}

void UsbLine::requestRestart() {
    restartAsked_ = true;
    waker_.wake();
}

void UsbLine::restartIfAsked() {
    // The camera's end of the connection goes with its interface; what the
    // host had sent on it is gone too. The socket stays for the next one.
    if (restartAsked_.exchange(false))
        hangUp();
}

void UsbLine::freeze(std::chrono::milliseconds t) {
    const auto until = Clock::now() + t;
    for (auto now = Clock::now(); !stopping_ && now < until; now = Clock::now()) {
        pauseOn(
            waker_.fd(),
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
        // Only stop() ends a freeze early; anything else the loop sees after.
        waker_.drain();
    }
}

void UsbLine::hangUp() {
    {
        std::lock_guard lock(connMu_);
        closeFd(conn_);
    }
    session_.reset();
}

void UsbLine::serve() {
    // One byte more than a packet can be, so that a longer message shows.
    std::vector<std::uint8_t> buf(kMaxMessage + 1);
    while (!stopping_) {
        int conn = -1;
        {
            std::lock_guard lock(connMu_);
            conn = conn_;
        }
        // Only one host at a time: further ones wait in the listen queue
        // until this one closes.
        int timeout = -1;
        if (const auto next = session_.nextDeadline()) {
            const auto ms =
                std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
        }
        const FdWait w = waitForInput(conn >= 0 ? conn : listen_, waker_.fd(), timeout);
        if (w.failed)
            break;
        if (stopping_)
            break;
        if (w.woken)
            waker_.drain();
        restartIfAsked();
        {
            std::lock_guard lock(connMu_);
            conn = conn_;
        }
        if (w.readable || w.hungUp) {
            if (conn < 0) {
                const int accepted = acceptUsb(listen_);
                if (accepted >= 0) {
                    std::lock_guard lock(connMu_);
                    conn_ = accepted;
                }
                session_.reset();
            } else {
                bool tooLong = false;
                const long n = receiveMessage(conn, buf.data(), buf.size(), tooLong);
                if (n == 0 || (n < 0 && !lastFailureIsTransient())) {
                    hangUp();
                } else if (n > 0) {
                    onMessage(Bytes(buf.begin(), buf.begin() + n), tooLong, Clock::now());
                    restartIfAsked();
                }
            }
        }
        session_.runTimers(Clock::now());
    }
}

void UsbLine::onMessage(const Bytes& message, bool tooLong, Clock::time_point now) {
    state_.appendRaw(message.data(), message.size());
    if (tooLong || message.size() > kMaxMessage) {
        // More than any packet: the host's write cannot have been one.
        wire::Event ev;
        ev.kind = wire::Event::BadPacket;
        ev.frame.type = message[0];
        ev.frame.subtype = message.size() > 1 ? message[1] : 0;
        session_.handle(ev, now);
        return;
    }
    session_.handle(wire::parseMessage(message), now);
}

}  // namespace camsim
