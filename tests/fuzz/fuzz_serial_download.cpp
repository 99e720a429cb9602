// A whole picture's download on the serial line, the camera's side made up
// by the fuzz input one reply per unit the host writes: the lengths, the
// summary, the transfer and the save. Whatever the bytes, nothing may be
// read or written out of bounds, the host acknowledges only whole packets
// whose length and checksum hold, a saved picture is exactly the bytes it
// took and no shorter than announced, a picture is saved whenever all of it
// came, and a saved picture is always checked (the serial line takes no
// packet on a repeat).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "tests/fuzz/download_check.h"
#include "tests/fuzz/host_trace.h"
#include "tests/fuzz/platform/pty.h"
#include "tests/fuzz/platform/usb_end.h"
#include "tests/fuzz/scripted_camera.h"

namespace fs = std::filesystem;

namespace {

struct Counts {
    long runs = 0;
    long lengthsTaken = 0;
    long transfersEnded = 0;
    long saved = 0;
    long savedChecked = 0;
};

Counts g_counts;

void PrintCounts() {
    std::fprintf(stderr,
                 "fuzz_serial_download: %ld runs, lengths taken %ld, transfers ended %ld, "
                 "pictures saved %ld (checked %ld)\n",
                 g_counts.runs, g_counts.lengthsTaken, g_counts.transfersEnded, g_counts.saved,
                 g_counts.savedChecked);
}

struct Rig {
    FuzzLine line;
    eph_iob* iob = nullptr;
    fs::path pictures;
};

Rig& TheRig() {
    static Rig rig = [] {
        Rig r;
        const std::string folder = MakePrivateFolder("tulk-fuzz-serial-");
        if (folder.empty() || !MakeFolder(folder + "/pictures") || !OpenFuzzLine(&r.line)) {
            std::abort();
        }
        r.pictures = fs::path(folder) / "pictures";
        setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
        SetMessageBoxHook([](const char*, const char*, int) { return IDOK; });
        // A reply that is not there ends its wait at once.
        link_set_longest_silence(std::chrono::microseconds(500));
        ServeSerialScript(&r.line);
        r.iob = eph_new(nullptr, nullptr, TraceProgress, nullptr, 0);
        if (!r.iob) {
            std::abort();
        }
        r.iob->port = r.line.host;
        r.iob->data_timeout = 2066660;
        std::atexit(PrintCounts);
        return r;
    }();
    return rig;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

// libFuzzer's own mutations, then packets shaped as cameras send them.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
    return ShapeMutatedPackets(data, LLVMFuzzerMutate(data, size, maxSize), maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& rig = TheRig();
    DrainToHost(rig.line);
    DrainFromHost(rig.line);
    HostTrace().clear();
    PlayScript(ParseReplies(data, size));
    g_counts.runs += 1;

    const fs::path file = rig.pictures / "DSCN0001.JPG";
    const int status = DownloadPicture(rig.iob, file.c_str(), 1);
    if (HostTrace().empty() || HostTrace().front().kind != TraceEvent::Write) {
        std::fputs("the link's device calls are not traced\n", stderr);
        std::abort();
    }
    const DownloadFindings found =
        CheckDownload(status, rig.pictures, file, 0, HostTrace().size(), false);
    g_counts.lengthsTaken += found.lengthsTaken ? 1 : 0;
    g_counts.transfersEnded += found.transferEnded ? 1 : 0;
    g_counts.saved += found.saved ? 1 : 0;
    g_counts.savedChecked += found.saved && found.checked ? 1 : 0;
    fs::remove(file);
    return 0;
}
