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
// Requests one read may make when answers stop short of the range while the file goes on.
constexpr int kMaxRounds = 64;

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

// Reads a decimal number at p; false when there is none or it does not fit.
bool Number(const char*& p, const char* end, int64_t& value) {
    if (p == end || !isdigit(static_cast<unsigned char>(*p))) return false;
    value = 0;
    for (; p < end && isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (*p - '0');
    }
    return true;
}

// "bytes <first>-<last>/<total>": the first byte (-2 when the text is not of that form) and
// the total (-1 when it is "*" or missing).
void ReadContentRange(const char* value, const char* end, Protocol::_RAWRITECTX* ctx) {
    ctx->rangeStart = -2;
    ctx->rangeTotal = -1;
    const char* unit = "bytes";
    size_t unitLength = strlen(unit);
    if (static_cast<size_t>(end - value) <= unitLength || strncasecmp(value, unit, unitLength))
        return;
    const char* p = value + unitLength;
    while (p < end && *p == ' ') ++p;
    int64_t first = 0;
    if (!Number(p, end, first) || p == end || *p != '-') return;
    ctx->rangeStart = first;
    const char* slash = static_cast<const char*>(memchr(p, '/', end - p));
    int64_t total = 0;
    if (slash != nullptr && Number(++slash, end, total)) ctx->rangeTotal = total;
}

// The file offset of the next byte the read still needs.
int64_t Next(const Protocol::_RAWRITECTX* ctx) {
    return ctx->offset + ctx->fill;
}

// Decides, before the first body byte is taken, whether the body is file data and at
// which file offset it begins. Only a 2xx answer carries the file; a 206 must begin at
// or before the requested offset, a 200 carries the whole file from its first byte.
void JudgeBody(Protocol::_RAWRITECTX* ctx) {
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
        start = ctx->rangeStart >= 0 ? ctx->rangeStart : Next(ctx);
    }
    if (start > Next(ctx)) {
        ctx->rejected = true;
        return;
    }
    ctx->skip = Next(ctx) - start;
    ctx->deliver = true;
}

// Hands length bytes at the read's position to the host.
void Deliver(Protocol::_RAWRITECTX* ctx, const char* bytes, int32_t length) {
    ctx->callback->OnData(ctx->offset, bytes, length, 0);
    ctx->offset += length;
    ctx->remaining -= length;
}

}  // namespace

size_t header_callback_range_func(char* data, size_t size, size_t nmemb, void* context) try {
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
        ctx->rangeTotal = -1;
        ctx->encoded = false;
        ctx->multipart = false;
        ctx->judged = false;
        ctx->deliver = false;
        ctx->skip = 0;
        return n;
    }
    if (const char* value = HeaderValue(data, length, "Content-Range")) {
        ReadContentRange(value, end, ctx);
    } else if (const char* value = HeaderValue(data, length, "Content-Encoding")) {
        std::string coding(value, end);
        ctx->encoded = !coding.empty() && strcasecmp(coding.c_str(), "identity") != 0;
    } else if (const char* value = HeaderValue(data, length, "Content-Type")) {
        ctx->multipart = end - value >= 10 && strncasecmp(value, "multipart/", 10) == 0;
    }
    return n;
} catch (...) {
    return 0;  // nothing may unwind through libcurl: the transfer ends instead
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
    if (!ctx->judged) JudgeBody(ctx);
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
        // A whole block already in libcurl's buffer goes to the host from there.
        const bool direct =
            ctx->fill == 0 && static_cast<int64_t>(chunk) == std::min<int64_t>(kBlock, wanted);
        if (!direct) memcpy(ctx->buffer + ctx->fill, src, chunk);
        ctx->fill += static_cast<int32_t>(chunk);
        src += chunk;
        left -= chunk;
        if (ctx->fill == kBlock || ctx->fill == ctx->remaining) {
            try {
                Deliver(ctx, direct ? src - chunk : ctx->buffer, ctx->fill);
            } catch (...) {  // the host's sink failed; nothing may unwind through libcurl
                ctx->hostFailed = true;
                return 0;
            }
            ctx->fill = 0;
        }
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
    return Shielded(FILE_READ_FAILED, message, [&] {
        if (path == nullptr || *path == '\0') return SUCCESS;
        if (length <= 0) return SUCCESS;
        log_line(kTrace, "%s [%s] offset %lld, length %lld", "Read", path, offset, length);
        if (callback == nullptr || offset < 0 || offset > INT64_MAX - length)
            return Refuse(message, "Read", path, "invalid read request");
        if (handle && handle->state.load() >= FS_HANDLE_STOP) {
            log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path, 0);
            SetMessage(message, "canceled");
            return READ_CANCELED;
        }

        std::shared_ptr<CURLLogger> request = cq.GetCURL();
        AutoPutCURL<CURLLogger> guard(request, &cq);
        // Returning the object resets its handle, header and progress callbacks included,
        // so nothing set below outlives this read's context.

        const int64_t end = offset + length;  // one past the last byte wanted
        request->SetURL(get_fullurl(path).c_str());
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
        // One ranged GET from the next byte still needed up to (not including) upTo.
        auto fetch = [&](int64_t upTo) {
            request->AddHeader("Range", "bytes=" + std::to_string(Next(ctx.get())) + "-" +
                                            std::to_string(upTo - 1));
            _CURLRTN answer =
                request->PerformGet(reinterpret_cast<void*>(write_callback_cache_func), ctx.get());
            if (ctx->complete && answer.code == CURLE_WRITE_ERROR) {
                // Stopped on purpose once the range was in: a success with the answer's status.
                ctx->complete = false;
                _CURLRTN done;
                done.http_status = ctx->status;
                answer = done;
            }
            return answer;
        };
        int64_t before = Next(ctx.get());
        int64_t asked = end;
        _CURLRTN result = fetch(asked);

        // A 206 may stop short of the range while its Content-Range says the file goes on
        // (servers and proxies that cap the size of an answer; chezdav sends nothing at all
        // for a range that runs past the end): the rest is asked for, within the file, or the
        // host would take the short answer for the end of the file and cut its copy there.
        // Without a word of the file's size, an answer that brings nothing of the range (416,
        // empty, or only bytes before it, as webdav-server sends past the end) finds its end.
        Outcome outcome;
        for (int round = 1;; ++round) {
            if (result.code != 0 || result.http_status != 206 || ctx->rejected) break;
            const int64_t next = Next(ctx.get()), total = ctx->rangeTotal;
            const bool progressed = next > before;
            if (next >= end || (total >= 0 && total <= next) || (total < 0 && !progressed)) break;
            if (!progressed && asked <= total) {
                outcome.fault = "the server's answer holds none of the bytes it says the file has";
                break;
            }
            if (round == kMaxRounds) {
                outcome.fault = "the server's answers stopped short of the range " +
                                std::to_string(kMaxRounds) + " times";
                break;
            }
            before = next;
            asked = total >= 0 ? std::min(end, total) : end;
            _CURLRTN more = fetch(asked);
            if (more.code == 0 && more.http_status == 416) break;
            result = more;
        }

        bool undelivered = false;
        if (result.code == 0 && Is2xx(result.http_status) && outcome.fault.empty() &&
            !ctx->rejected && ctx->fill > 0) {
            // The answer ended before the requested length (end of file): the partial
            // block still belongs to the host.
            if (Stopped(ctx.get())) {
                undelivered = true;
            } else {
                try {
                    Deliver(ctx.get(), ctx->buffer, ctx->fill);
                    ctx->fill = 0;
                } catch (...) {
                    ctx->hostFailed = true;
                }
            }
        }

        if (ctx->rejected) {
            // Judged as the answer it was: its status, and why its bytes are not the range.
            result = _CURLRTN();
            result.http_status = ctx->status;
            outcome.fault = "answer does not hold the requested range";
        }
        if (ctx->hostFailed) outcome.fault = "the host's data sink failed";
        outcome.canceled = undelivered || (result.code != 0 && ctx->canceled);
        Verdict verdict = conclude(Operation::Read, result, message, outcome);
        if (verdict.logged)
            log_line(kError, "%s id: [%s] , exec error: [%d]", "Read", path,
                     undelivered ? 0 : result.http_status);
        return verdict.result;
    });
}
