// Upload: one PUT whose body is pulled from the host's cache as libcurl asks for it.
#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "../common/logstate.h"
#include "protocol.h"

namespace {

const LOGLEVEL kTrace = LOG_TRACE | LOG_PROTOCOL;
const LOGLEVEL kError = LOG_ERROR | LOG_PROTOCOL;

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

bool Stopped(const std::shared_ptr<_FS_HANDLE>& handle) {
    return handle && handle->state.load(std::memory_order_relaxed) >= FS_HANDLE_STOP;
}

std::string UploadPath(const char* id, const _FS_FILE* file) {
    return std::string(OrEmpty(id)) + "/" + file->name;
}

}  // namespace

size_t read_callback_cache_func(void* buffer, size_t size, size_t nmemb, void* context) {
    auto* ctx = static_cast<Protocol::_UPLOADCTX*>(context);
    if (Stopped(ctx->handle)) return CURL_READFUNC_ABORT;
    if (ctx->offset >= ctx->size) return 0;

    _READDATA request;
    request.buffer = static_cast<char*>(buffer);
    request.offset = ctx->offset;
    // Never invite the cache to hand over more than the length the request announced.
    request.capacity = std::min<uint64_t>(static_cast<uint64_t>(size) * nmemb,
                                          static_cast<uint64_t>(ctx->size - ctx->offset));
    request.bytesRead = 0;
    request.handle = ctx->handle;
    request.totalSize = ctx->size;
    request.reserved1 = 0;
    request.reserved2 = 0;
    if (ctx->cache != nullptr) ctx->cache->ReadData(&request);

    if (request.bytesRead < 0 || static_cast<uint64_t>(request.bytesRead) > request.capacity)
        return CURL_READFUNC_ABORT;  // the cache broke its contract
    ctx->offset += request.bytesRead;
    if (Stopped(ctx->handle)) return CURL_READFUNC_ABORT;
    if (request.bytesRead == 0) {
        // The server would wait for the rest of the announced body; stop now instead.
        ctx->shortBody = true;
        return CURL_READFUNC_ABORT;
    }
    if (ctx->handle) ctx->handle->position.store(ctx->offset);
    return static_cast<size_t>(request.bytesRead);
}

int seek_callback_cache_func(void* context, curl_off_t offset, int origin) {
    auto* ctx = static_cast<Protocol::_UPLOADCTX*>(context);
    if (ctx == nullptr) return CURL_SEEKFUNC_FAIL;
    int64_t base = 0;
    switch (origin) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = ctx->offset;
            break;
        case SEEK_END:
            base = ctx->size;
            break;
        default:
            return CURL_SEEKFUNC_FAIL;
    }
    // Compared without forming base + offset, which could overflow.
    if (offset < -base || offset > ctx->size - base) return CURL_SEEKFUNC_FAIL;
    ctx->offset = base + offset;
    // The bytes after this point go out again; the host sees the upload step back.
    if (ctx->handle) ctx->handle->position.store(ctx->offset);
    return CURL_SEEKFUNC_OK;
}

_CURLRTN Protocol::_Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, ICacheIO* cache,
                           _FS_FILE* file, char** /*message*/) {
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    std::string upath = UploadPath(id, file);
    request->SetRequest("PUT");
    request->SetURL(get_fullurl(upath.c_str()).c_str());
    request->SetSpeedLimit(speedLimit);
    request->SetPostFileSize(file->size);
    // Empty values make libcurl send no header of that name, its own ones included.
    request->AddHeader("Content-Type", "");
    if (!useExpect) request->AddHeader("Expect", "");

    _UPLOADCTX context;
    context.offset = 0;
    context.handle = handle;
    context.cache = cache;
    context.size = file->size;

    set_extra_opts(request, authType);
    if (handle) request->BindHandle(handle);
    // libcurl sends the body again after a redirect, an authentication round or a
    // kept-alive connection found dead; the cache is random access, so rewinding is cheap.
    request->SetSeekFunction(seek_callback_cache_func, &context);
    _CURLRTN result = request->PerformPost(reinterpret_cast<void*>(read_callback_cache_func),
                                           &context, file->size);
    if (context.shortBody && result.code != 0) {
        result.message = "the cache ended the file at byte " + std::to_string(context.offset) +
                         " of " + std::to_string(context.size);
    }
    return result;
}

AERROR Protocol::Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, ICacheIO* cache,
                        _FS_FILE* file, char** message) {
    if (file == nullptr) return INVALID_PARAMETER;
    log_line(kTrace, "%s id [%s], name [%s]", "Upload", OrEmpty(id), file->name.c_str());
    std::string upath = UploadPath(id, file);
    if (file->size < 0 || (cache == nullptr && file->size > 0)) {
        if (message != nullptr) *message = strdup("invalid upload request");
        return INVALID_PARAMETER;
    }
    if (Stopped(handle)) {
        if (message != nullptr) *message = nullptr;
        log_line(kError, "%s upath: [%s] , code :[%d], exec error: [%d]", "Upload", upath.c_str(),
                 static_cast<int>(CURLE_ABORTED_BY_CALLBACK), 0);
        return FILE_WRITE_FAILED;
    }

    _CURLRTN result = _Upload(id, handle, cache, file, message);
    if (useExpect && result.http_status == 417) {
        useExpect = false;
        log_line(kError, "%s http 417 error, retry without Expect. upath: [%s] ", "Upload",
                 upath.c_str());
        result = _Upload(id, handle, cache, file, message);
    }
    get_err_msg(result, message);

    if (result.http_status == 401 || result.http_status == 403) return ACCESS_DENIED;
    if (static_cast<uint32_t>(result.http_status) < 300 && result.code == 0)
        return GetFileInfo(upath.c_str(), file, nullptr);
    log_line(kError, "%s upath: [%s] , code :[%d], exec error: [%d]", "Upload", upath.c_str(),
             result.code, result.http_status);
    return FILE_WRITE_FAILED;
}
