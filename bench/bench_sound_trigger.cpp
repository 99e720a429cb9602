// The sound trigger on a real sound server (run it through
// scripts/bench-sound.sh, which starts one) against the simulated camera on
// USB:
// - latency: from the moment a loud tone is handed to the server (paplay
//   started) to the snapshot command arriving at the camera, over N trials;
//   beside it, in the same run, the same tone heard by a plain capture
//   client (parec), which is what the server itself adds;
// - CPU: the window thread's and the whole process's (window, capture thread,
//   the audio library's thread) during a 10-second wait with nothing loud.
// Usage: bench_sound_trigger [trials]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/SoundTrigger.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "bench/bench_util.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "sim/camsim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kLoud = 20000;
constexpr int kThreshold = 10000;

bool WriteTone(const std::string& path, int amplitude, double seconds) {
    const int rate = 22050;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    auto put = [f](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            std::fputc(static_cast<int>((v >> (8 * i)) & 0xff), f);
        }
    };
    std::fwrite("RIFF", 1, 4, f);
    put(36 + frames * 2, 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    std::fwrite("data", 1, 4, f);
    put(frames * 2, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double s = amplitude * std::sin(2 * 3.14159265358979 * 440.0 * i / rate);
        put(static_cast<std::uint16_t>(static_cast<std::int16_t>(s)), 2);
    }
    return std::fclose(f) == 0;
}

pid_t Spawn(std::vector<std::string> args, int stdoutFd = -1) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// A plain capture client: parec, read as it delivers; the first sample at or
// above the threshold after Arm is timed.
class PlainClient {
public:
    bool Start() {
        int fds[2];
        if (pipe(fds) != 0) {
            return false;
        }
        pid_ = Spawn({"parec", "--raw", "--rate=22050", "--channels=1", "--format=s16le",
                      "--latency-msec=10"},
                     fds[1]);
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] { Read(); });
        return pid_ > 0;
    }
    ~PlainClient() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            Wait(pid_);
        }
        if (reader_.joinable()) {
            reader_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    void Arm() {
        heard_ = false;
        armed_ = true;
    }
    bool Heard(Clock::time_point* when) const {
        if (!heard_) {
            return false;
        }
        *when = when_;
        return true;
    }

private:
    void Read() {
        unsigned char bytes[4096];
        std::size_t odd = 0;
        unsigned char carry = 0;
        for (;;) {
            const ssize_t n = read(fd_, bytes, sizeof bytes);
            if (n <= 0) {
                return;
            }
            const auto now = Clock::now();
            std::size_t i = 0;
            if (odd) {
                const auto s = static_cast<std::int16_t>(carry | (bytes[0] << 8));
                Check(s, now);
                i = 1;
            }
            for (; i + 1 < static_cast<std::size_t>(n); i += 2) {
                Check(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)), now);
            }
            odd = i < static_cast<std::size_t>(n) ? 1 : 0;
            carry = odd ? bytes[n - 1] : 0;
        }
    }
    void Check(std::int16_t s, Clock::time_point now) {
        if (armed_ && s >= kThreshold) {
            when_ = now;
            armed_ = false;
            heard_ = true;
        }
    }
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> armed_{false};
    std::atomic<bool> heard_{false};
    Clock::time_point when_{};
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("%-34s no result\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const double median = values.size() % 2
                              ? values[values.size() / 2]
                              : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    std::printf("%-34s n=%zu min %.1f  median %.1f  max %.1f ms\n", what, values.size(),
                values.front(), median, values.back());
}

// The processor time of the process's thread with the name, from /proc.
double NamedThreadCpuSeconds(const char* name) {
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name) {
            continue;
        }
        QFile stat(tasks.filePath(tid + "/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            return 0;
        }
        const QByteArray text = stat.readAll();
        // The fields after the name in parentheses: utime and stime are the
        // 12th and 13th.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13) {
            return 0;
        }
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
    }
    return 0;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    if (!std::getenv("PULSE_SERVER")) {
        std::fprintf(stderr, "needs a sound server: run scripts/bench-sound.sh\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.path() + "/state"));
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    const std::string tone = (home.path() + "/tone.wav").toStdString();
    if (!WriteTone(tone, kLoud, 0.4)) {
        return 1;
    }

    camsim::Camera camera;
    camera.setModel("SR981");
    camera.enablePictures();
    if (camera.startUsb(0).empty()) {
        std::fprintf(stderr, "no USB socket for the camera\n");
        return 1;
    }
    CTulkDlg window;
    window.show();
    window.findChild<QAbstractButton*>("m_chkUseUsb")->setChecked(true);
    window.findChild<QAbstractButton*>("btnConnect")->click();
    if (!g_bConnected) {
        std::fprintf(stderr, "no connection to the simulated camera\n");
        return 1;
    }
    auto* button = window.findChild<QAbstractButton*>("btnSoundTrigger");
    auto* slider = window.findChild<QSlider*>("m_sliderThreshold");

    PlainClient plain;
    if (!plain.Start()) {
        std::fprintf(stderr, "parec did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(500ms);

    std::vector<double> plainMs;
    std::vector<double> triggerMs;
    for (int i = 0; i < trials; ++i) {
        // The plain client hears the tone.
        plain.Arm();
        const auto t0 = Clock::now();
        const pid_t player = Spawn({"paplay", "--latency-msec=50", tone});
        Wait(player);
        Clock::time_point heard;
        for (int k = 0; k < 100 && !plain.Heard(&heard); ++k) {
            std::this_thread::sleep_for(5ms);
        }
        if (plain.Heard(&heard)) {
            plainMs.push_back(Ms(heard - t0));
        }
        std::this_thread::sleep_for(200ms);

        // The trigger: the wait runs, the tone is handed to the server.
        slider->setValue(kThreshold);
        const std::size_t before = camera.snapshotTimes().size();
        Clock::time_point started{};
        pid_t triggerPlayer = -1;
        QTimer::singleShot(300, &window, [&] {
            started = Clock::now();
            triggerPlayer = Spawn({"paplay", "--latency-msec=50", tone});
        });
        // Ends the wait if the tone was not heard.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &window, [button] { button->click(); });
        guard.start(5000);
        button->click();
        guard.stop();
        if (triggerPlayer > 0) {
            Wait(triggerPlayer);
        }
        const auto snaps = camera.snapshotTimes();
        if (snaps.size() == before + 1 && g_bSoundTriggered) {
            triggerMs.push_back(Ms(snaps.back() - started));
        }
        std::this_thread::sleep_for(200ms);
    }
    std::printf("sound trigger latency, %d trials (tone handed to the server -> ...)\n", trials);
    Report("plain capture client hears it", plainMs);
    Report("snapshot arrives at the camera", triggerMs);

    // Ten seconds of waiting with nothing loud enough.
    slider->setValue(32767);
    double windowCpu = 0;
    double captureCpu = 0;
    double processCpu = 0;
    double wall = 0;
    QTimer::singleShot(0, &window, [&] {
        windowCpu = -ThreadCpuSeconds();
        captureCpu = -NamedThreadCpuSeconds("tulk-sound");
        processCpu = -bench::ProcessCpuSeconds();
        wall = -bench::MonotonicSeconds();
        QTimer::singleShot(10000, &window, [&] {
            windowCpu += ThreadCpuSeconds();
            captureCpu += NamedThreadCpuSeconds("tulk-sound");
            processCpu += bench::ProcessCpuSeconds();
            wall += bench::MonotonicSeconds();
            button->click();
        });
    });
    button->click();
    std::printf(
        "CPU during a %.1f s wait, in %% of one core: window thread %.2f, capture thread %.2f, "
        "both %.2f; whole process (with the audio library's threads) %.2f\n",
        wall, 100 * windowCpu / wall, 100 * captureCpu / wall,
        100 * (windowCpu + captureCpu) / wall, 100 * processCpu / wall);
    return 0;
}
