// What must hold after a DownloadPicture whatever the camera sent, judged
// from the host's trace (host_exchanges.h) and the save folder.
#pragma once

#include <cstddef>
#include <filesystem>

struct DownloadFindings {
    bool lengthsTaken = false;   // both lengths acknowledged
    bool transferEnded = false;  // the picture's last packet acknowledged
    bool saved = false;          // the file is there
    bool checked = false;        // LastDownloadChecked() after it
    bool tookFailingPacket = false;
};

// Checks the download that returned status and left the folder (which held
// nothing before) with the picture at file or nothing; its part of the
// trace is [from, to). Aborts with the host's steps on any fault:
//  - a failed download leaves no file, not even a temporary one, and is not
//    called checked;
//  - a saved picture is exactly the payloads of the packets the host took as
//    new, in order, after both lengths and the last packet were taken, and
//    is no shorter than the length announced;
//  - a picture whose every announced byte came is saved;
//  - on USB a picture that took a packet whose length or checksum fails is
//    not called checked, and one called doubtful had a failing transfer
//    come again the same; on the serial line no such packet is taken and
//    every saved picture is checked.
DownloadFindings CheckDownload(int status, const std::filesystem::path& folder,
                               const std::filesystem::path& file, std::size_t from, std::size_t to,
                               bool usb);
