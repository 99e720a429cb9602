// Downloads one picture from the simulated camera, which paces its bytes at
// the real line rate, and reports the transfer efficiency (the time the
// picture's bytes alone need at that rate over the measured time) and the
// processor time the host used per second of transfer.
//
// Usage: bench_download [bytes, default 1048576] [speeds..., default 115200 19200]
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/registers.h"
#include "sim/camsim.h"

namespace {

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const long size = argc > 1 ? std::atol(argv[1]) : 1048576;
    std::vector<long> speeds;
    for (int i = 2; i < argc; ++i) {
        speeds.push_back(std::atol(argv[i]));
    }
    if (speeds.empty()) {
        speeds = {115200, 19200};
    }
    char dir[] = "/tmp/tulk-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        return 1;
    }
    setenv("XDG_STATE_HOME", dir, 1);

    camsim::Bytes picture(static_cast<std::size_t>(size));
    for (long i = 0; i < size; ++i) {
        picture[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 31) ^ (i >> 7));
    }
    picture[0] = 0xFF;
    picture[1] = 0xD8;

    std::printf("%8s %10s %10s %10s %12s %18s\n", "baud", "bytes", "ideal s", "measured s",
                "efficiency", "host cpu %/s");
    for (const long speed : speeds) {
        camsim::Camera cam;
        const std::string device = cam.startSerial();
        setenv("TULK_COM1", device.c_str(), 1);
        cam.setData(C990_FRAMEDATA, picture);
        cam.setInt(C990_LENGTHFRAME, static_cast<std::int32_t>(size));
        camsim::Bytes summary(32, 0);
        summary[0] = size & 0xFF;
        summary[1] = (size >> 8) & 0xFF;
        summary[2] = (size >> 16) & 0xFF;
        summary[20] = 1;
        cam.setData(C990_PICSUMMARY, summary);
        g_iob = eph_open(1, speed);
        if (!g_iob) {
            std::fprintf(stderr, "could not open the link at %ld\n", speed);
            return 1;
        }
        cam.setPacing(true);
        const std::string file = std::string(dir) + "/picture.jpg";
        const double wall0 = seconds(CLOCK_MONOTONIC);
        const double cpu0 = seconds(CLOCK_THREAD_CPUTIME_ID);
        const int rc = DownloadPicture(g_iob, file.c_str(), 1);
        const double wall = seconds(CLOCK_MONOTONIC) - wall0;
        const double cpu = seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        cam.setPacing(false);
        eph_close(g_iob, 1);
        eph_free(g_iob);
        g_iob = nullptr;
        if (rc != 0) {
            std::fprintf(stderr, "download failed at %ld\n", speed);
            return 1;
        }
        const double ideal = static_cast<double>(size) * 10.0 / static_cast<double>(speed);
        std::printf("%8ld %10ld %10.2f %10.2f %12.4f %18.3f\n", speed, size, ideal, wall,
                    ideal / wall, cpu / wall * 100.0);
        unlink(file.c_str());
    }
    return 0;
}
