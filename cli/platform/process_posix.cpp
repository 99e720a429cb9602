#include "cli/platform/process.h"

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::thread g_watcher;
std::atomic<bool> g_bWatching{false};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void WatchStopSignals(std::function<void(int)> onSignal) {
    // Blocked here, the signals stay blocked in every thread started later
    // (the simulated camera's, the progress line's), so none of them has a
    // read or a wait of the link cut short.
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that went away (tulk-cli --get-all | head -n 1) must not end
    // the program in the middle of a picture: the write fails, nothing more.
    signal(SIGPIPE, SIG_IGN);
    g_bWatching = true;
    g_watcher = std::thread([onSignal = std::move(onSignal), set] {
        const timespec tick{0, 100 * 1000 * 1000};
        while (g_bWatching) {
            const int signal = sigtimedwait(&set, nullptr, &tick);
            if (signal > 0) {
                onSignal(signal);
            }
        }
    });
}

void StopWatchingSignals() {
    g_bWatching = false;
    if (g_watcher.joinable()) {
        g_watcher.join();
    }
}

HookEnd RunHook(const std::string& command, const std::string& picture) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind("TULK_PICTURE=", 0) != 0) {
            variables.push_back(text);
        }
    }
    variables.push_back("TULK_PICTURE=" + picture);
    std::vector<char*> envp;
    for (std::string& text : variables) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    // The hook is an ordinary program: Ctrl-C and the rest reach it as usual.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string shell = "/bin/sh";
    std::string flag = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};
    pid_t pid = 0;
    const int started = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    if (started != 0) {
        errno = started;
        return {};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return {};
        }
    }
    if (WIFSIGNALED(status)) {
        return {HookEnd::Signalled, WTERMSIG(status)};
    }
    return WIFEXITED(status) ? HookEnd{HookEnd::Exited, WEXITSTATUS(status)} : HookEnd{};
}

std::string MakePrivateFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    if (!mkdtemp(pattern.data())) {
        return {};
    }
    return pattern;
}
