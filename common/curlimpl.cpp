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

// Where an answer kept in memory goes: every piece, headers and body alike, into one buffer
// in the order it arrives, each body piece shown to the tap (when there is one) first, and
// nothing past the answer limit, so a server cannot make the host hold an endless answer.
struct Collector {
    CURL* handle = nullptr;
    evbuffer* buffer = nullptr;
    long long limit = 0;
    long long taken = 0;
    bool exceeded = false;
    CURLImpl::BodyTap tap = nullptr;
    void* tapContext = nullptr;
    bool keepBody = true;
    bool refused = false;  // the tap gave up on the answer: the rest is only counted
};

bool Admit(Collector* to, size_t n) {
    if (to->taken + static_cast<long long>(n) > to->limit) {
        to->exceeded = true;
        return false;
    }
    to->taken += static_cast<long long>(n);
    return true;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* collector) {
    auto* to = static_cast<Collector*>(collector);
    size_t n = size * count;
    if (!Admit(to, n)) return 0;
    return write_callback_ev_func(data, 1, n, to->buffer);
}

size_t CollectBody(char* data, size_t size, size_t count, void* collector) {
    auto* to = static_cast<Collector*>(collector);
    size_t n = size * count;
    if (!Admit(to, n)) return 0;
    if (to->tap && !to->refused) {
        long status = 0;
        curl_easy_getinfo(to->handle, CURLINFO_RESPONSE_CODE, &status);
        try {
            to->refused = !to->tap(status, data, n, to->tapContext);
        } catch (...) {  // nothing may unwind through libcurl
            to->refused = true;
        }
    }
    if (!to->keepBody) return n;
    return write_callback_ev_func(data, 1, n, to->buffer);
}

// After a perform: a failure of ours gets a code and a text that say what happened, and no
// failure leaves the host without a message.
void Explain(const Collector* collected, _CURLRTN& result, const char* errbuf) {
    // Counted by us, or refused by libcurl from the announced length.
    if (collected != nullptr && (collected->exceeded || result.code == CURLE_FILESIZE_EXCEEDED)) {
        result.code = CURLE_FILESIZE_EXCEEDED;
        result.message = "the server's answer exceeded the limit of " +
                         std::to_string(collected->limit) + " bytes";
    }
    if (result.message.empty()) result.message = errbuf;
    if (result.code != CURLE_OK && result.message.empty())
        result.message = curl_easy_strerror(static_cast<CURLcode>(result.code));
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
    keepTappedBody = true;
    answerLimit = kDefaultAnswerLimit;
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
    Collector collector;
    if (!writeFunction) {
        buffer = NewBuffer();
        if (!buffer) {
            result.code = CURLE_OUT_OF_MEMORY;
            return result;
        }
        collector.handle = h;
        collector.buffer = buffer.get();
        collector.limit = answerLimit;
        writeFunction = reinterpret_cast<void*>(&CollectBody);
        writeData = &collector;
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
    // An announced length past the limit is refused before the first byte.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(buffer ? answerLimit : 0));

    result.code = curl_easy_perform(h);
    if (buffer) curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    if (result.code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        result.http_status = static_cast<int32_t>(status);
        curl_easy_getinfo(h, CURLINFO_SPEED_DOWNLOAD, &result.download_speed);
        curl_easy_getinfo(h, CURLINFO_SPEED_UPLOAD, &result.upload_speed);
        if (buffer) result.code = take_response(buffer.get(), -1, result);
    }
    Explain(buffer ? &collector : nullptr, result, errbuf);
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
    // A body held in memory goes to libcurl as it stands: small ones then leave in the same
    // write as the headers, and libcurl can send them again without a seek.
    const char* fields = nullptr;
    const bool cursorSized = readData && size == -1;  // readData is a _BUFREADCTX
    if (readFunction == reinterpret_cast<void*>(&read_callback_buf_func) && cursorSized) {
        const auto* cursor = static_cast<const _BUFREADCTX*>(readData);
        int64_t from = std::min(std::max<int64_t>(cursor->pos, 0), cursor->size);
        fields = cursor->data + from;
        size = cursor->size - from;
        readFunction = nullptr;
    } else if (cursorSized) {
        size = static_cast<const _BUFREADCTX*>(readData)->size;
    } else if (size == -1) {
        size = static_cast<long long>(postText.size());
    }
    if (!readFunction && !fields) fields = postText.c_str();
    // Set or cleared on every post: a seek callback left from an earlier post
    // would point at that post's finished cursor.
    if (readFunction && seekFunction) {
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, seekFunction);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, seekData);
    } else if (readFunction && cursorSized) {
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &read_callback_buf_seek_func);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, readData);
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
    // A redirected request keeps its method and its body (libcurl would otherwise turn the
    // request after a 301, 302 or 303 into one without a body: an empty PUT).
    curl_easy_setopt(h, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    Collector collector;
    collector.handle = h;
    collector.buffer = buffer.get();
    collector.limit = answerLimit;
    collector.tap = bodyTap;
    collector.tapContext = bodyTapContext;
    collector.keepBody = keepTappedBody || !bodyTap;
    // Headers through their own callback so that the body callback sees body only; both
    // append to one buffer in arrival order, so every header block precedes its body.
    curl_easy_setopt(h, CURLOPT_HEADER, 0L);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &collector);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CollectHeader);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &collector);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(answerLimit));
    if (post)
        curl_easy_setopt(h, CURLOPT_HTTPPOST, post);
    else
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    if (fields) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, fields);
    } else {
        // Fields from an earlier post would take precedence over the read callback.
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, readFunction);
        curl_easy_setopt(h, CURLOPT_READDATA, readData);
    }

    result.code = curl_easy_perform(h);
    // The handle must not keep pointers into this call's frame.
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(nullptr));
    curl_easy_setopt(h, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
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
    Explain(&collector, result, errbuf);
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

void CURLImpl::SetBodyTap(BodyTap fn, void* context, bool keepBody) {
    bodyTap = fn;
    bodyTapContext = fn ? context : nullptr;
    keepTappedBody = keepBody;
}

void CURLImpl::SetAnswerLimit(long long bytes) {
    answerLimit = bytes > 0 ? bytes : kDefaultAnswerLimit;
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
// Longest silence, in seconds, granted to the limiter on top of the stall window.
constexpr long long kMaxLimiterPause = 300;
// Receive buffer bounds under a limit; the upper one is libcurl's default.
constexpr long long kMinReceiveBuffer = 1024;
constexpr long long kDefaultReceiveBuffer = CURL_MAX_WRITE_SIZE;
// Without a limit: pieces of several 64 KiB blocks, so that a read hands whole blocks to the
// host straight from libcurl's buffer, with a quarter of the calls and polls per byte.
constexpr long kUnlimitedReceiveBuffer = 256 << 10;

// Receive buffer that keeps a burst to about half a second of the limit.
long ReceiveBuffer(long long limit) {
    if (limit <= 0) return kUnlimitedReceiveBuffer;
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
        // A limit so low that the pause would run to hours (1 byte/s: 28 hours) gets a few
        // minutes at most: a dead server must still be given up.
        long long burst = std::max(kReadsPerBurst * ReceiveBuffer(speedLimit), kSendBurst);
        long long pause = std::min((burst + speedLimit - 1) / speedLimit, kMaxLimiterPause);
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
