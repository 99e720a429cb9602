// The processor time the whole controller uses during a serial Get All Files
// at 115200 baud, side by side with the transfer's own: the same pictures
// downloaded by the link and camera operations alone.
//
// The camera is a separate process (tulk-camsim --serial --pace, which sends
// at the real line rate), so that this process holds nothing but the
// controller and getrusage(RUSAGE_SELF) is the controller's figure:
//   (a) the window on Qt's offscreen platform, connected on COM1 at speed
//       position 5 (115200) and Get All Files clicked, from the click until
//       the Downloading window is hidden and no download is running;
//   (b) DownloadPicture for every picture in a loop on a thread of its own,
//       over a link opened at 115200, as bench_download does.
// Each gets a fresh simulator with the same pictures. Reported: processor
// time (user + system) over wall time as percent of one core, and (a)/(b).
//
// Usage: bench_getall_cpu [pictures, default 8] [path of tulk-camsim]
// A 640 x 480 picture of the simulator is some 40 kB, about 4 s at 115200.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "bench/bench_util.h"
#include "camera/camera_ops.h"
#include "camera/download.h"
#include "link/eph.h"

namespace {

constexpr long kBaud = 115200;
constexpr std::int32_t kSpeedPosition = 5;  // 115200 in Serial Setup's list

// One tulk-camsim process serving a pseudo-terminal.
class Simulator {
public:
    Simulator() = default;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() { Stop(); }

    // Starts it and reads the terminal's path from its first line; false
    // (with why on standard error) when it does not come within 10 s.
    bool Start(const std::string& program, int pictures) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::string generate = "--generate=" + std::to_string(pictures);
        std::string path = program;
        char serial[] = "--serial";
        char pace[] = "--pace";
        char* argv[] = {path.data(), serial, pace, generate.data(), nullptr};
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            std::fprintf(stderr, "bench_getall_cpu: cannot start %s: %s\n", program.c_str(),
                         std::strerror(rc));
            close(out[0]);
            pid_ = -1;
            return false;
        }
        output_ = out[0];
        const std::string prefix = "tulk-camsim: serving serial on ";
        std::string line;
        const double giveUp = bench::MonotonicSeconds() + 10;
        while (line.find('\n') == std::string::npos && bench::MonotonicSeconds() < giveUp) {
            pollfd p{output_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(n));
        }
        const auto end = line.find('\n');
        if (end == std::string::npos || line.compare(0, prefix.size(), prefix) != 0) {
            std::fprintf(stderr, "bench_getall_cpu: tulk-camsim said '%s'\n", line.c_str());
            return false;
        }
        tty_ = line.substr(prefix.size(), end - prefix.size());
        started_ = bench::MonotonicSeconds();
        return true;
    }
    const std::string& Tty() const { return tty_; }
    // Ends it by its pid and returns its own processor time over its life,
    // as percent of one core.
    double Stop() {
        if (pid_ <= 0) {
            return 0;
        }
        const double wall = bench::MonotonicSeconds() - started_;
        kill(pid_, SIGTERM);
        int status = 0;
        rusage usage{};
        double cpu = 0;
        if (wait4(pid_, &status, 0, &usage) == pid_) {
            cpu = bench::Seconds(usage.ru_utime) + bench::Seconds(usage.ru_stime);
        }
        pid_ = -1;
        close(output_);
        output_ = -1;
        return wall > 0 ? cpu / wall * 100.0 : 0;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string tty_;
    double started_ = 0;
};

// Processor seconds of each thread of this process, by thread id.
std::map<long, double> ThreadCpu() {
    std::map<long, double> threads;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* dir = opendir("/proc/self/task");
    if (!dir) {
        return threads;
    }
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string path = std::string("/proc/self/task/") + entry->d_name + "/stat";
        std::FILE* file = std::fopen(path.c_str(), "r");
        if (!file) {
            continue;
        }
        char text[1024] = {};
        const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[n] = 0;
        // The fields after the name, which is in parentheses and may hold
        // spaces: state is field 3, utime 14 and stime 15.
        const char* after = std::strrchr(text, ')');
        if (!after) {
            continue;
        }
        char state = 0;
        unsigned long long skip = 0;
        unsigned long long user = 0;
        unsigned long long system = 0;
        if (std::sscanf(after + 1,
                        " %c %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &state,
                        &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &user,
                        &system) == 13) {
            threads[std::atol(entry->d_name)] = static_cast<double>(user + system) / tick;
        }
    }
    closedir(dir);
    return threads;
}

struct Measurement {
    bool ok = false;
    int pictures = 0;
    long long bytes = 0;
    double wall = 0;
    double cpu = 0;
    double simulatorPercent = 0;
    double Percent() const { return wall > 0 ? cpu / wall * 100.0 : 0; }
};

// The pictures in the folder and their bytes.
void CountFiles(const QString& folder, Measurement& m) {
    m.pictures = 0;
    m.bytes = 0;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files)) {
        ++m.pictures;
        m.bytes += file.size();
    }
}

// Runs the window's event loop until the condition holds or the time is
// up. The condition is looked at when a watched object is hidden and, should
// that be missed, every quarter second: polling more often would put the
// bench's own wake-ups into the window thread's figure.
template <typename Condition>
void RunUntil(Condition condition, qint64 allowedMs, QObject* watched = nullptr) {
    QEventLoop loop;
    struct HideFilter : QObject {
        std::function<void()> onHide;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Hide) {
                onHide();
            }
            return false;
        }
    } filter;
    filter.onHide = [&] {
        if (condition()) {
            loop.quit();
        }
    };
    if (watched) {
        watched->installEventFilter(&filter);
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, filter.onHide);
    QTimer::singleShot(allowedMs, &loop, &QEventLoop::quit);
    poll.start(250);
    if (!condition()) {
        loop.exec();
    }
    if (watched) {
        watched->removeEventFilter(&filter);
    }
}

Measurement WindowGetAll(const std::string& camsim, int pictures, const QString& folder,
                         std::map<long, double>* threadSeconds) {
    Measurement m;
    Simulator simulator;
    if (!simulator.Start(camsim, pictures)) {
        return m;
    }
    qputenv("TULK_COM1", QByteArray::fromStdString(simulator.Tty()));
    std::int32_t port = 1;
    std::int32_t speed = kSpeedPosition;
    std::string saveFolder = folder.toStdString();
    SettingDword("SerialPort", &port, 1);
    SettingDword("SerialSpeed", &speed, 1);
    SettingString("SaveFolder", &saveFolder, 1);

    auto window = std::make_unique<CTulkDlg>();
    // As the program runs it (exec): modal over the whole program.
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->findChild<QAbstractButton*>("m_chkUseUsb")->setChecked(false);
    window->findChild<QAbstractButton*>("btnConnect")->click();
    if (!g_bConnected) {
        std::fprintf(stderr, "bench_getall_cpu: Connect failed on %s\n", simulator.Tty().c_str());
        return m;
    }
    // What the connection left behind (paints, counters) is not the
    // download's.
    RunUntil([] { return false; }, 500);

    const auto downloadingHidden = [&window] {
        const auto* downloading = window->findChild<QDialog*>("IDD_DOWNLOADING");
        return downloading && !downloading->isVisible();
    };
    const std::map<long, double> threadsBefore = ThreadCpu();
    const double cpu0 = bench::ProcessCpuSeconds();
    const double wall0 = bench::MonotonicSeconds();
    window->findChild<QAbstractButton*>("btnGetAllFiles")->click();
    // Well beyond the line's own time for the pictures, should one stall.
    RunUntil([&] { return downloadingHidden() && g_bDownloading.load() == 0; },
             static_cast<qint64>(pictures) * 30000 + 60000,
             window->findChild<QDialog*>("IDD_DOWNLOADING"));
    m.wall = bench::MonotonicSeconds() - wall0;
    m.cpu = bench::ProcessCpuSeconds() - cpu0;
    const bool finished = downloadingHidden() && g_bDownloading.load() == 0;
    for (const auto& [tid, seconds] : ThreadCpu()) {
        const auto before = threadsBefore.find(tid);
        (*threadSeconds)[tid] = seconds - (before == threadsBefore.end() ? 0 : before->second);
    }
    window.reset();
    m.simulatorPercent = simulator.Stop();
    CountFiles(folder, m);
    m.ok = finished && m.pictures == pictures;
    if (!m.ok) {
        std::fprintf(stderr, "bench_getall_cpu: Get All Files %s with %d of %d pictures\n",
                     finished ? "ended" : "did not end", m.pictures, pictures);
    }
    return m;
}

Measurement LinkAlone(const std::string& camsim, int pictures, const QString& folder) {
    Measurement m;
    Simulator simulator;
    if (!simulator.Start(camsim, pictures)) {
        return m;
    }
    qputenv("TULK_COM1", QByteArray::fromStdString(simulator.Tty()));
    const std::string dir = folder.toStdString();
    int downloaded = 0;
    // The camera thread's part, on a thread that is not the window's, as
    // the controller runs it.
    std::thread worker([&] {
        eph_iob* iob = eph_open(1, kBaud);
        if (!iob) {
            std::fprintf(stderr, "bench_getall_cpu: could not open the link at %ld\n", kBaud);
            return;
        }
        const double cpu0 = bench::ProcessCpuSeconds();
        const double wall0 = bench::MonotonicSeconds();
        for (int number = 1; number <= pictures; ++number) {
            char name[32];
            std::snprintf(name, sizeof name, "/dscn%04d.jpg", number);
            if (DownloadPicture(iob, (dir + name).c_str(), number) == 0) {
                ++downloaded;
            }
        }
        m.wall = bench::MonotonicSeconds() - wall0;
        m.cpu = bench::ProcessCpuSeconds() - cpu0;
        eph_close(iob, 1);
        eph_free(iob);
    });
    worker.join();
    m.simulatorPercent = simulator.Stop();
    CountFiles(folder, m);
    m.ok = downloaded == pictures && m.pictures == pictures;
    if (!m.ok) {
        std::fprintf(stderr, "bench_getall_cpu: the link alone downloaded %d of %d pictures\n",
                     downloaded, pictures);
    }
    return m;
}

void PrintRow(const char* what, const Measurement& m) {
    const double ideal = static_cast<double>(m.bytes) * 10.0 / static_cast<double>(kBaud);
    std::printf("%-26s %8d %9lld %8.2f %8.2f %8.3f %12.2f %11.2f\n", what, m.pictures, m.bytes,
                ideal, m.wall, m.cpu, m.Percent(), m.simulatorPercent);
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    const std::string camsim = argc > 2 ? argv[2] : TULK_CAMSIM;

    QTemporaryDir home;
    bench::UseHome(home);
    QApplication app(argc, argv);
    bench::QuietOffscreen();

    QTemporaryDir windowFolder;
    QTemporaryDir linkFolder;
    std::map<long, double> threadSeconds;
    const Measurement window = WindowGetAll(camsim, pictures, windowFolder.path(), &threadSeconds);
    const Measurement link = LinkAlone(camsim, pictures, linkFolder.path());

    std::printf("Get All Files, serial %ld baud, camera: tulk-camsim --pace in its own process\n",
                kBaud);
    std::printf("%-26s %8s %9s %8s %8s %8s %12s %11s\n", "measurement", "pictures", "bytes",
                "ideal s", "wall s", "cpu s", "cpu % core", "camsim %");
    PrintRow("(a) window Get All Files", window);
    PrintRow("(b) DownloadPicture loop", link);
    if (window.ok && link.ok && link.Percent() > 0) {
        std::printf("ratio (a)/(b) of cpu %% of one core: %.2f\n",
                    window.Percent() / link.Percent());
    }
    std::printf("(a) by thread (cpu s over the Get All Files; %ld is the window thread):\n",
                static_cast<long>(getpid()));
    for (const auto& [tid, seconds] : threadSeconds) {
        if (seconds > 0) {
            std::printf("  thread %ld: %.2f s, %.2f %% of one core\n", tid, seconds,
                        window.wall > 0 ? seconds / window.wall * 100.0 : 0.0);
        }
    }
    return window.ok && link.ok ? 0 : 1;
}
