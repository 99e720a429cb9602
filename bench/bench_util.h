// What the window benchmarks share: a home of their own, busy child
// processes that load the machine beside a measurement, and this process's
// processor time.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Settings, log and sockets of the bench's own, never the user's. Call it
// before anything reads those variables.
inline void UseHome(const QTemporaryDir& home) {
    for (const char* sub : {"/config", "/state", "/runtime"}) {
        QDir().mkpath(home.path() + sub);
    }
    QFile::setPermissions(home.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.path() + "/state"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + "/runtime"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

inline QtMessageHandler g_previousHandler = nullptr;
inline void DropOffscreenNotes(QtMsgType type, const QMessageLogContext& context,
                               const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support "))) {
        return;
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, text);
    }
}
// The offscreen platform says what it cannot do (raise a window, pass on
// size hints) each time a progress window comes up; that would bury the
// figures. Every other message goes through.
inline void QuietOffscreen() {
    g_previousHandler = qInstallMessageHandler(DropOffscreenNotes);
}

inline double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// User plus system time of this whole process, every thread, so far.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

inline double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The body of a busy child: spins on the processor until it is killed, or
// until the bench that started it has gone, so that a bench that dies
// leaves no load behind.
[[noreturn]] inline void Spin() {
    const pid_t parent = getppid();
    volatile unsigned long counter = 0;
    for (;;) {
        for (int i = 0; i < 10000000; ++i) {
            counter = counter + 1;
        }
        if (getppid() != parent) {
            _exit(0);
        }
    }
}

// Busy children: this program started again with the argument, which must
// make it call Spin.
class BusyChildren {
public:
    BusyChildren() = default;
    BusyChildren(const BusyChildren&) = delete;
    BusyChildren& operator=(const BusyChildren&) = delete;
    ~BusyChildren() { Stop(); }

    // False when a child could not be started; those that did keep running.
    bool Start(int count, const char* spinArgument) {
        for (int i = 0; i < count; ++i) {
            char self[] = "/proc/self/exe";
            std::string arg = spinArgument;
            char* argv[] = {self, arg.data(), nullptr};
            pid_t pid = 0;
            if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) {
                return false;
            }
            pids_.push_back(pid);
        }
        started_ = MonotonicSeconds();
        return true;
    }
    // Kills the children by pid and returns the processor time they used,
    // in cores (1.0: one core the whole time they ran).
    double Stop() {
        if (pids_.empty()) {
            return 0;
        }
        const double wall = MonotonicSeconds() - started_;
        double cpu = 0;
        for (const pid_t pid : pids_) {
            kill(pid, SIGKILL);
            int status = 0;
            rusage usage{};
            if (wait4(pid, &status, 0, &usage) == pid) {
                cpu += Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
            }
        }
        pids_.clear();
        return wall > 0 ? cpu / wall : 0;
    }

private:
    std::vector<pid_t> pids_;
    double started_ = 0;
};

}  // namespace bench
