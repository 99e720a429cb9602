#include "ftp/InternetSession.h"

#include <curl/curl.h>

// Made before the window and any thread that uploads, as the library's
// set-up must be.
CInternetSession g_InternetSession("Tulk/2.0");

CInternetSession::CInternetSession(const char* agent)
    : m_strAgent(agent), m_bReady(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

CInternetSession::~CInternetSession() {
    if (m_bReady) {
        curl_global_cleanup();
    }
}
