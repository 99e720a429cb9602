// Runs the window's time lapse at a Delay of 1000 ms against the simulated
// camera until it has taken the pictures asked for, and reports from the
// camera's record of when each snapshot was asked for: the mean interval,
// its standard deviation and the worst deviation from 1000 ms.
//
// Usage: bench_timelapse [pictures, default 30] [usb|serial, default usb]
//        [snapshot time in ms, default 200]
// The window runs on Qt's offscreen platform unless QT_QPA_PLATFORM says.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Settings.h"
#include "TulkDlg.h"
#include "TulkState.h"
#include "camsim.h"
#include "eph.h"
#include "registers.h"

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const bool serial = argc > 2 && std::strcmp(argv[2], "serial") == 0;
    const int snapshotMs = argc > 3 ? std::atoi(argv[3]) : 200;
    constexpr int kDelay = 1000;

    // Settings, log and sockets of its own, never the user's.
    QTemporaryDir home;
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
    QApplication app(argc, argv);

    camsim::Camera camera;
    camera.setModel("SR981");
    camera.generatePictures(1, 64, 48);
    camera.setSnapshotSize(320, 240);
    camera.setActionTime(C990_C2_SNAPSHOT, std::chrono::milliseconds(snapshotMs));
    std::string tty;
    if (serial) {
        tty = camera.startSerial();
        qputenv("TULK_COM1", QByteArray::fromStdString(tty));
        std::int32_t port = 1;
        std::int32_t speed = 5;
        SettingDword("SerialPort", &port, 1);
        SettingDword("SerialSpeed", &speed, 1);
    } else if (camera.startUsb(0).empty()) {
        std::fprintf(stderr, "bench_timelapse: the USB socket did not start\n");
        return 1;
    }

    auto window = std::make_unique<CTulkDlg>();
    window->show();
    window->findChild<QAbstractButton*>("m_chkUseUsb")->setChecked(!serial);
    window->findChild<QAbstractButton*>("btnConnect")->click();
    if (!g_bConnected) {
        std::fprintf(stderr, "bench_timelapse: Connect failed\n");
        return 1;
    }
    window->findChild<QLineEdit*>("m_editDelay")->setText(QString::number(kDelay));
    camera.clearRecord();
    const std::size_t before = camera.snapshotTimes().size();
    window->findChild<QAbstractButton*>("btnRunTimeLapse")->click();
    QElapsedTimer limit;
    limit.start();
    const qint64 allowed = static_cast<qint64>(pictures + 10) * kDelay * 2;
    while (camera.snapshotTimes().size() < before + static_cast<std::size_t>(pictures) &&
           limit.elapsed() < allowed) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    window->findChild<QAbstractButton*>("btnStopTimeLapse")->click();
    window.reset();

    const auto all = camera.snapshotTimes();
    const std::vector<std::chrono::steady_clock::time_point> times(
        all.begin() + static_cast<long>(before), all.end());
    if (times.size() < 2) {
        std::fprintf(stderr, "bench_timelapse: only %zu pictures taken\n", times.size());
        return 1;
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < times.size(); ++i) {
        intervals.push_back(
            std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    }
    double sum = 0;
    double worst = 0;
    for (double v : intervals) {
        sum += v;
        worst = std::max(worst, std::fabs(v - kDelay));
    }
    const double mean = sum / static_cast<double>(intervals.size());
    double squares = 0;
    for (double v : intervals) {
        squares += (v - mean) * (v - mean);
    }
    const double stddev = std::sqrt(squares / static_cast<double>(intervals.size()));
    std::printf("time lapse, Delay %d ms, %s, snapshot %d ms: %zu pictures, %zu intervals\n",
                kDelay, serial ? "serial 115200" : "USB", snapshotMs, times.size(),
                intervals.size());
    std::printf("mean interval %.2f ms, standard deviation %.2f ms, worst deviation %.2f ms\n",
                mean, stddev, worst);
    return 0;
}
