#include "curllogger.h"

#include <strings.h>

#include <cstring>
#include <limits>

#include "logstate.h"

namespace {

// printf's "%d" carries 32 bits; larger values are shown saturated, not wrapped.
int LogInt(long long value) {
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

int LogSpeed(double bytesPerSecond) {
    if (!(bytesPerSecond > 0)) return 0;  // also NaN
    if (bytesPerSecond >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(bytesPerSecond);  // truncation toward zero
}

bool IsSecretHeader(const char* name, size_t length) {
    static const char* const secrets[] = {"Authorization", "Proxy-Authorization", "Cookie"};
    for (const char* secret : secrets)
        if (std::strlen(secret) == length && strncasecmp(secret, name, length) == 0) return true;
    return false;
}

// The outgoing block with the values of credential-bearing headers replaced,
// so neither passwords, Basic credentials, bearer tokens nor session cookies
// end up in the host's log.
std::string MaskCredentials(const char* data, size_t size) {
    std::string text(data, size);
    size_t line = 0;
    while (line < text.size()) {
        size_t end = text.find('\n', line);
        if (end == std::string::npos) end = text.size();
        size_t valueEnd = (end > line && text[end - 1] == '\r') ? end - 1 : end;
        size_t colon = text.find(':', line);
        if (colon < valueEnd && IsSecretHeader(&text[line], colon - line)) {
            text.replace(colon + 1, valueEnd - colon - 1, " ***");
            end = colon + 5 + (end - valueEnd);
        }
        line = end + 1;
    }
    return text;
}

}  // namespace

CURLLogger::CURLLogger() {
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errbuf);
}

CURLLogger::CURLLogger(NoHandle tag) : CURLImpl(tag) {}

CURLLogger::~CURLLogger() = default;

void CURLLogger::InstallLogger() {
    PinnedLogger pin;
    if (!pin.get()) return;
    int mask = pin.get()->GetLevel();
    if ((static_cast<LOGLEVEL>(mask) & LOG_TRACE) == LOG_TRACE) {
        curl_easy_setopt(curl.get(), CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_DEBUGFUNCTION, &CURLDebug);
    } else {
        curl_easy_setopt(curl.get(), CURLOPT_VERBOSE, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_DEBUGFUNCTION,
                         static_cast<curl_debug_callback>(nullptr));
    }
}

std::string CURLLogger::DisplayURL() {
    std::string text = url;
    std::string queryText = BuildQueryString(false);
    if (!queryText.empty()) text += (text.find('?') != std::string::npos ? "&" : "?") + queryText;
    return text;
}

void CURLLogger::BeforePerform() {
    std::string display = DisplayURL();
    InstallLogger();
    // Decoding changes nothing in a URL without escapes.
    last_url =
        display.find('%') == std::string::npos ? std::move(display) : Unescape(display.c_str());
}

_CURLRTN CURLLogger::PerformGet(void* writeFunction, void* writeData) {
    BeforePerform();
    _CURLRTN result = CURLImpl::PerformGet(writeFunction, writeData);
    log_line(LOG_TRACE | LOG_TRANSFER, "Download %db/s : %s(%d bytes)",
             LogSpeed(result.download_speed), url.c_str(), result.body_size);
    return result;
}

_CURLRTN CURLLogger::PerformPost(std::string body) {
    BeforePerform();
    long long sent = static_cast<long long>(body.size());
    _CURLRTN result = CURLImpl::PerformPost(std::move(body));
    log_line(LOG_TRACE | LOG_TRANSFER, "Upload %db/s / Download %db/s : %s(%d / %d bytes)",
             LogSpeed(result.upload_speed), LogSpeed(result.download_speed), url.c_str(),
             LogInt(sent), result.body_size);
    return result;
}

_CURLRTN CURLLogger::PerformPost(void* readFunction, void* readData, long long size) {
    BeforePerform();
    _CURLRTN result = CURLImpl::PerformPost(readFunction, readData, size);
    log_line(LOG_TRACE | LOG_TRANSFER, "Upload %db/s / Download %db/s : %s(%d / %d bytes)",
             LogSpeed(result.upload_speed), LogSpeed(result.download_speed), url.c_str(),
             LogInt(size), result.body_size);
    return result;
}

std::string CURLLogger::GetLastURL() {
    return last_url;
}

int CURLDebug(CURL*, curl_infotype type, char* data, size_t size, void*) {
    // Verbose mode outlives an unbound logger; then there is nothing to copy for.
    PinnedLogger pin;
    ILog* log = pin.get();
    if (!log) return 0;
    try {
        switch (type) {
            case CURLINFO_TEXT:
                __LOG__A(log, LOG_INFO | LOG_CURL, "[INFORMATION] %s",
                         std::string(data, size).c_str());
                break;
            case CURLINFO_HEADER_IN:
                if (size > 0 && data[0] == '\r') break;
                __LOG__A(log, LOG_TRACE | LOG_CURL, "[HEADER   >>] %s",
                         std::string(data, size).c_str());
                break;
            case CURLINFO_HEADER_OUT:
                if (size > 0 && data[0] == '\r') break;
                if (size >= 5 && std::memcmp(data, "PASS ", 5) == 0) break;
                __LOG__A(log, LOG_TRACE | LOG_CURL, "[HEADER   <<] %s",
                         MaskCredentials(data, size).c_str());
                break;
            default:
                break;
        }
    } catch (...) {
        // A trace line lost (no memory, a throwing logger) must not unwind through libcurl.
    }
    return 0;
}
