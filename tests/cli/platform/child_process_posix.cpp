#include "tests/cli/platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && Running()) {
        ::kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& outPath, const std::string& errPath, bool terminal) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    int closedPipe[2] = {-1, -1};
    if (outPath.empty()) {
        if (pipe(closedPipe) != 0) {
            return false;
        }
        ::close(closedPipe[0]);
        posix_spawn_file_actions_adddup2(&actions, closedPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, closedPipe[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    std::string slave;
    if (terminal) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return false;
        }
        slave = ptsname(master_);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, slave.c_str(), O_RDWR | O_NOCTTY,
                                         0);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    // A child of its own process group: a test's signal reaches only it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (closedPipe[1] >= 0) {
        ::close(closedPipe[1]);
    }
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || status_ >= 0) {
        return false;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return done == 0;
}

int ChildProcess::Wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        Terminal();
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = -1;
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Terminal();
    return status_;
}

std::string ChildProcess::Terminal() {
    if (master_ < 0) {
        return terminal_;
    }
    for (;;) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0 || !(fd.revents & POLLIN)) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        terminal_.append(buffer, static_cast<std::size_t>(n));
    }
    return terminal_;
}
