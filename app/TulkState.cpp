#include "app/TulkState.h"

#include "camera/camera_ops.h"
#include "link/eph.h"

std::atomic<int> g_bConnected{0};
std::atomic<int> g_bTimeLapseRunning{0};
std::atomic<int> g_bTakingPicture{0};
std::atomic<int> g_bSaveEveryTime{0};
std::atomic<std::int32_t> g_nUploadToFtp{0};
std::atomic<int> g_bOnlyNew{0};
std::atomic<int> g_bDownloading{0};
std::atomic<int> g_bDeleteAfterDownload{0};
std::atomic<std::int32_t> g_nFocusMode{-1};

char g_szCameraCode[kCameraCodeSize] = "";
std::atomic<const NameTable*> g_ppResolutionNames{nullptr};
std::atomic<int> g_nResolutionNames{0};

void ResetControllerState() {
    g_bConnected = 0;
    g_bTimeLapseRunning = 0;
    g_bTakingPicture = 0;
    g_bSaveEveryTime = 0;
    g_nUploadToFtp = 0;
    g_bOnlyNew = 0;
    g_bDownloading = 0;
    g_bDeleteAfterDownload = 0;
    g_nFocusMode = -1;
    g_szCameraCode[0] = '\0';
    g_ppResolutionNames = nullptr;
    g_nResolutionNames = 0;
    g_iob = nullptr;
    eph_resetswitches();
}
