#include "cli/TerminalProgress.h"

#include <chrono>
#include <string>

#include "camera/transfer_progress.h"

namespace {

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Duration(long seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    }
    return text;
}

}  // namespace

CTerminalProgress::CTerminalProgress(bool on, std::FILE* out) : out_(out) {
    if (on) {
        serial_ = CurrentTransfer().Snapshot().serial;
        thread_ = std::thread([this] { Run(); });
    }
}

CTerminalProgress::~CTerminalProgress() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    EndLine();
}

void CTerminalProgress::EndLine() {
    std::lock_guard lock(mutex_);
    if (shown_) {
        std::fputs("\n", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

void CTerminalProgress::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(200));
        if (!stopping_) {
            ShowLocked();
        }
    }
}

void CTerminalProgress::ShowLocked() {
    const TransferSnapshot transfer = CurrentTransfer().Snapshot();
    if (transfer.serial != serial_) {
        // A new transfer: the last one's line stays as it ended.
        if (shown_) {
            std::fputs("\n", out_);
            shown_ = false;
        }
        serial_ = transfer.serial;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - transfer.started).count();
    if (transfer.total <= 0 || seconds < 1.0 || (!shown_ && transfer.done >= transfer.total)) {
        return;
    }
    const long done = transfer.done < transfer.total ? transfer.done : transfer.total;
    const double rate = done / seconds;
    const long left = rate > 0 ? static_cast<long>((transfer.total - done) / rate + 0.5) : -1;
    std::fprintf(out_, "\r%s  %ld/%ld bytes  %.1f kB/s  %s left\x1b[K",
                 BaseName(transfer.name).c_str(), done, transfer.total, rate / 1000.0,
                 left < 0 ? "?" : Duration(left).c_str());
    std::fflush(out_);
    shown_ = true;
}
