#include "TulkState.h"

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
