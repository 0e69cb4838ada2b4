// Free libcurl callbacks of the transport and the outcome record of a perform.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

// Outcome of one performed request. Copies share the buffers.
struct _CURLRTN {
    int32_t code = 0;            // CURLcode of curl_easy_perform
    std::string message;         // libcurl's error text, empty if none
    int32_t http_status = 0;     // last response status; 0 unless code is 0
    std::shared_ptr<char> body;  // response body (not NUL-terminated), or null
    int32_t body_size = 0;
    std::shared_ptr<char> headers;  // raw header bytes + NUL (PerformPost only), or null
    int32_t headers_size = 0;
    double upload_speed = 0.0;  // bytes per second
    double download_speed = 0.0;
};

// Memory read cursor for request bodies.
struct _BUFREADCTX {
    const char* data = nullptr;
    int64_t pos = 0;
    int64_t size = 0;
};

struct evbuffer;

// Fits a collected answer of `total` bytes, the first `headerBytes` of them
// headers (-1: no headers were collected), into the record's 32-bit sizes.
// CURLE_FILESIZE_EXCEEDED when either part does not fit.
CURLcode fit_response_sizes(size_t total, long long headerBytes, int32_t& headersSize,
                            int32_t& bodySize);

// Moves a collected answer out of `buffer` into `result` (headers with a
// trailing NUL, then the body). On failure (too large, or a block that cannot
// be allocated) it returns the libcurl code and leaves the record with no
// status, buffers, sizes or speeds, and a message saying why.
CURLcode take_response(evbuffer* buffer, long long headerBytes, _CURLRTN& result,
                       void* (*allocate)(size_t count, size_t size) = calloc);

size_t write_callback_ev_func(void* ptr, size_t size, size_t nmemb, void* userdata);
size_t read_callback_buf_func(void* buffer, size_t size, size_t nitems, void* userdata);
int read_callback_buf_seek_func(void* userdata, long long offset, int origin);

int _CURL_PROGRESS(void* clientp, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                   curl_off_t ulnow);
int _sockopt_callback(void* clientp, curl_socket_t fd, curlsocktype purpose);
