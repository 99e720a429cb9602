#include "tests/fuzz/download_check.h"

#include <fstream>
#include <iterator>
#include <string>

#include "camera/download.h"
#include "camera/registers.h"
#include "tests/fuzz/host_exchanges.h"

namespace fs = std::filesystem;

namespace {

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

DownloadFindings CheckDownload(int status, const fs::path& folder, const fs::path& file,
                               std::size_t from, std::size_t to, bool usb) {
    DownloadFindings found;
    found.checked = LastDownloadChecked();
    const auto& trace = HostTrace();
    const auto steps = HostSteps(trace, from, to, usb);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files += entry.exists() ? 1 : 0;
    }
    Require(files == (status == 0 ? 1 : 0) && (status != 0 || fs::exists(file)),
            "download returned " + std::to_string(status) + " and left " + std::to_string(files) +
                " files",
            steps);
    Require(status == 0 || !found.checked, "a failed download is called checked", steps);

    const IntTaken length = GetintTaken(steps, C990_LENGTHFRAME, usb);
    const IntTaken thumb = GetintTaken(steps, C990_LENGTHTHUMB, usb);
    const VarTaken summary = GetvarTaken(steps, C990_PICSUMMARY, usb);
    const VarTaken picture = GetvarTaken(steps, C990_FRAMEDATA, usb);
    for (const std::string* fault : {&length.fault, &thumb.fault, &summary.fault, &picture.fault}) {
        Require(fault->empty(), *fault, steps);
    }
    found.lengthsTaken = length.taken && thumb.taken;
    found.transferEnded = picture.ended;
    found.tookFailingPacket = TookFailingPacket(steps, usb);
    Require(usb || !found.tookFailingPacket,
            "the serial line took a packet whose length or checksum failed", steps);
    // The picture's length as the camera announced it. A length of 0 hands
    // it to the summary, which is not followed here.
    const long announced = length.value < 0 ? -static_cast<long>(length.value) : length.value;
    const long came = static_cast<long>(picture.data.size());
    if (status != 0) {
        Require(!(found.lengthsTaken && picture.ended && announced > 0 && came >= announced),
                "a picture that came whole was not saved", steps);
        return found;
    }
    found.saved = true;
    Require(found.lengthsTaken && picture.ended,
            "a picture was saved without its lengths or its last packet", steps);
    const Bytes saved = ReadFile(file);
    Require(saved == picture.data,
            "the file holds " + std::to_string(saved.size()) + " bytes, not the " +
                std::to_string(came) + " taken",
            steps);
    Require(came >= announced,
            "a picture of " + std::to_string(came) + " bytes was saved where " +
                std::to_string(announced) + " were announced",
            steps);
    if (!usb) {
        Require(found.checked, "a picture saved from the serial line is not called checked", steps);
        return found;
    }
    Require(!found.tookFailingPacket || !found.checked,
            "a picture is called checked though a packet whose length or checksum failed was "
            "taken",
            steps);
    Require(found.checked || SameFailingTransferAgain(trace, from, to),
            "a picture is called doubtful though no failing transfer came again the same", steps);
    return found;
}
