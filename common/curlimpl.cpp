// The form API and the double-valued speed queries are deprecated upstream
// but are what this object's contract is written in.
#define CURL_DISABLE_DEPRECATION 1

#include "curlimpl.h"

#include <event2/buffer.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

std::shared_ptr<curl_slist> OwnList(curl_slist* list) {
    return std::shared_ptr<curl_slist>(list, [](curl_slist* l) {
        if (l) curl_slist_free_all(l);
    });
}

std::shared_ptr<evbuffer> NewBuffer() {
    return std::shared_ptr<evbuffer>(evbuffer_new(), [](evbuffer* b) {
        if (b) evbuffer_free(b);
    });
}

// Appends the query string to url, after "&" when url already carries one.
std::string WithQuery(const std::string& url, const std::string& query) {
    if (query.empty()) return url;
    return url + (url.find('?') != std::string::npos ? "&" : "?") + query;
}

// Where a tapped post's answer goes: headers and body into one buffer, as an
// untapped post collects them, and each body piece to the tap as well.
struct TappedAnswer {
    CURL* handle;
    evbuffer* buffer;
    CURLImpl::BodyTap tap;
    void* context;
};

size_t WriteTappedBody(char* data, size_t size, size_t count, void* answer) {
    auto* to = static_cast<TappedAnswer*>(answer);
    size_t n = size * count;
    if (write_callback_ev_func(data, 1, n, to->buffer) != n) return 0;
    long status = 0;
    curl_easy_getinfo(to->handle, CURLINFO_RESPONSE_CODE, &status);
    to->tap(status, data, n, to->context);
    return n;
}

}  // namespace

CURLImpl::CURLImpl() {
    curl = std::shared_ptr<void>(curl_easy_init(), [](void* handle) {
        if (handle) curl_easy_cleanup(handle);
    });
    ApplyDefaults();
}

CURLImpl::CURLImpl(NoHandle) {
    curl = std::shared_ptr<void>(nullptr, [](void*) {});
}

void CURLImpl::ApplyDefaults() {
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connect_timeout);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kLowSpeedTime);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 32L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Tessaryn(gzip)");
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
}

CURLImpl::~CURLImpl() {
    // The handle may be shared; it must not keep pointers into this object.
    if (CURL* h = curl.get()) {
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
        curl_easy_setopt(h, CURLOPT_HTTPPOST, static_cast<curl_httppost*>(nullptr));
    }
    if (post) curl_formfree(post);
}

void CURLImpl::Clear() {
    progress = ProgressBinding();
    seekFunction = nullptr;
    seekData = nullptr;
    bodyTap = nullptr;
    bodyTapContext = nullptr;
    CURL* h = curl.get();
    if (post) {
        // Detach before freeing so the handle never points at a released form.
        curl_easy_setopt(h, CURLOPT_HTTPPOST, static_cast<curl_httppost*>(nullptr));
        curl_formfree(post);
        post = nullptr;
    }
    url.clear();
    request.clear();
    speedLimit = 0;
    lowSpeedTime = kLowSpeedTime;
    // One pooled handle serves every mount. Option resets alone would leave
    // libcurl's per-handle authentication state behind (the scheme it picked),
    // so the next borrower would send the previous server's scheme, Basic
    // credentials included, to another server. A reset keeps the handle's
    // live connections, DNS and TLS session caches, so reuse is not lost.
    if (h) {
        curl_easy_reset(h);
        ApplyDefaults();
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    }
    query.clear();
    header.clear();
}

_CURLRTN CURLImpl::PerformGet(void* writeFunction, void* writeData) {
    _CURLRTN result;
    CURL* h = curl.get();
    if (!h) {
        result.code = CURLE_FAILED_INIT;
        return result;
    }
    std::memset(errbuf, 0, sizeof errbuf);
    std::shared_ptr<evbuffer> buffer;
    if (!writeFunction) {
        buffer = NewBuffer();
        if (!buffer) {
            result.code = CURLE_OUT_OF_MEMORY;
            return result;
        }
        writeFunction = reinterpret_cast<void*>(&write_callback_ev_func);
        writeData = buffer.get();
    }
    std::string target = WithQuery(url, BuildQueryString(true));
    std::shared_ptr<curl_slist> headers;
    if (!ApplyTarget(target, headers)) {
        result.code = CURLE_OUT_OF_MEMORY;
        return result;
    }
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    // A post performed earlier on this object switched header delivery on;
    // left on, the header bytes would land in this answer's body.
    curl_easy_setopt(h, CURLOPT_HEADER, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, writeData);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeFunction);

    result.code = curl_easy_perform(h);
    if (result.code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        result.http_status = static_cast<int32_t>(status);
        curl_easy_getinfo(h, CURLINFO_SPEED_DOWNLOAD, &result.download_speed);
        curl_easy_getinfo(h, CURLINFO_SPEED_UPLOAD, &result.upload_speed);
        if (buffer) result.code = take_response(buffer.get(), -1, result);
    }
    if (result.message.empty()) result.message = errbuf;
    return result;
}

_CURLRTN CURLImpl::PerformPost(std::string body) {
    _BUFREADCTX cursor;
    cursor.data = body.data();
    cursor.pos = 0;
    cursor.size = static_cast<int64_t>(body.size());
    return PerformPost(reinterpret_cast<void*>(&read_callback_buf_func), &cursor, -1);
}

_CURLRTN CURLImpl::PerformPost(void* readFunction, void* readData, long long size) {
    _CURLRTN result;
    CURL* h = curl.get();
    if (!h) {
        result.code = CURLE_FAILED_INIT;
        return result;
    }
    std::memset(errbuf, 0, sizeof errbuf);
    std::shared_ptr<evbuffer> buffer = NewBuffer();
    if (!buffer) {
        result.code = CURLE_OUT_OF_MEMORY;
        return result;
    }

    std::string postText;
    std::string target;
    if (!readFunction) {
        postText = BuildQueryString(true);
        target = url;
    } else {
        target = WithQuery(url, BuildQueryString(true));
    }
    bool seekable = false;
    if (readData && size == -1) {
        size = static_cast<const _BUFREADCTX*>(readData)->size;
        seekable = readFunction != nullptr;
    } else if (size == -1) {
        size = static_cast<long long>(postText.size());
    }
    // Set or cleared on every post: a seek callback left from an earlier post
    // would point at that post's finished cursor.
    if (seekable) {
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &read_callback_buf_seek_func);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, readData);
    } else if (readFunction && seekFunction) {
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, seekFunction);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, seekData);
    } else {
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, static_cast<curl_seek_callback>(nullptr));
        curl_easy_setopt(h, CURLOPT_SEEKDATA, static_cast<void*>(nullptr));
    }
    std::shared_ptr<curl_slist> headers;
    if (!ApplyTarget(target, headers)) {
        result.code = CURLE_OUT_OF_MEMORY;
        return result;
    }
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    TappedAnswer tapped{h, buffer.get(), bodyTap, bodyTapContext};
    if (bodyTap) {
        // Headers through their own callback so that the body callback sees body only;
        // every header still precedes the final body, so the buffer is laid out alike.
        curl_easy_setopt(h, CURLOPT_HEADER, 0L);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, buffer.get());
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &write_callback_ev_func);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &tapped);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteTappedBody);
    } else {
        curl_easy_setopt(h, CURLOPT_HEADER, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, buffer.get());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &write_callback_ev_func);
    }
    if (post)
        curl_easy_setopt(h, CURLOPT_HTTPPOST, post);
    else
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    if (!readFunction) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postText.c_str());
    } else {
        // Fields from an earlier post would take precedence over the read callback.
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, readFunction);
        curl_easy_setopt(h, CURLOPT_READDATA, readData);
    }

    result.code = curl_easy_perform(h);
    if (bodyTap) {
        // The handle must not keep pointers into this call's frame.
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(nullptr));
        curl_easy_setopt(h, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
        curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    }
    if (result.code == CURLE_OK) {
        long status = 0;
        long headerSize = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerSize);
        result.http_status = static_cast<int32_t>(status);
        curl_easy_getinfo(h, CURLINFO_SPEED_DOWNLOAD, &result.download_speed);
        curl_easy_getinfo(h, CURLINFO_SPEED_UPLOAD, &result.upload_speed);
        result.code = take_response(buffer.get(), headerSize, result);
    }
    if (result.message.empty()) result.message = errbuf;
    return result;
}

bool CURLImpl::ApplyTarget(const std::string& target, std::shared_ptr<curl_slist>& headers) {
    headers = OwnList(BuildHeader());
    if (!headers && !header.empty()) return false;  // never send the request without its headers
    CURL* h = curl.get();
    if (!request.empty()) curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.c_str());
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    return true;
}

void CURLImpl::SetSeekFunction(curl_seek_callback fn, void* data) {
    seekFunction = fn;
    seekData = fn ? data : nullptr;
}

void CURLImpl::SetBodyTap(BodyTap fn, void* context) {
    bodyTap = fn;
    bodyTapContext = fn ? context : nullptr;
}

void* CURLImpl::GetCURL() {
    return curl.get();
}

void CURLImpl::SetURL(const char* u) {
    url = u ? u : "";
}

std::string CURLImpl::GetURL() {
    return url;
}

void CURLImpl::SetRequest(const char* method) {
    request = method ? method : "";
}

std::string CURLImpl::GetRequest() {
    return request;
}

void CURLImpl::SetPost(curl_httppost* form) {
    if (post && post != form) {
        curl_easy_setopt(curl.get(), CURLOPT_HTTPPOST, static_cast<curl_httppost*>(nullptr));
        curl_formfree(post);
    }
    post = form;
}

std::unordered_map<std::string, std::string> CURLImpl::GetHeader() {
    return header;
}

std::unordered_map<std::string, std::string> CURLImpl::GetQuery() {
    return query;
}

std::string CURLImpl::BuildQueryString(bool escape) {
    std::string text;
    for (auto& entry : query) {
        if (!text.empty()) text += "&";
        text += entry.first;
        text += "=";
        text += escape ? Escape(entry.second.c_str()) : entry.second;
    }
    return text;
}

curl_slist* CURLImpl::BuildHeader() {
    curl_slist* list = nullptr;
    for (auto& entry : header) {
        std::string line = entry.first + ": " + entry.second;
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (!grown) {
            // Out of memory: a partial list would silently drop headers.
            curl_slist_free_all(list);
            return nullptr;
        }
        list = grown;
    }
    return list;
}

std::string CURLImpl::Escape(const char* s) {
    if (!s) return "";
    char* escaped = curl_easy_escape(curl.get(), s, static_cast<int>(std::strlen(s)));
    if (!escaped) return "";
    std::string text(escaped);
    curl_free(escaped);
    return text;
}

std::string CURLImpl::Unescape(const char* s) {
    if (!s) return "";
    int length = 0;
    char* plain = curl_easy_unescape(curl.get(), s, 0, &length);
    if (!plain) return "";
    std::string text(plain);  // an encoded NUL ends the text
    curl_free(plain);
    return text;
}

namespace {

// libcurl's receive limiter does not hold reading back: one pass reads the socket
// up to 101 times into its receive buffer while data is waiting, then sleeps until
// the average is under the limit again. With the default 16 KiB buffer that is a
// 1.6 MB burst, a pause of 25 s at 64 KiB/s (longer than the stall window, so the
// transfer was given up) and no throttling at all for anything smaller.
constexpr long long kReadsPerBurst = 101;
// A sender's burst is one upload buffer (libcurl's default size).
constexpr long long kSendBurst = 65536;
// Receive buffer bounds libcurl accepts; the upper one is its default.
constexpr long long kMinReceiveBuffer = 1024;
constexpr long long kDefaultReceiveBuffer = CURL_MAX_WRITE_SIZE;

// Receive buffer that keeps a burst to about half a second of the limit.
long ReceiveBuffer(long long limit) {
    if (limit <= 0) return static_cast<long>(kDefaultReceiveBuffer);
    long long size = limit / (2 * kReadsPerBurst);
    if (size < kMinReceiveBuffer) size = kMinReceiveBuffer;
    if (size > kDefaultReceiveBuffer) size = kDefaultReceiveBuffer;
    return static_cast<long>(size);
}

}  // namespace

void CURLImpl::SetSpeedLimit(long long bytesPerSecond) {
    speedLimit = bytesPerSecond > 0 ? bytesPerSecond : 0;
    CURL* h = curl.get();
    if (!h) return;
    curl_off_t limit = static_cast<curl_off_t>(speedLimit);
    curl_easy_setopt(h, CURLOPT_MAX_SEND_SPEED_LARGE, limit);
    curl_easy_setopt(h, CURLOPT_MAX_RECV_SPEED_LARGE, limit);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, ReceiveBuffer(speedLimit));
    ApplyStallWindow();
}

void CURLImpl::SetLowSpeedTimeout(long seconds) {
    lowSpeedTime = seconds;
    ApplyStallWindow();
}

void CURLImpl::ApplyStallWindow() {
    CURL* h = curl.get();
    if (!h) return;
    long window = lowSpeedTime;
    if (speedLimit > 0 && window > 0) {
        // Silence the limiter imposes itself is not a stalled server: the window must
        // outlast the longest pause after a burst, or the detector ends a healthy transfer.
        long long burst = std::max(kReadsPerBurst * ReceiveBuffer(speedLimit), kSendBurst);
        long long pause = (burst + speedLimit - 1) / speedLimit;
        window = window > LONG_MAX - pause ? LONG_MAX : static_cast<long>(window + pause);
    }
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, window);
}

void CURLImpl::SetSendBuffer() {
    curl_easy_setopt(curl.get(), CURLOPT_SOCKOPTFUNCTION, &_sockopt_callback);
}

void CURLImpl::SetPostFileSize(long long size) {
    curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
}

void CURLImpl::BindHandle(std::shared_ptr<_FS_HANDLE> h) {
    if (!h) return;
    progress.fn = h->progressFn;
    progress.context = h->progressContext;
    progress.handle = curl.get();
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &_CURL_PROGRESS);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
}
