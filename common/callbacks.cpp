// The double-valued speed query is deprecated upstream but gives fractional speeds.
#define CURL_DISABLE_DEPRECATION 1

#include "callbacks.h"

#include <event2/buffer.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "curlimpl.h"

CURLcode fit_response_sizes(size_t total, long long headerBytes, int32_t& headersSize,
                            int32_t& bodySize) {
    constexpr size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    size_t head = headerBytes > 0 ? static_cast<size_t>(headerBytes) : 0;
    // libcurl's header count can only exceed what we collected if it counted
    // bytes that never reached the write callback; never let the body go negative.
    if (head > total) head = total;
    size_t body = total - head;
    headersSize = 0;
    bodySize = 0;
    if (head > limit || body > limit) return CURLE_FILESIZE_EXCEEDED;
    headersSize = static_cast<int32_t>(head);
    bodySize = static_cast<int32_t>(body);
    return CURLE_OK;
}

CURLcode take_response(evbuffer* buffer, long long headerBytes, _CURLRTN& result,
                       void* (*allocate)(size_t, size_t)) {
    int32_t headersSize = 0;
    int32_t bodySize = 0;
    CURLcode code =
        fit_response_sizes(evbuffer_get_length(buffer), headerBytes, headersSize, bodySize);
    std::shared_ptr<char> headers;
    std::shared_ptr<char> body;
    if (code == CURLE_OK && headersSize > 0) {
        headers.reset(static_cast<char*>(allocate(static_cast<size_t>(headersSize) + 1, 1)), free);
        if (!headers) code = CURLE_OUT_OF_MEMORY;
    }
    if (code == CURLE_OK && bodySize > 0) {
        body.reset(static_cast<char*>(allocate(static_cast<size_t>(bodySize), 1)), free);
        if (!body) code = CURLE_OUT_OF_MEMORY;
    }
    if (code != CURLE_OK) {
        result.http_status = 0;
        result.upload_speed = 0.0;
        result.download_speed = 0.0;
        result.headers.reset();
        result.headers_size = 0;
        result.body.reset();
        result.body_size = 0;
        result.message = code == CURLE_FILESIZE_EXCEEDED
                             ? "Response too large to keep in memory"
                             : "Out of memory while keeping the response";
        return code;
    }
    if (headers) {
        evbuffer_remove(buffer, headers.get(), static_cast<size_t>(headersSize));
        result.headers = std::move(headers);
        result.headers_size = headersSize;
    }
    if (body) {
        evbuffer_remove(buffer, body.get(), static_cast<size_t>(bodySize));
        result.body = std::move(body);
        result.body_size = bodySize;
    }
    return CURLE_OK;
}

size_t write_callback_ev_func(void* ptr, size_t size, size_t nmemb, void* userdata) {
    size_t n = size * nmemb;
    // A chunk we cannot keep must abort the transfer rather than leave a hole in the answer.
    if (n > 0 && evbuffer_add(static_cast<evbuffer*>(userdata), ptr, n) != 0) return 0;
    return n;
}

size_t read_callback_buf_func(void* buffer, size_t size, size_t nitems, void* userdata) {
    auto* cursor = static_cast<_BUFREADCTX*>(userdata);
    size_t n = size * nitems;
    if (n == 0) return 0;
    if (cursor->pos < 0) return 0;  // never read ahead of the body
    int64_t left = cursor->size - cursor->pos;
    if (left <= 0) return 0;
    if (static_cast<uint64_t>(left) < n) n = static_cast<size_t>(left);
    std::memcpy(buffer, cursor->data + cursor->pos, n);
    cursor->pos += static_cast<int64_t>(n);
    return n;
}

int read_callback_buf_seek_func(void* userdata, long long offset, int origin) {
    auto* cursor = static_cast<_BUFREADCTX*>(userdata);
    if (!cursor) return CURL_SEEKFUNC_FAIL;
    int64_t pos = cursor->pos;
    switch (origin) {
        case SEEK_SET:
            pos = offset;
            break;
        case SEEK_CUR:
            pos += offset;
            break;
        case SEEK_END:
            pos = cursor->size + offset;
            break;
        default:
            break;
    }
    // A position before the body would make the next read copy from outside it.
    if (pos < 0) return CURL_SEEKFUNC_FAIL;
    cursor->pos = pos;
    return CURL_SEEKFUNC_OK;
}

int _CURL_PROGRESS(void* clientp, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
    auto* binding = static_cast<CURLImpl::ProgressBinding*>(clientp);
    if (!binding || !binding->fn) return 0;
    double speed = 0.0;
    if (curl_easy_getinfo(binding->handle, CURLINFO_SPEED_UPLOAD, &speed) != CURLE_OK) speed = 0.0;
    try {
        binding->fn(static_cast<long>(ultotal), static_cast<long>(ulnow), binding->context, speed);
    } catch (...) {
        return 1;  // nothing may unwind through libcurl: the transfer ends instead
    }
    return 0;
}

int _sockopt_callback(void*, curl_socket_t fd, curlsocktype) {
    int size = 1048576;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(int));
    return CURL_SOCKOPT_OK;
}
