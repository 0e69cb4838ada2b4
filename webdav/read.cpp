// Ranged read: one GET with a Range header, delivered to the host's cache in 64 KiB blocks.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/logstate.h"
#include "protocol.h"

namespace {

const LOGLEVEL kTrace = LOG_TRACE | LOG_PROTOCOL;
const LOGLEVEL kError = LOG_ERROR | LOG_PROTOCOL;
constexpr int32_t kBlock = 65536;

bool Stopped(const Protocol::_RAWRITECTX* ctx) {
    return ctx->handle && ctx->handle->state.load(std::memory_order_relaxed) >= FS_HANDLE_STOP;
}

bool Is2xx(int status) {
    return status >= 200 && status < 300;
}

// Case-insensitive test of a header line's name; returns the value with leading blanks
// skipped, or nullptr when the line carries another header.
const char* HeaderValue(const char* line, size_t length, const char* name) {
    size_t n = strlen(name);
    if (length <= n || strncasecmp(line, name, n) != 0 || line[n] != ':') return nullptr;
    const char* value = line + n + 1;
    while (value < line + length && (*value == ' ' || *value == '\t')) ++value;
    return value;
}

// First byte of "bytes <first>-<last>/<total>"; -2 when the text is not of that form.
int64_t RangeStart(const char* value, const char* end) {
    const char* unit = "bytes";
    size_t unitLength = strlen(unit);
    if (static_cast<size_t>(end - value) <= unitLength || strncasecmp(value, unit, unitLength))
        return -2;
    const char* p = value + unitLength;
    while (p < end && *p == ' ') ++p;
    if (p == end || !isdigit(static_cast<unsigned char>(*p))) return -2;
    int64_t first = 0;
    for (; p < end && isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (first > (INT64_MAX - 9) / 10) return -2;
        first = first * 10 + (*p - '0');
    }
    return (p < end && *p == '-') ? first : -2;
}

// Decides, before the first body byte is taken, whether the body is file data and at
// which file offset it begins. Only a 2xx answer carries the file; a 206 must begin at
// or before the requested offset, a 200 carries the whole file from its first byte.
void Judge(Protocol::_RAWRITECTX* ctx) {
    ctx->judged = true;
    if (ctx->status == 0) {  // no head was seen: take the body as the requested range
        ctx->deliver = true;
        return;
    }
    if (!Is2xx(ctx->status)) return;  // an error page is not file data
    int64_t start = 0;
    if (ctx->status == 206) {
        // A range of a compressed representation, or several ranges in one body, are not
        // the bytes the host asked for.
        if (ctx->encoded || ctx->multipart || ctx->rangeStart == -2) {
            ctx->rejected = true;
            return;
        }
        start = ctx->rangeStart >= 0 ? ctx->rangeStart : ctx->offset;
    }
    if (start > ctx->offset) {
        ctx->rejected = true;
        return;
    }
    ctx->skip = ctx->offset - start;
    ctx->deliver = true;
}

void Deliver(Protocol::_RAWRITECTX* ctx) {
    ctx->callback->OnData(ctx->offset, ctx->buffer, ctx->fill, 0);
    ctx->offset += ctx->fill;
    ctx->remaining -= ctx->fill;
    ctx->fill = 0;
}

}  // namespace

size_t header_callback_range_func(char* data, size_t size, size_t nmemb, void* context) {
    auto* ctx = static_cast<Protocol::_RAWRITECTX*>(context);
    const size_t n = size * nmemb;
    const char* end = data + n;
    while (end > data && (end[-1] == '\r' || end[-1] == '\n')) --end;
    const size_t length = static_cast<size_t>(end - data);

    if (length > 5 && strncmp(data, "HTTP/", 5) == 0) {
        // A new answer begins (interim, redirect, authentication round or final).
        const char* p = static_cast<const char*>(memchr(data, ' ', length));
        ctx->status = p != nullptr ? atoi(std::string(p + 1, end).c_str()) : 0;
        ctx->rangeStart = -1;
        ctx->encoded = false;
        ctx->multipart = false;
        ctx->judged = false;
        ctx->deliver = false;
        ctx->skip = 0;
        return n;
    }
    if (const char* value = HeaderValue(data, length, "Content-Range")) {
        ctx->rangeStart = RangeStart(value, end);
    } else if (const char* value = HeaderValue(data, length, "Content-Encoding")) {
        std::string coding(value, end);
        ctx->encoded = !coding.empty() && strcasecmp(coding.c_str(), "identity") != 0;
    } else if (const char* value = HeaderValue(data, length, "Content-Type")) {
        ctx->multipart = end - value >= 10 && strncasecmp(value, "multipart/", 10) == 0;
    }
    return n;
}

int xferinfo_callback_read_func(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* ctx = static_cast<Protocol::_RAWRITECTX*>(context);
    if (!Stopped(ctx)) return 0;
    ctx->canceled = true;
    return 1;
}

size_t write_callback_cache_func(void* data, size_t size, size_t nmemb, void* context) {
    auto* ctx = static_cast<Protocol::_RAWRITECTX*>(context);
    const size_t n = size * nmemb;
    if (!ctx->judged) Judge(ctx);
    if (ctx->rejected) return 0;

    const char* src = static_cast<const char*>(data);
    size_t left = ctx->deliver ? n : 0;
    while (left != 0 && !Stopped(ctx)) {
        if (ctx->skip > 0) {  // a whole-file answer: bytes before the requested offset
            size_t drop = static_cast<size_t>(std::min<int64_t>(ctx->skip, left));
            ctx->skip -= drop;
            src += drop;
            left -= drop;
            continue;
        }
        int64_t wanted = ctx->remaining - ctx->fill;
        if (wanted <= 0) {
            // Every requested byte is in; whatever follows lies beyond the range.
            ctx->complete = true;
            return 0;
        }
        size_t chunk = static_cast<size_t>(std::min<int64_t>(
            {static_cast<int64_t>(kBlock - ctx->fill), static_cast<int64_t>(left), wanted}));
        memcpy(ctx->buffer + ctx->fill, src, chunk);
        ctx->fill += static_cast<int32_t>(chunk);
        src += chunk;
        left -= chunk;
        if (ctx->fill == kBlock || ctx->fill == ctx->remaining) Deliver(ctx);
    }
    if (Stopped(ctx)) {
        ctx->canceled = true;
        return 0;
    }
    return n;
}

AERROR Protocol::Read(const char* path, long long offset, long long length,
                      std::shared_ptr<_FS_HANDLE> handle, IFetchCallback* callback,
                      char** message) {
    if (path == nullptr || *path == '\0') return SUCCESS;
    if (length <= 0) return SUCCESS;
    log_line(kTrace, "%s [%s] offset %lld, length %lld", "Read", path, offset, length);
    if (callback == nullptr || offset < 0 || offset > INT64_MAX - length) {
        if (message != nullptr) *message = strdup("invalid read request");
        return INVALID_PARAMETER;
    }
    if (handle && handle->state.load() >= FS_HANDLE_STOP) {
        if (message != nullptr) *message = nullptr;
        log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, 0);
        return READ_CANCELED;
    }

    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);
    // Returning the object resets its handle, header and progress callbacks included,
    // so nothing set below outlives this read's context.

    std::string range =
        "bytes=" + std::to_string(offset) + "-" + std::to_string(offset + length - 1);
    request->SetURL(get_fullurl(path).c_str());
    request->AddHeader("Range", range);
    // A compressed answer to a Range request would be a range of the compressed bytes.
    request->AddHeader("Accept-Encoding", "identity");
    request->SetSpeedLimit(speedLimit);

    std::shared_ptr<_RAWRITECTX> ctx(new _RAWRITECTX());  // value-initialised: zero-filled
    ctx->handle = std::move(handle);
    ctx->offset = offset;
    ctx->remaining = length;
    ctx->callback = callback;

    set_extra_opts(request, authType);
    if (void* easy = request->GetCURL()) {
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, header_callback_range_func);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, ctx.get());
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, xferinfo_callback_read_func);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, ctx.get());
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    }
    _CURLRTN result =
        request->PerformGet(reinterpret_cast<void*>(write_callback_cache_func), ctx.get());

    if (ctx->complete && result.code == CURLE_WRITE_ERROR) {
        // Stopped on purpose once the range was in: a success with the answer's status.
        _CURLRTN done;
        done.http_status = ctx->status;
        result = done;
    }
    bool undelivered = false;
    if (result.code == 0 && Is2xx(result.http_status) && ctx->deliver && ctx->fill > 0) {
        // The answer ended before the requested length (end of file): the partial
        // block still belongs to the host.
        if (Stopped(ctx.get()))
            undelivered = true;
        else
            Deliver(ctx.get());
    }
    get_err_msg(result, message);

    if (ctx->rejected) {
        log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, ctx->status);
        if (message != nullptr) {
            free(*message);
            *message = strdup("answer does not hold the requested range");
        }
        return FILE_READ_FAILED;
    }
    if (result.code == 0) {
        if (Is2xx(result.http_status) && !undelivered) return SUCCESS;
        if (undelivered) {  // the host stopped it before the last block could go
            log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, 0);
            return READ_CANCELED;
        }
        if (result.http_status == 401 || result.http_status == 403) return ACCESS_DENIED;
        if (result.http_status >= 300)
            log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, result.http_status);
        return FILE_READ_FAILED;
    }
    log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, result.http_status);
    return ctx->canceled ? READ_CANCELED : FILE_READ_FAILED;
}
