// Changes to the remote namespace: MOVE, MKCOL and DELETE.
#include <cstdint>
#include <string>

#include "../common/logstate.h"
#include "protocol.h"

namespace {

const LOGLEVEL kTrace = LOG_TRACE | LOG_PROTOCOL;
const LOGLEVEL kError = LOG_ERROR | LOG_PROTOCOL;

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Statuses are compared unsigned so that a negative value never counts as success.
bool Succeeded(const _CURLRTN& result) {
    return static_cast<uint32_t>(result.http_status) < 300 && result.code == 0;
}
bool Denied(const _CURLRTN& result) {
    return result.http_status == 401 || result.http_status == 403;
}

// The server-relative form of an absolute URL: everything from the "/" that follows
// the scheme and authority.
std::string ServerRelative(const std::string& full) {
    size_t scheme = full.find("://");
    size_t slash = scheme != std::string::npos ? full.find('/', scheme + 3) : full.find('/');
    if (slash == std::string::npos) return "/";
    return full.substr(slash);
}

// Collections are addressed with a trailing "/": some servers (nginx) refuse
// MKCOL, DELETE and MOVE of a collection without it, and the others accept it.
std::string CollectionPath(const char* id, bool collection) {
    std::string path = OrEmpty(id);
    if (collection && (path.empty() || path.back() != '/')) path += '/';
    return path;
}

bool IsFolder(const _FS_FILE* file) {
    return (file->attributes & FA_DIRECTORY) == FA_DIRECTORY;
}

}  // namespace

AERROR Protocol::Rename(const char* id, const char* target, _FS_FILE* file, char** message) {
    if (file == nullptr) return INVALID_PARAMETER;
    log_line(kTrace, "%s id [%s], target [%s], filename [%s]", "Rename", OrEmpty(id),
             OrEmpty(target), file->name.c_str());
    return Move(id, target, file, message);
}

AERROR Protocol::MoveDir(const char* id, const char* target, _FS_FILE* file, char** message) {
    if (file == nullptr) return INVALID_PARAMETER;
    log_line(kTrace, "%s id [%s], target [%s] file->filename[%s]", "MoveDir", OrEmpty(id),
             OrEmpty(target), file->name.c_str());
    return MoveItem(id, target, file, message, true);
}

_CURLRTN Protocol::_Move(const char* id, const char* target, _FS_FILE* file, char** /*message*/,
                         bool absolute, bool collection) {
    log_line(kTrace, "%s id [%s] target [%s], filename [%s]", "_Move", OrEmpty(id), OrEmpty(target),
             file->name.c_str());
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    std::string dest = std::string(OrEmpty(target)) + "/" + file->name;
    request->SetRequest("MOVE");
    request->SetURL(get_fullurl(CollectionPath(id, collection).c_str()).c_str());
    std::string full = get_fullurl(CollectionPath(dest.c_str(), collection).c_str());
    request->AddHeader("Destination", absolute ? full : ServerRelative(full));
    // Overwriting is what RFC 4918 defines for an absent header, but some
    // servers (rclone, webdav-server) read absence as "F" and answer 412.
    request->AddHeader("Overwrite", "T");
    set_extra_opts(request, authType);
    return request->PerformGet(nullptr, nullptr);
}

AERROR Protocol::Move(const char* id, const char* target, _FS_FILE* file, char** message) {
    if (file == nullptr) return INVALID_PARAMETER;
    return MoveItem(id, target, file, message, IsFolder(file));
}

AERROR Protocol::MoveItem(const char* id, const char* target, _FS_FILE* file, char** message,
                          bool collection) {
    if (file == nullptr) return INVALID_PARAMETER;
    std::string dest = std::string(OrEmpty(target)) + "/" + file->name;

    _CURLRTN result = _Move(id, target, file, message, absoluteDestination, collection);
    get_err_msg(result, message);
    // Some servers only accept a server-relative Destination; once that form has
    // worked it is used first for the rest of this object's life.
    if (result.http_status == 400 && absoluteDestination) {
        result = _Move(id, target, file, message, false, collection);
        if (static_cast<uint32_t>(result.http_status) < 300) absoluteDestination = false;
    }

    if (Denied(result)) return ACCESS_DENIED;
    if (Succeeded(result)) return GetFileInfo(dest.c_str(), file, nullptr);
    log_line(kError, "%s id: [%s] , exec error: [%d]", "Move", OrEmpty(id), result.http_status);
    return FAILED;
}

AERROR Protocol::CreateDirectory(const char* id, _FS_FILE* file, char** message) {
    log_line(kTrace, "%s id: [%s]", "CreateDirectory", OrEmpty(id));
    if (file == nullptr) return INVALID_PARAMETER;
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    std::string path = std::string(OrEmpty(id)) + "/" + file->name;
    request->SetRequest("MKCOL");
    request->SetURL(get_fullurl(CollectionPath(path.c_str(), true).c_str()).c_str());
    set_extra_opts(request, authType);
    _CURLRTN result = request->PerformGet(nullptr, nullptr);
    get_err_msg(result, message);

    if (Denied(result)) return ACCESS_DENIED;
    if (Succeeded(result)) return GetFileInfo(path.c_str(), file, nullptr);
    log_line(kError, "%s id: [%s] , exec error: [%d]", "CreateDirectory", OrEmpty(id),
             result.http_status);
    return FOLDER_CREATION_FAILED;
}

AERROR Protocol::Delete(const char* id, char** message) {
    return DeleteItem(id, message, false);
}

AERROR Protocol::DeleteItem(const char* id, char** message, bool collection) {
    log_line(kTrace, "%s id: [%s]", "Delete", OrEmpty(id));
    // An empty id addresses the connection root itself: deleting it would wipe
    // everything the host has mounted, so it is never sent.
    if (id == nullptr || *id == '\0') {
        log_line(kError, "%s id: [%s] , refused: the connection root", "Delete", OrEmpty(id));
        return INVALID_PARAMETER;
    }
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    request->SetRequest("DELETE");
    request->SetURL(get_fullurl(CollectionPath(id, collection).c_str()).c_str());
    set_extra_opts(request, authType);
    _CURLRTN result = request->PerformGet(nullptr, nullptr);
    get_err_msg(result, message);

    if (Denied(result)) return ACCESS_DENIED;
    if (Succeeded(result)) return SUCCESS;
    log_line(kError, "%s id: [%s] , exec error: [%d]", "Delete", id, result.http_status);
    return FAILED;
}

AERROR Protocol::DeleteDirectory(const char* id, char** message) {
    log_line(kTrace, "%s id: [%s]", "DeleteDirectory", OrEmpty(id));
    return DeleteItem(id, message, true);
}
