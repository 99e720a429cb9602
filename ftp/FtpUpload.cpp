#include "ftp/FtpUpload.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "camera/camera_ops.h"
#include "ftp/InternetSession.h"
#include "log/activity_log.h"

namespace {

constexpr const char* kSource = "FtpUpload";
constexpr const char* kRemoteName = "lastpic.jpg";
// A server that cannot be reached, that stops answering, or a transfer that
// stalls ends the publication after these; a whole picture may take longer
// on a slow line, but never longer than the last.
constexpr long kConnectSeconds = 15;
constexpr long kAnswerSeconds = 60;
constexpr long kStalledSeconds = 30;
constexpr long kWholeSeconds = 600;
// The longest reason passed on, as the error text of a connection is.
constexpr std::size_t kReasonSize = 1024;

std::string Escaped(CURL* curl, const std::string& text) {
    char* escaped = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
    std::string result = escaped ? escaped : "";
    curl_free(escaped);
    return result;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::atomic<std::FILE*> g_errorStream{stdout};

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

int Progress(void* abort, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* flag = static_cast<const std::atomic<bool>*>(abort);
    return flag && flag->load() ? 1 : 0;
}

FtpResult Failed(std::string text, std::string* reason) {
    if (text.size() > kReasonSize) {
        text.resize(kReasonSize);
    }
    std::FILE* out = g_errorStream.load();
    std::fprintf(out, "ERROR!  %s\n", text.c_str());
    std::fflush(out);
    std::snprintf(g_szErrorText, kErrorTextSize, "ERROR!  %s", text.c_str());
    WriteLog(kSource, __LINE__, g_szErrorText);
    if (reason) {
        *reason = std::move(text);
    }
    return FtpResult::Failed;
}

}  // namespace

void SetFtpErrorStream(std::FILE* stream) {
    g_errorStream = stream ? stream : stdout;
}

std::string FtpFileUrl(const std::string& site, const std::string& dir, const std::string& name,
                       bool* explicitTls) {
    std::string scheme = "ftp://";
    std::string rest = site;
    bool tls = false;
    // Surrounding blanks are a slip of the typing hand.
    const auto first = rest.find_first_not_of(" \t");
    const auto last = rest.find_last_not_of(" \t");
    rest = first == std::string::npos ? std::string() : rest.substr(first, last - first + 1);
    std::string lower;
    for (const char c : rest.substr(0, 8)) {
        lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    if (StartsWith(lower, "ftpes://")) {
        tls = true;
        rest = rest.substr(8);
    } else if (StartsWith(lower, "ftps://")) {
        scheme = "ftps://";
        rest = rest.substr(7);
    } else if (StartsWith(lower, "ftp://")) {
        rest = rest.substr(6);
    }
    const std::string host = rest.substr(0, rest.find('/'));
    if (explicitTls) {
        *explicitTls = tls;
    }
    if (host.empty()) {
        return {};
    }
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        return {};
    }
    std::string url = scheme + host + "/";
    // The first step of a path from the root is an escaped "/".
    if (!dir.empty() && dir[0] == '/') {
        url += "%2F";
    }
    std::size_t at = 0;
    while (at <= dir.size()) {
        const std::size_t end = std::min(dir.find('/', at), dir.size());
        if (end > at) {
            url += Escaped(curl.get(), dir.substr(at, end - at)) + "/";
        }
        at = end + 1;
    }
    return url + Escaped(curl.get(), name);
}

FtpResult FtpUploadLastPicture(const char* file, std::string* reason,
                               const std::atomic<bool>* abort) {
    std::string site;
    std::string user;
    std::string password;
    std::string dir;
    if (SettingString("FTPSite", &site, 0) == -1 || SettingString("FTPName", &user, 0) == -1 ||
        SettingString("FTPPass", &password, 0) == -1 || SettingString("FTPDir", &dir, 0) == -1) {
        if (reason) {
            *reason = "the FTP settings are missing";
        }
        return FtpResult::NoSettings;
    }
    std::string passive;
    SettingString("FTPPassive", &passive, 0);

    // The network may take as long as it likes; the camera must not wait
    // for it.
    if (LinkHeldByThisThread()) {
        return Failed("not sent: the camera link is held", reason);
    }
    if (!g_InternetSession.Ready()) {
        return Failed("the transfer library could not be set up", reason);
    }
    bool explicitTls = false;
    const std::string partUrl = FtpFileUrl(site, dir, kFtpPartName, &explicitTls);
    if (partUrl.empty()) {
        return Failed("no server named in \"Ftp Site Name\"", reason);
    }
    std::unique_ptr<std::FILE, FileCloser> picture(std::fopen(file, "rb"));
    if (!picture || std::fseek(picture.get(), 0, SEEK_END) != 0) {
        return Failed(std::string("cannot read ") + file, reason);
    }
    const long size = std::ftell(picture.get());
    if (size < 0 || std::fseek(picture.get(), 0, SEEK_SET) != 0) {
        return Failed(std::string("cannot read ") + file, reason);
    }

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        return Failed("the transfer library could not be set up", reason);
    }
    CURL* c = curl.get();
    char error[CURL_ERROR_SIZE] = {};
    // Sent in the folder the transfer went to, once the server has
    // confirmed the whole file: the web page never sees half a picture.
    std::unique_ptr<curl_slist, SlistDeleter> rename(
        curl_slist_append(nullptr, (std::string("RNFR ") + kFtpPartName).c_str()));
    if (rename) {
        curl_slist_append(rename.get(), (std::string("RNTO ") + kRemoteName).c_str());
    }
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_URL, partUrl.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, g_InternetSession.Agent().c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READDATA, picture.get());
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(c, CURLOPT_POSTQUOTE, rename.get());
    // Active mode unless the user asked for passive: the client listens on
    // the address its control connection uses.
    if (passive != "1") {
        curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
    }
    if (explicitTls) {
        curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, kAnswerSeconds);
    curl_easy_setopt(c, CURLOPT_ACCEPTTIMEOUT_MS, kAnswerSeconds * 1000);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kWholeSeconds);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(abort));

    const CURLcode code = rename ? curl_easy_perform(c) : CURLE_OUT_OF_MEMORY;
    if (code != CURLE_OK) {
        return Failed(error[0] ? error : curl_easy_strerror(code), reason);
    }
    std::snprintf(g_szErrorText, kErrorTextSize, "%s published as %s", file, kRemoteName);
    WriteLog(kSource, __LINE__, g_szErrorText);
    if (reason) {
        reason->clear();
    }
    return FtpResult::Published;
}
