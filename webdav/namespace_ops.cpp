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
    return Shielded(FAILED, message, [&] {
        if (file == nullptr) return Refuse(message, "Rename", id, "no record");
        log_line(kTrace, "%s id [%s], target [%s], filename [%s]", "Rename", OrEmpty(id),
                 OrEmpty(target), file->name.c_str());
        return Move(id, target, file, message);
    });
}

AERROR Protocol::MoveDir(const char* id, const char* target, _FS_FILE* file, char** message) {
    return Shielded(FAILED, message, [&] {
        if (file == nullptr) return Refuse(message, "MoveDir", id, "no record");
        log_line(kTrace, "%s id [%s], target [%s] file->filename[%s]", "MoveDir", OrEmpty(id),
                 OrEmpty(target), file->name.c_str());
        return MoveItem(id, target, file, message, true);
    });
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
    return Shielded(FAILED, message, [&] {
        if (file == nullptr) return Refuse(message, "Move", id, "no record");
        return MoveItem(id, target, file, message, IsFolder(file));
    });
}

AERROR Protocol::MoveItem(const char* id, const char* target, _FS_FILE* file, char** message,
                          bool collection) {
    if (!IsPlainName(file->name)) return RefuseName(message, "Move", id, file->name);
    std::string dest = std::string(OrEmpty(target)) + "/" + file->name;

    _CURLRTN result = _Move(id, target, file, message, absoluteDestination, collection);
    get_err_msg(result, message);
    // Some servers only accept a server-relative Destination; once that form has
    // worked it is used first for the rest of this object's life.
    if (result.http_status == 400 && absoluteDestination) {
        result = _Move(id, target, file, message, false, collection);
        if (static_cast<uint32_t>(result.http_status) < 300) absoluteDestination = false;
    }

    // The message tells of the first answer, also when a retry followed.
    Verdict verdict = conclude(Operation::Move, result, message, member_failure(result), true);
    if (verdict.result == SUCCESS) return refresh(dest, file);
    if (verdict.logged)
        log_line(kError, "%s id: [%s] , exec error: [%d]", "Move", OrEmpty(id), result.http_status);
    return verdict.result;
}

AERROR Protocol::CreateDirectory(const char* id, _FS_FILE* file, char** message) {
    return Shielded(FOLDER_CREATION_FAILED, message, [&] {
        log_line(kTrace, "%s id: [%s]", "CreateDirectory", OrEmpty(id));
        if (file == nullptr) return Refuse(message, "CreateDirectory", id, "no record");
        if (!IsPlainName(file->name)) return RefuseName(message, "CreateDirectory", id, file->name);
        std::shared_ptr<CURLLogger> request = cq.GetCURL();
        AutoPutCURL<CURLLogger> guard(request, &cq);

        std::string path = std::string(OrEmpty(id)) + "/" + file->name;
        request->SetRequest("MKCOL");
        request->SetURL(get_fullurl(CollectionPath(path.c_str(), true).c_str()).c_str());
        set_extra_opts(request, authType);
        _CURLRTN result = request->PerformGet(nullptr, nullptr);

        Verdict verdict = conclude(Operation::Mkcol, result, message);
        if (verdict.result == SUCCESS) return refresh(path, file);
        if (verdict.logged)
            log_line(kError, "%s id: [%s] , exec error: [%d]", "CreateDirectory", OrEmpty(id),
                     result.http_status);
        return verdict.result;
    });
}

AERROR Protocol::Delete(const char* id, char** message) {
    return Shielded(FAILED, message, [&] { return DeleteItem(id, message, false); });
}

AERROR Protocol::DeleteItem(const char* id, char** message, bool collection) {
    log_line(kTrace, "%s id: [%s]", "Delete", OrEmpty(id));
    // An empty id addresses the connection root itself: deleting it would wipe
    // everything the host has mounted, so it is never sent.
    if (id == nullptr || *id == '\0') return Refuse(message, "Delete", id, "the connection root");
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    request->SetRequest("DELETE");
    request->SetURL(get_fullurl(CollectionPath(id, collection).c_str()).c_str());
    set_extra_opts(request, authType);
    _CURLRTN result = request->PerformGet(nullptr, nullptr);

    // RFC 4918 9.6.1: a DELETE answered 207 names the members it could not delete.
    Verdict verdict = conclude(Operation::Delete, result, message, member_failure(result));
    if (verdict.logged)
        log_line(kError, "%s id: [%s] , exec error: [%d]", "Delete", id, result.http_status);
    return verdict.result;
}

AERROR Protocol::DeleteDirectory(const char* id, char** message) {
    return Shielded(FAILED, message, [&] {
        log_line(kTrace, "%s id: [%s]", "DeleteDirectory", OrEmpty(id));
        return DeleteItem(id, message, true);
    });
}
