// Runs the window's time lapse at a Delay of 1000 ms against the simulated
// camera until it has taken the pictures asked for, and reports from the
// camera's record of when each snapshot was asked for: the mean interval,
// its standard deviation, the worst deviation from 1000 ms, and the ticks
// the window itself counted as dropped.
//
// Usage: bench_timelapse [pictures, default 31] [usb|serial, default usb]
//                        [snapshot time in ms, default 200] [quiet|loaded]
//        bench_timelapse all [pictures, default 31] [snapshot time in ms]
// "all" runs serial at 115200 and USB, each on a quiet machine and then
// with two busy processes beside it, one after the other in this run, and
// prints them side by side. "loaded" starts the two busy processes (this
// program again, spinning) just before the time lapse starts and kills them
// once it has stopped. Over the serial line the camera sends at the real
// line rate, as a real one does.
// The window runs on Qt's offscreen platform unless QT_QPA_PLATFORM says.
#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "bench/bench_util.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "sim/camsim.h"

namespace {

constexpr int kDelay = 1000;
constexpr int kBusyChildren = 2;
constexpr const char* kSpinArgument = "--spin";

struct Config {
    bool serial = false;
    bool loaded = false;
    std::string Name() const {
        return std::string(serial ? "serial 115200" : "USB") + (loaded ? " loaded" : " quiet");
    }
};

struct Result {
    bool ok = false;
    std::size_t pictures = 0;
    std::size_t intervals = 0;
    double mean = 0;
    double stddev = 0;
    double worst = 0;
    long dropped = 0;
    // Cores the busy children kept busy meanwhile (0 on a quiet run).
    double busyCores = 0;
};

// Runs the window's event loop (so that it sleeps when it has nothing to
// do) until the condition holds or the time is up.
template <typename Condition>
void RunUntil(Condition condition, qint64 allowedMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer::singleShot(allowedMs, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!condition()) {
        loop.exec();
    }
}

Result Run(const Config& config, int pictures, int snapshotMs) {
    Result result;
    camsim::Camera camera;
    camera.setModel("SR981");
    camera.generatePictures(1, 64, 48);
    camera.setSnapshotSize(320, 240);
    camera.setActionTime(C990_C2_SNAPSHOT, std::chrono::milliseconds(snapshotMs));
    if (config.serial) {
        const std::string tty = camera.startSerial();
        if (tty.empty()) {
            std::fprintf(stderr, "bench_timelapse: no pseudo-terminal\n");
            return result;
        }
        camera.setPacing(true);
        qputenv("TULK_COM1", QByteArray::fromStdString(tty));
        std::int32_t port = 1;
        std::int32_t speed = 5;
        SettingDword("SerialPort", &port, 1);
        SettingDword("SerialSpeed", &speed, 1);
    } else if (camera.startUsb(0).empty()) {
        std::fprintf(stderr, "bench_timelapse: the USB socket did not start\n");
        return result;
    }

    auto window = std::make_unique<CTulkDlg>();
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->findChild<QAbstractButton*>("m_chkUseUsb")->setChecked(!config.serial);
    window->findChild<QAbstractButton*>("btnConnect")->click();
    if (!g_bConnected) {
        std::fprintf(stderr, "bench_timelapse: Connect failed (%s)\n", config.Name().c_str());
        return result;
    }
    window->findChild<QLineEdit*>("m_editDelay")->setText(QString::number(kDelay));

    bench::BusyChildren busy;
    if (config.loaded) {
        if (!busy.Start(kBusyChildren, kSpinArgument)) {
            std::fprintf(stderr, "bench_timelapse: the busy processes did not start\n");
            return result;
        }
        // Let them reach the processor before the first interval begins.
        RunUntil([] { return false; }, 200);
    }
    camera.clearRecord();
    const std::size_t before = camera.snapshotTimes().size();
    window->findChild<QAbstractButton*>("btnRunTimeLapse")->click();
    RunUntil(
        [&] {
            return camera.snapshotTimes().size() >= before + static_cast<std::size_t>(pictures);
        },
        static_cast<qint64>(pictures + 10) * kDelay * 2);
    window->findChild<QAbstractButton*>("btnStopTimeLapse")->click();
    result.busyCores = busy.Stop();
    result.dropped = window->DroppedTicks();
    window.reset();

    const auto all = camera.snapshotTimes();
    const std::vector<std::chrono::steady_clock::time_point> times(
        all.begin() + static_cast<long>(before), all.end());
    result.pictures = times.size();
    if (times.size() < 2) {
        std::fprintf(stderr, "bench_timelapse: only %zu pictures taken (%s)\n", times.size(),
                     config.Name().c_str());
        return result;
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < times.size(); ++i) {
        intervals.push_back(
            std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    }
    double sum = 0;
    for (double v : intervals) {
        sum += v;
        result.worst = std::max(result.worst, std::fabs(v - kDelay));
    }
    result.intervals = intervals.size();
    result.mean = sum / static_cast<double>(intervals.size());
    double squares = 0;
    for (double v : intervals) {
        squares += (v - result.mean) * (v - result.mean);
    }
    result.stddev = std::sqrt(squares / static_cast<double>(intervals.size()));
    result.ok = true;
    return result;
}

void PrintHeader(int pictures, int snapshotMs) {
    std::printf("time lapse, Delay %d ms, snapshot %d ms, %d pictures asked for each\n", kDelay,
                snapshotMs, pictures);
    std::printf("%-22s %9s %10s %9s %10s %8s %11s\n", "configuration", "intervals", "mean ms",
                "sd ms", "worst ms", "dropped", "busy cores");
}

void PrintRow(const Config& config, const Result& r) {
    if (!r.ok) {
        std::printf("%-22s (no result: %zu pictures taken)\n", config.Name().c_str(), r.pictures);
        return;
    }
    std::printf("%-22s %9zu %10.2f %9.2f %10.2f %8ld %11.2f\n", config.Name().c_str(), r.intervals,
                r.mean, r.stddev, r.worst, r.dropped, r.busyCores);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kSpinArgument) == 0) {
        bench::Spin();
    }
    const bool all = argc > 1 && std::strcmp(argv[1], "all") == 0;
    const int first = all ? 2 : 1;
    const int pictures = argc > first ? std::max(2, std::atoi(argv[first])) : 31;
    int snapshotMs = 200;
    std::vector<Config> configs;
    if (all) {
        if (argc > 3) {
            snapshotMs = std::atoi(argv[3]);
        }
        configs = {{true, false}, {true, true}, {false, false}, {false, true}};
    } else {
        Config config;
        config.serial = argc > 2 && std::strcmp(argv[2], "serial") == 0;
        if (argc > 3) {
            snapshotMs = std::atoi(argv[3]);
        }
        config.loaded = argc > 4 && std::strcmp(argv[4], "loaded") == 0;
        configs = {config};
    }

    QTemporaryDir home;
    bench::UseHome(home);
    QApplication app(argc, argv);
    bench::QuietOffscreen();

    PrintHeader(pictures, snapshotMs);
    std::fflush(stdout);
    std::vector<Result> results;
    bool ok = true;
    for (const Config& config : configs) {
        results.push_back(Run(config, pictures, snapshotMs));
        PrintRow(config, results.back());
        std::fflush(stdout);
        ok = ok && results.back().ok;
    }
    // Loaded against quiet on the same cable, both measured in this run.
    for (std::size_t i = 0; i + 1 < configs.size(); ++i) {
        const Result& quiet = results[i];
        const Result& loaded = results[i + 1];
        if (configs[i].loaded || !configs[i + 1].loaded ||
            configs[i].serial != configs[i + 1].serial || !quiet.ok || !loaded.ok) {
            continue;
        }
        std::printf("%s: worst deviation loaded / quiet %.2f, sd loaded / quiet %.2f\n",
                    configs[i].serial ? "serial 115200" : "USB",
                    quiet.worst > 0 ? loaded.worst / quiet.worst : 0.0,
                    quiet.stddev > 0 ? loaded.stddev / quiet.stddev : 0.0);
    }
    return ok ? 0 : 1;
}
