// Publishing the newest picture: the file goes to the FTP server in the
// settings as "lastpic.jpg", in the remote folder "FTPDir".
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

// The address of the remote file a publication sends to, for the site, the
// remote folder and the remote name. A site is a host with an optional
// ":port", optionally after "ftp://", "ftps://" (TLS from the start) or
// "ftpes://" (the plain port, then TLS before the login); anything after
// the host is ignored. An empty folder is the one the login ends in; one
// that begins with "/" counts from the server's root. *explicitTls tells
// whether TLS must be asked for after connecting. Empty when the site names
// no host.
std::string FtpFileUrl(const std::string& site, const std::string& dir, const std::string& name,
                       bool* explicitTls = nullptr);

// What became of a publication.
enum class FtpResult {
    Published,
    // A setting is missing: nothing was sent.
    NoSettings,
    Failed,
};

// The name a picture has on the server while it is on its way; it becomes
// "lastpic.jpg" only once it is there whole.
inline constexpr const char* kFtpPartName = "lastpic.jpg.part";

// Sends the local file (a path) to the server of the settings "FTPSite",
// "FTPName", "FTPPass" and "FTPDir" as "lastpic.jpg", replacing the one
// there only once the new one has arrived whole; "FTPPassive" set to "1"
// makes the server open the data connections. Connecting, each answer of
// the server and a stalled transfer each have a time limit. A failure
// prints "ERROR!  <reason>" on the standard output and writes it to the
// activity log; *reason (when given) gets the reason. Setting abort makes
// the transfer in progress end as a failure. Blocks; any thread but one
// that holds the camera link.
FtpResult FtpUploadLastPicture(const char* file, std::string* reason = nullptr,
                               const std::atomic<bool>* abort = nullptr);

// Where the "ERROR!" line goes: the standard output unless set (the
// command-line tool keeps its standard output for the pictures' paths).
void SetFtpErrorStream(std::FILE* stream);
