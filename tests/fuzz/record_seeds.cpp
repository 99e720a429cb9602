// Makes the seed corpora of fuzz_usb_link and fuzz_serial_download from
// real downloads: the camera simulator serves a small picture, the host
// runs what the target runs, and what the host read after each unit it wrote
// becomes that unit's reply (host_trace.h), so that each seed takes the
// target to a saved picture. Some downloads run with the simulator's faults,
// so that the seeds also reach a refused packet taken again, a doubtful
// picture on USB and a length taken from the summary.
//
// Usage: fuzz_record_seeds <corpus folder> (tests/fuzz/corpus); exits 1 when
// a download does not save the picture the camera holds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "camera/download.h"
#include "camera/registers.h"
#include "link/eph.h"
#include "log/activity_log.h"
#include "sim/camsim.h"
#include "tests/fuzz/camera_replies.h"
#include "tests/fuzz/host_exchanges.h"
#include "tests/fuzz/host_trace.h"
#include "tests/fuzz/platform/usb_end.h"
#include "tests/fuzz/scripted_camera.h"

namespace fs = std::filesystem;

namespace {

// Small enough that a seed stays within the fuzzers' longest input (4096
// bytes), in packets small enough that a picture takes several.
constexpr int kWidth = 24;
constexpr int kHeight = 16;
constexpr int kPacket = 200;

struct Seed {
    const char* name;
    bool usb;
    // Sets the camera up before the host opens it.
    std::function<void(camsim::Camera&)> setUp;
    // Faults, given once the link is open, so that the open's own exchanges
    // do not take them.
    std::function<void(camsim::Camera&)> faults;
    // Faults given as the host selects the picture for its transfer, after
    // the summary: the next packet the camera sends is the transfer's first.
    std::function<void(camsim::Camera&)> transferFaults;
    // What the saved picture must be: checked or not.
    bool checked;
    // Also a seed of the same download with the picture's length announced
    // one byte longer than it comes.
    bool shorterToo = false;
};

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AddPicture(camsim::Camera& camera) {
    camera.setMaxPacket(kPacket);
    camera.generatePictures(1, kWidth, kHeight);
}

void NoFaults(camsim::Camera&) {}

// The host write hook that gives the transfer's faults.
struct TransferFaults {
    camsim::Camera* camera = nullptr;
    const Seed* seed = nullptr;
    HostUnits units;
    bool summaryAsked = false;
    bool given = false;
};

TransferFaults g_transferFaults;

void GiveTransferFaults(const unsigned char* data, std::size_t count) {
    TransferFaults& t = g_transferFaults;
    std::vector<Bytes> units;
    t.units.feed(data, count, &units);
    for (const Bytes& unit : units) {
        t.summaryAsked = t.summaryAsked || IsCommand(unit, 4, C990_PICSUMMARY);
        if (t.summaryAsked && !t.given && IsCommand(unit, 0, C990_CURRENTFRAME)) {
            t.seed->transferFaults(*t.camera);
            t.given = true;
        }
    }
}

camsim::Fault FaultOf(camsim::Fault::Kind kind, int at) {
    camsim::Fault fault;
    fault.kind = kind;
    fault.at = at;
    return fault;
}

// The replies with the picture's announced length (the last getint of
// register 12, the download's) one more than the camera sends: a download
// that must save nothing.
std::vector<Reply> AnnouncingOneMore(std::vector<Reply> replies, const std::vector<Step>& steps) {
    for (std::size_t i = steps.size(); i-- > 0;) {
        if (!IsCommand(steps[i].unit, 1, C990_LENGTHFRAME) || replies[i].transfers.empty() ||
            replies[i].transfers[0].size() != 10) {
            continue;
        }
        Bytes& packet = replies[i].transfers[0];
        std::uint32_t value = 0;
        for (int b = 0; b < 4; ++b) {
            value |= static_cast<std::uint32_t>(packet[4 + b]) << (8 * b);
        }
        value += 1;
        for (int b = 0; b < 4; ++b) {
            packet[4 + b] = static_cast<unsigned char>(value >> (8 * b));
        }
        Bytes record = {static_cast<unsigned char>(packet.size()), 0};
        record.insert(record.end(), packet.begin(), packet.end());
        RepairPackets(record.data(), record.size());
        packet.assign(record.begin() + 2, record.end());
        return replies;
    }
    return {};
}

void WriteSeed(const fs::path& corpus, const char* name, bool usb,
               const std::vector<Reply>& replies) {
    const Bytes input = EncodeReplies(replies);
    const fs::path target = corpus / (usb ? "usb_link" : "serial_download");
    fs::create_directories(target);
    std::ofstream out(target / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(input.data()),
              static_cast<std::streamsize>(input.size()));
    std::printf("%s: %zu replies, %zu bytes\n", name, replies.size(), input.size());
}

// Runs the download of the seed against the simulator and returns the
// replies the host read, or an empty list (with a message) when the picture
// was not saved as the camera holds it.
std::vector<Reply> Record(const Seed& seed, const fs::path& folder, std::vector<Step>* steps) {
    camsim::Camera camera;
    seed.setUp(camera);
    eph_resetswitches();
    if (seed.usb) {
        if (camera.startUsb(0).empty()) {
            std::fprintf(stderr, "%s: the simulator serves no USB socket\n", seed.name);
            return {};
        }
        g_bUseUsb = 1;
    } else {
        const std::string terminal = camera.startSerial();
        if (terminal.empty()) {
            std::fprintf(stderr, "%s: the simulator serves no terminal\n", seed.name);
            return {};
        }
        setenv("TULK_COM1", terminal.c_str(), 1);
    }
    eph_iob* iob = eph_open(1, 115200);
    if (!iob) {
        std::fprintf(stderr, "%s: the link did not open\n", seed.name);
        return {};
    }
    iob->progress_cb = TraceProgress;
    seed.faults(camera);
    g_transferFaults = TransferFaults{};
    g_transferFaults.camera = &camera;
    g_transferFaults.seed = &seed;
    SetHostWriteHook(GiveTransferFaults);
    auto& trace = HostTrace();
    trace.clear();
    // What fuzz_usb_link asks before the download.
    if (seed.usb) {
        std::int32_t value = 0;
        eph_getint(iob, C990_LENGTHFRAME, &value);
        long length = 2048;
        auto* buffer = static_cast<unsigned char*>(iob->realloc_cb(nullptr, length));
        eph_getvar(iob, C990_FRAMENAME, &buffer, &length);
        iob->realloc_cb(buffer, 0);
    }
    const fs::path file = folder / "DSCN0001.JPG";
    const int status = DownloadPicture(iob, file.c_str(), 1);
    const bool checked = LastDownloadChecked();
    SetHostWriteHook(nullptr);
    *steps = HostSteps(trace, 0, trace.size(), seed.usb);
    eph_close(iob, 1);
    eph_free(iob);
    const Bytes saved = ReadFile(file);
    fs::remove(file);
    if (status != 0 || saved != camera.pictures().at(0).jpeg || checked != seed.checked) {
        std::fprintf(stderr, "%s: download %d, %zu bytes saved, checked %d\n", seed.name, status,
                     saved.size(), checked ? 1 : 0);
        return {};
    }
    std::vector<Reply> replies;
    for (const Step& step : *steps) {
        Reply reply;
        if (seed.usb) {
            reply.transfers = step.transfers;
        } else if (!step.consumed.empty()) {
            reply.transfers.push_back(step.consumed);
        }
        replies.push_back(std::move(reply));
    }
    return replies;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: fuzz_record_seeds <corpus folder>\n", stderr);
        return 2;
    }
    const fs::path corpus = argv[1];
    const std::string folder = MakePrivateFolder("tulk-fuzz-seeds-");
    if (folder.empty() || !MakeFolder(folder + "/run") || !MakeFolder(folder + "/pictures")) {
        std::fputs("no private folder\n", stderr);
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", (folder + "/run").c_str(), 1);
    setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
    SetMessageBoxHook([](const char*, const char*, int) { return IDOK; });

    using Kind = camsim::Fault::Kind;
    const std::vector<Seed> seeds = {
        {"usb-whole", true, AddPicture, NoFaults, NoFaults, true, true},
        // Every packet refused once for its checksum and taken when it comes
        // again the same: a doubtful picture.
        {"usb-no-checksum", true, AddPicture,
         [](camsim::Camera& c) { c.addFault(FaultOf(Kind::NoChecksum, 1)); }, NoFaults, false},
        // One data packet spoilt under its true length and checksum, then
        // sent true.
        {"usb-garbled-packet", true, AddPicture, NoFaults,
         [](camsim::Camera& c) { c.addFault(FaultOf(Kind::GarblePacket, 2)); }, true},
        {"usb-repeated-packet", true, AddPicture, NoFaults,
         [](camsim::Camera& c) { c.repeatNext(1); }, true},
        {"serial-whole", false, AddPicture, NoFaults, NoFaults, true, true},
        {"serial-garbled-packet", false, AddPicture, NoFaults,
         [](camsim::Camera& c) { c.addFault(FaultOf(Kind::GarblePacket, 2)); }, true},
        // The transfer's first packet sent twice with the same sequence
        // number, as by a camera that missed the ACK.
        {"serial-repeated-packet", false, AddPicture, NoFaults,
         [](camsim::Camera& c) { c.repeatNext(1); }, true},
        // Register 12 reads 0: the length comes from the summary.
        {"serial-length-in-summary", false,
         [](camsim::Camera& c) {
             c.setMaxPacket(kPacket);
             c.setSnapshotSize(kWidth, kHeight);
             camsim::Picture picture;
             picture.zeroLength = true;
             c.addPicture(picture);
         },
         NoFaults, NoFaults, true},
    };
    int failures = 0;
    for (const Seed& seed : seeds) {
        std::vector<Step> steps;
        const std::vector<Reply> replies = Record(seed, fs::path(folder) / "pictures", &steps);
        if (replies.empty()) {
            ++failures;
            continue;
        }
        WriteSeed(corpus, seed.name, seed.usb, replies);
        if (seed.shorterToo) {
            const std::vector<Reply> shorter = AnnouncingOneMore(replies, steps);
            failures += shorter.empty() ? 1 : 0;
            WriteSeed(corpus,
                      seed.usb ? "usb-shorter-than-announced" : "serial-shorter-than-announced",
                      seed.usb, shorter);
        }
    }
    return failures == 0 ? 0 : 1;
}
