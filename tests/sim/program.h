// The tulk-camsim program in a process of its own, as a user or a host test
// runs it: its standard output on a pipe, killed and reaped if the test
// leaves it running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

inline const std::string kSerialLine = "tulk-camsim: serving serial on ";
inline const std::string kUsbLine = "tulk-camsim: serving usb on ";

class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        args.insert(args.begin(), TULK_CAMSIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, TULK_CAMSIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }

    // Standard output up to the first newline (or its end).
    std::string readLine() {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char c;
            if (::read(out_, &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }

    // The path a cable is served on, from the program's line for it; empty
    // when the line is another.
    std::string servedPath(const std::string& linePrefix) {
        const std::string line = readLine();
        return line.rfind(linePrefix, 0) == 0 ? line.substr(linePrefix.size()) : std::string();
    }

    std::string readAll() {
        std::string all;
        char buf[512];
        ssize_t n;
        while ((n = ::read(out_, buf, sizeof buf)) > 0)
            all.append(buf, std::size_t(n));
        return all;
    }

    void signal(int sig) { ::kill(pid_, sig); }

    // The exit status, or -1 when the program did not exit normally.
    int wait() {
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The exit status once the program has ended on its own, or nothing when
    // it is still running after the time (its output is read meanwhile: the
    // pipe's end is what shows it has gone).
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[512];
            if (::read(out_, buf, sizeof buf) <= 0)
                return wait();
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

}  // namespace simtest
