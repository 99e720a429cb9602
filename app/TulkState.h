// The controller's state shared between the window thread, the time-lapse
// picture thread, the sound capture thread and the download workers. Each
// value is read and written whole; g_iob lives with the camera operations.
#pragma once

#include <atomic>
#include <cstdint>

#include "camera/registers.h"

// A link is open and g_iob is valid.
extern std::atomic<int> g_bConnected;
// The time-lapse timer runs.
extern std::atomic<int> g_bTimeLapseRunning;
// A time-lapse picture is being taken; a tick that finds it set is dropped.
extern std::atomic<int> g_bTakingPicture;
// Download each time-lapse picture right after taking it.
extern std::atomic<int> g_bSaveEveryTime;
// The "Upload to FTP" box as the time lapse or Get Last found it: 1 checked.
extern std::atomic<std::int32_t> g_nUploadToFtp;
// Get All Files fetches only pictures not downloaded before.
extern std::atomic<int> g_bOnlyNew;
// A Get All Files worker is downloading; the window waits for it to end
// before it starts the next.
extern std::atomic<int> g_bDownloading;
// "Delete After Download" as the last Get Last found it: the time-lapse
// downloads erase their picture only then.
extern std::atomic<int> g_bDeleteAfterDownload;
// The focus mode written back to the camera around every capture; -1 until
// the camera has been asked.
extern std::atomic<std::int32_t> g_nFocusMode;

// The camera's model code, as read when the resolution table is chosen.
// Camera thread only.
inline constexpr int kCameraCodeSize = 2048;
extern char g_szCameraCode[kCameraCodeSize];
// The resolution names valid for the connected camera and how many of them
// count; null and 0 until a camera has been asked.
extern std::atomic<const NameTable*> g_ppResolutionNames;
extern std::atomic<int> g_nResolutionNames;

// Puts every value above, the open link's pointer and the link's switches
// back to their start values, as a new process has them. No link may be
// open; for tests that run one window after another.
void ResetControllerState();
