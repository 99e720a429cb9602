// The program's one internet session: FTP publishing opens each connection
// through it. It sets up the transfer library for the whole process and
// names the program to the servers and proxies it meets.
#pragma once

#include <string>

class CInternetSession {
public:
    // Proxies come from the system's settings (the ftp_proxy, all_proxy and
    // no_proxy environment variables).
    explicit CInternetSession(const char* agent);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    const std::string& Agent() const { return m_strAgent; }
    // False when the transfer library could not be set up; every upload then
    // fails with that reason.
    bool Ready() const { return m_bReady; }

private:
    std::string m_strAgent;
    bool m_bReady = false;
};

// From program start to exit, with the user agent "Tulk/2.0".
extern CInternetSession g_InternetSession;
