// Listing and stat: one PROPFIND each, answered by a multistatus document.

#include <cstring>
#include <string>

#include "../common/logstate.h"
#include "multistatus.h"
#include "protocol.h"

namespace {

const char kPropfindBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:propfind xmlns:D=\"DAV:\"><D:prop>"
    "<D:resourcetype /><D:getcontentlength /><D:creationdate /><D:lastaccessed "
    "/><D:getlastmodified />"
    "</D:prop></D:propfind>";

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

bool IsSingleAuthScheme(long scheme) {
    switch (static_cast<unsigned long>(scheme)) {
        case CURLAUTH_BASIC:
        case CURLAUTH_DIGEST:
        case CURLAUTH_NEGOTIATE:
        case CURLAUTH_NTLM:
        case CURLAUTH_DIGEST_IE:
        case 32:  // NTLM through winbind
        case CURLAUTH_ONLY:
            return true;
        default:
            return false;
    }
}

// Owns a parsed chain of entries.
struct Chain {
    nodeinfo* head = nullptr;
    ~Chain() { Protocol::nodeinfoFree(head); }
};

// Only a 2xx answer is the multistatus; the bodies of authentication rounds and
// redirects are passed over.
bool FeedSuccessfulAnswer(long status, const char* data, size_t size, void* records) {
    if (status < 200 || status >= 300) return true;
    return static_cast<MultistatusRecords*>(records)->Feed(data, size);
}

// The records of a 2xx answer, read while it arrived; false when it is not a usable
// multistatus.
bool AnswerRecords(MultistatusRecords& records, Chain& chain) {
    if (!records.Finish()) return false;
    chain.head = records.Take();
    return true;
}

}  // namespace

std::string Protocol::get_fullurl(const char* path) {
    if (path == nullptr || *path == '\0') return url;
    if (*path == '/') return url + URLEncode(path);
    return url + "/" + URLEncode(path);
}

_CURLRTN Protocol::do_propfind(const char* path, int authType, const char* depth, long* offeredAuth,
                               MultistatusRecords* records) {
    std::string body(kPropfindBody, sizeof(kPropfindBody) - 1);

    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);

    request->SetRequest("PROPFIND");
    request->SetURL(get_fullurl(path).c_str());
    request->AddHeader("Depth", depth);
    if (gzip) request->AddHeader("Accept-encoding", "gzip");
    request->AddHeader("Content-Type", "text/xml");
    set_extra_opts(request, authType);
    // The answer is read as it arrives and not also kept: a listing never holds it twice.
    if (records != nullptr) request->SetBodyTap(&FeedSuccessfulAnswer, records, false);

    _CURLRTN result = request->PerformPost(body);

    if (offeredAuth != nullptr) {
        long offered = 0;
        if (curl_easy_getinfo(static_cast<CURL*>(request->GetCURL()), CURLINFO_HTTPAUTH_AVAIL,
                              &offered) != CURLE_OK) {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s Failed to get auth type", "do_propfind");
            offered = WEBDAV_CURLAUTH_ANY;
        } else if (!IsSingleAuthScheme(offered)) {
            // None offered (no authentication needed) or several: let libcurl choose.
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s Got auth type but not support", "do_propfind");
            offered = WEBDAV_CURLAUTH_ANY;
        }
        *offeredAuth = offered;
    }
    return result;
}

AERROR Protocol::GetFileList(const char* id, IFileList* list, char** message) {
    log_line(LOG_TRACE | LOG_PROTOCOL, "%s id: [%s]", "GetFileList", OrEmpty(id));
    try {
        MultistatusRecords records(*this);
        _CURLRTN result = do_propfind(id, authType.load(), "1", nullptr, &records);
        get_err_msg(result, message);
        if (result.http_status == 401 || result.http_status == 403) return ACCESS_DENIED;
        if (result.http_status >= 300 || result.code != 0) {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d, %d]", "GetFileList",
                     OrEmpty(id), result.code, result.http_status);
            return FAILED;
        }
        Chain chain;
        if (!AnswerRecords(records, chain)) return FAILED;
        if (list != nullptr) {
            for (nodeinfo* entry = chain.head; entry != nullptr; entry = entry->next) {
                // The root and the listed folder itself are not children.
                if (entry->file.id.empty()) continue;
                if (id != nullptr && entry->file.id == id) continue;
                list->AddFile(&entry->file);
            }
        }
        return SUCCESS;
    } catch (...) {
        return FAILED;
    }
}

AERROR Protocol::GetFileInfo(const char* id, _FS_FILE* file, char** message) {
    log_line(LOG_TRACE | LOG_PROTOCOL, "%s id: [%s]", "GetFileInfo", OrEmpty(id));
    try {
        MultistatusRecords records(*this);
        _CURLRTN result = do_propfind(id, authType.load(), "0", nullptr, &records);
        get_err_msg(result, message);
        if (result.http_status == 401 || result.http_status == 403) return ACCESS_DENIED;
        if (result.http_status >= 300 || result.code != 0) {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d]", "GetFileInfo",
                     OrEmpty(id), result.http_status);
            return FAILED;
        }
        Chain chain;
        if (!AnswerRecords(records, chain)) {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d]", "GetFileInfo",
                     OrEmpty(id), result.http_status);
            return FAILED;
        }
        if (file != nullptr) {
            for (nodeinfo* entry = chain.head; entry != nullptr; entry = entry->next) {
                file->creationTime = entry->file.creationTime;
                file->modifiedTime = entry->file.modifiedTime;
                file->accessTime = entry->file.accessTime;
                file->name = entry->file.name;
                file->size = entry->file.size;
                file->attributes = entry->file.attributes;
                file->id = entry->file.id;
            }
        }
        return SUCCESS;
    } catch (...) {
        return FAILED;
    }
}

AERROR Protocol::GetChanges(IFileChanges*, char**) {
    return SUCCESS;
}
