// The camera's side of the USB cable, as the fuzz input makes it up: the
// transfers that answer a getint, a getvar and a whole picture's download
// (its lengths, summary, transfer and save), through the link's own USB
// device, a packet socket that a scripted camera serves. Whatever the
// transfers, nothing may be read or written out of bounds, what the link
// returns is what the host acknowledged, a saved picture is exactly the
// bytes taken and no shorter than announced, a picture is saved whenever
// all of it came, a packet whose length or checksum fails is taken only as
// the same bytes again right after its refusal, and a picture that took any
// such packet is never called checked.
#include <algorithm>
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
#include "link/usb/usb_transport.h"
#include "log/activity_log.h"
#include "tests/fuzz/download_check.h"
#include "tests/fuzz/host_exchanges.h"
#include "tests/fuzz/host_trace.h"
#include "tests/fuzz/platform/usb_end.h"
#include "tests/fuzz/scripted_camera.h"

namespace fs = std::filesystem;

namespace {

struct Counts {
    long runs = 0;
    long getintTaken = 0;
    long getvarEnded = 0;
    long saved = 0;
    long savedChecked = 0;
    long savedDoubtful = 0;
    long tookFailing = 0;  // downloads that took a packet that fails
};

Counts g_counts;

void PrintCounts() {
    std::fprintf(stderr,
                 "fuzz_usb_link: %ld runs, getint taken %ld, getvar ended %ld, pictures saved %ld "
                 "(checked %ld, doubtful %ld), downloads that took a failing packet %ld\n",
                 g_counts.runs, g_counts.getintTaken, g_counts.getvarEnded, g_counts.saved,
                 g_counts.savedChecked, g_counts.savedDoubtful, g_counts.tookFailing);
}

// The open finds the camera by a setint that it acknowledges.
void OpenLink(eph_iob* iob) {
    PlayScript({Reply{{Bytes{0x06}}}});
    if (open_usb(iob) != 0) {
        std::abort();
    }
}

struct Rig {
    FuzzUsbEnd end;
    eph_iob* iob = nullptr;
    fs::path pictures;
};

Rig& TheRig() {
    static Rig rig = [] {
        Rig r;
        const std::string folder = MakePrivateFolder("tulk-fuzz-usb-");
        if (folder.empty() || !MakeFolder(folder + "/run") || !MakeFolder(folder + "/pictures") ||
            !ListenFuzzUsb(&r.end, folder + "/run")) {
            std::abort();
        }
        r.pictures = fs::path(folder) / "pictures";
        setenv("XDG_RUNTIME_DIR", (folder + "/run").c_str(), 1);
        setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
        SetMessageBoxHook([](const char*, const char*, int) { return IDOK; });
        // A transfer that is not there ends its wait at the first look.
        link_set_longest_silence(std::chrono::microseconds(500));
        ServeUsbScript(&r.end);
        r.iob = eph_new(nullptr, nullptr, TraceProgress, nullptr, 0);
        if (!r.iob) {
            std::abort();
        }
        OpenLink(r.iob);
        std::atexit(PrintCounts);
        return r;
    }();
    return rig;
}

void CheckGetint(int status, std::int32_t value, std::size_t from, std::size_t to) {
    const auto steps = HostSteps(HostTrace(), from, to, true);
    const IntTaken taken = GetintTaken(steps, C990_LENGTHFRAME, true);
    Require(taken.fault.empty(), taken.fault, steps);
    Require((status == 0) == taken.taken,
            "getint returned " + std::to_string(status) + (taken.taken ? " after" : " without") +
                " acknowledging a value",
            steps);
    Require(status != 0 || value == taken.value,
            "getint returned " + std::to_string(value) + ", not the value it acknowledged", steps);
    g_counts.getintTaken += status == 0 ? 1 : 0;
}

void CheckGetvar(int status, const unsigned char* buffer, long length, std::size_t from,
                 std::size_t to) {
    const auto steps = HostSteps(HostTrace(), from, to, true);
    const VarTaken taken = GetvarTaken(steps, C990_FRAMENAME, true);
    Require(taken.fault.empty(), taken.fault, steps);
    Require((status == 0) == taken.ended,
            "getvar returned " + std::to_string(status) + (taken.ended ? " after" : " without") +
                " acknowledging its last packet",
            steps);
    Require(status != 0 || (length == static_cast<long>(taken.data.size()) &&
                            std::equal(taken.data.begin(), taken.data.end(), buffer)),
            "getvar returned other bytes than those it took", steps);
    g_counts.getvarEnded += status == 0 ? 1 : 0;
}

// Puts the link back as a new input expects it: open again after the
// camera went away, transfers still waiting dropped, and the link's copy of
// a refused transfer forgotten, which only a drain does (it takes the time
// of one empty read, so only when a transfer that fails came).
void StartAfresh(eph_iob* iob, bool failingCame) {
    if (HungUp()) {
        eph_close(iob, 0);
        OpenLink(iob);
    }
    if (failingCame) {
        eph_drain(iob);
        return;
    }
    Bytes dropped(kUsbMaxTransfer);
    unsigned got = 0;
    while (UntracedUsbRead(g_hUsb, dropped.data(), kUsbMaxTransfer, &got, 0)) {
    }
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
    std::lock_guard lock(LinkLock());
    auto& trace = HostTrace();
    trace.clear();
    PlayScript(ParseReplies(data, size));
    g_counts.runs += 1;

    std::int32_t value = 0;
    int status = eph_getint(rig.iob, C990_LENGTHFRAME, &value);
    const std::size_t afterGetint = trace.size();
    if (afterGetint == 0 || trace.front().kind != TraceEvent::Write) {
        std::fputs("the link's device calls are not traced\n", stderr);
        std::abort();
    }
    CheckGetint(status, value, 0, afterGetint);

    long length = 2048;
    auto* buffer = static_cast<unsigned char*>(rig.iob->realloc_cb(nullptr, length));
    status = eph_getvar(rig.iob, C990_FRAMENAME, &buffer, &length);
    const std::size_t afterGetvar = trace.size();
    CheckGetvar(status, buffer, length, afterGetint, afterGetvar);
    rig.iob->realloc_cb(buffer, 0);

    const fs::path file = rig.pictures / "DSCN0001.JPG";
    status = DownloadPicture(rig.iob, file.c_str(), 1);
    const DownloadFindings found =
        CheckDownload(status, rig.pictures, file, afterGetvar, trace.size(), true);
    g_counts.saved += found.saved ? 1 : 0;
    g_counts.savedChecked += found.saved && found.checked ? 1 : 0;
    g_counts.savedDoubtful += found.saved && !found.checked ? 1 : 0;
    g_counts.tookFailing += found.tookFailingPacket ? 1 : 0;

    const auto steps = HostSteps(trace, 0, trace.size(), true);
    Require(TakenOnlyAsRepeats(steps).empty(), TakenOnlyAsRepeats(steps), steps);

    bool failingCame = false;
    for (const TraceEvent& event : trace) {
        const Packet packet = PacketOf(event.bytes);
        failingCame =
            failingCame || (event.kind == TraceEvent::Read && packet.isPacket && !packet.holds);
    }
    fs::remove(file);
    StartAfresh(rig.iob, failingCame);
    return 0;
}
