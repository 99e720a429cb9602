// The camera's side of the serial line, as the fuzzer makes it up: every
// byte the host reads in answer to its register commands and to a picture's
// download. Nothing may crash, leak or reserve memory on the camera's word,
// and a download either leaves the whole announced picture or no file.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "tests/fuzz/platform/pty.h"

namespace fs = std::filesystem;

namespace {

struct Rig {
    FuzzLine line;
    eph_iob* iob = nullptr;
    fs::path folder;
};

Rig& TheRig() {
    static Rig rig = [] {
        Rig r;
        char pattern[] = "/tmp/tulk-fuzz-link-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made || !OpenFuzzLine(&r.line)) {
            std::abort();
        }
        r.folder = made;
        setenv("XDG_STATE_HOME", (r.folder / "state").c_str(), 1);
        SetMessageBoxHook([](const char*, const char*, int) { return IDOK; });
        // A reply that is not there ends its wait at once.
        link_set_longest_silence(std::chrono::microseconds(500));
        r.iob = eph_new(nullptr, nullptr, nullptr, nullptr, 0);
        if (!r.iob) {
            std::abort();
        }
        r.iob->port = r.line.host;
        r.iob->data_timeout = 2066660;
        return r;
    }();
    return rig;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& rig = TheRig();
    DrainToHost(rig.line);
    SendToHost(rig.line, data, static_cast<long>(size));
    std::lock_guard lock(LinkLock());
    std::int32_t value = 0;
    eph_getint(rig.iob, C990_LENGTHFRAME, &value);
    DrainFromHost(rig.line);
    eph_setint(rig.iob, C990_CURRENTFRAME, 1);
    DrainFromHost(rig.line);
    long length = 2048;
    auto* buffer = static_cast<unsigned char*>(rig.iob->realloc_cb(nullptr, length));
    eph_getvar(rig.iob, C990_FRAMENAME, &buffer, &length);
    rig.iob->realloc_cb(buffer, 0);
    DrainFromHost(rig.line);
    const unsigned char none = 0;
    eph_action(rig.iob, ERASELAST, &none, 1);
    DrainFromHost(rig.line);
    const fs::path file = rig.folder / "DSCN0001.JPG";
    const int status = DownloadPicture(rig.iob, file.c_str(), 1);
    DrainFromHost(rig.line);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(rig.folder)) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    // A failed download leaves nothing; a good one leaves the picture and
    // no temporary file.
    if (files != (status == 0 ? 1 : 0) || (status == 0 && !fs::exists(file))) {
        std::abort();
    }
    fs::remove(file);
    return 0;
}
