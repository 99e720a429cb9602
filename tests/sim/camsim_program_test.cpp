// The tulk-camsim program, run as a user runs it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "host_port.h"

extern char** environ;

namespace simtest {
namespace {

// A child process with its stdout on a pipe; killed and reaped if the test
// leaves it running.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
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

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class ProgramStops : public ::testing::TestWithParam<int> {};

TEST_P(ProgramStops, ServesThePrintedTerminalUntilSignalled) {
    Program prog({});
    ASSERT_TRUE(prog.started());
    const std::string prefix = "tulk-camsim: serving serial on ";
    const std::string line = prog.readLine();
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    {
        HostPort host(line.substr(prefix.size()));
        ASSERT_TRUE(host.isOpen());
        host.writeByte(0x00);
        EXPECT_EQ(host.readByte(), 0x15);
    }
    prog.signal(GetParam());
    EXPECT_EQ(prog.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramStops, ::testing::Values(SIGINT, SIGTERM));

TEST(ProgramOptions, HelpAndUnknownOptions) {
    Program help({"--help"});
    ASSERT_TRUE(help.started());
    EXPECT_NE(help.readAll().find("--help"), std::string::npos);
    EXPECT_EQ(help.wait(), 0);

    Program bad({"--no-such-option"});
    ASSERT_TRUE(bad.started());
    EXPECT_EQ(bad.wait(), 2);
}

}  // namespace
}  // namespace simtest
