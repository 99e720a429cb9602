// The picture steps the window and the command-line tool share: a capture,
// the name of a picture, the download of one numbered picture or of the
// newest, and the "Only New" test. Each holds the link while it works.
#pragma once

#include <cstdint>
#include <string>

#include "link/eph.h"

// The capture: the focus mode written before and after the snapshot, as the
// camera forgets it. False (logged) when the camera did not take the
// picture, or its answer was lost. CaptureChecked without the count
// before, so nothing delays the snapshot: a lost answer is never repeated.
bool CaptureOnLink(eph_iob* iob, std::int32_t focusMode);

// What came of an action that changes the camera (a capture, an erase)
// when its answer may have been lost: it is never sent again blindly, as a
// camera that carried it out would do it twice.
enum class CameraChange {
    Done,     // the camera answered, or its picture count shows it happened
    NotDone,  // refused, or the count shows it did not happen (and asking
              // again did not help)
    Unknown,  // the camera stopped answering: look again once it is back
};

// The capture for a run: the picture count before, the snapshot sent once,
// and when its answer did not come, the line drained and the count read
// again: a count that grew is a picture taken; one that did not is a
// capture done again (once). *countBefore (when given) gets the count read
// before, -1 when it could not be read, for a look after an outage. Without
// countFirst nothing is read before, and a lost answer stays Unknown.
CameraChange CaptureChecked(eph_iob* iob, std::int32_t focusMode, int* countBefore = nullptr,
                            bool countFirst = true);

// Erases the newest picture the same way: a count that fell is an erase
// done, one that did not is an erase sent again (once). Never erases when
// the count before cannot be read.
CameraChange EraseLastChecked(eph_iob* iob);

// Whether a change asked of the camera happened, from its picture count now
// against the one before (after a lost answer and an outage): grew is a
// capture done, fell is an erase done. Unknown when the count cannot be read.
CameraChange CountShowsCapture(eph_iob* iob, int countBefore);

// Delete After Download: the newest picture is erased only when the one
// just saved from it (by this thread's last download) came whole and
// checked; otherwise it stays, and the log says why. *why gets the reason
// when nothing was erased.
CameraChange EraseAfterDownload(eph_iob* iob, std::string* why = nullptr);

// Sends the action with its one argument byte; a refusal writes failedLine
// to the log.
bool CameraActionOnLink(eph_iob* iob, int action, unsigned char arg, const char* failedLine);

// The name register of the selected picture as a plain name (empty when it
// is none we would use); false when it cannot be read.
bool ReadPictureName(eph_iob* iob, std::string* name);

// The name a picture gets when the camera's cannot be used: format holds
// one %d ("dscn%04d.jpg", "dsn%04d.jpg").
std::string MadeUpName(const char* format, int number);

// Get All Files for picture number (from 1) into the folder (ending in "/"):
// the camera's name, else "dscn%04d.jpg". DownloadPicture's result; *saved
// gets the file's path.
int DownloadNumberedPicture(eph_iob* iob, int number, const std::string& folder,
                            std::string* saved = nullptr);

// True when picture number is in the folder already, by its name only.
bool PictureAlreadyDownloaded(eph_iob* iob, int number, const std::string& folder);

// The newest picture: the one the camera has selected (after a capture, the
// new one), numbered by the picture count, else named "dsn%04d.jpg". -1
// without a download when the camera holds no picture.
int DownloadNewestPicture(eph_iob* iob, const std::string& folder, std::string* saved = nullptr);

// The camera's model code (register 27, up to its first zero byte, at most
// 2047 bytes); empty when it cannot be read.
std::string ReadCameraModel(eph_iob* iob);

// The camera's free memory in bytes, 0 when it cannot be read.
std::int32_t ReadAvailMemory(eph_iob* iob);
