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

// The id of a host path: one "/" before each name, none last, the root "" (a path built
// on the root "/" is "//name").
std::string ItemId(const char* path) {
    std::string id;
    for (const char* p = OrEmpty(path); *p != '\0'; ++p) {
        if (*p == '/' && (p[1] == '/' || p[1] == '\0')) continue;
        if (id.empty() && *p != '/') id += '/';
        id += *p;
    }
    return id;
}

// Ids compared as a server on a case-insensitive disk compares them (in ASCII, whatever the
// host's locale); a case-sensitive server never answers for two items that differ only so.
bool SameId(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

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
    return Shielded(FAILED, message, [&] {
        log_line(LOG_TRACE | LOG_PROTOCOL, "%s id: [%s]", "GetFileList", OrEmpty(id));
        MultistatusRecords records(*this);
        _CURLRTN result = do_propfind(id, authType.load(), "1", nullptr, &records);
        Verdict verdict = conclude(Operation::List, result, message);
        if (verdict.logged)
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d, %d]", "GetFileList",
                     OrEmpty(id), result.code, result.http_status);
        if (verdict.result != SUCCESS) return verdict.result;
        Chain chain;
        if (!AnswerRecords(records, chain)) return FAILED;
        if (list == nullptr) return SUCCESS;
        const std::string folder = ItemId(id);
        for (nodeinfo* entry = chain.head; entry != nullptr; entry = entry->next) {
            // Only the folder's own members: never the folder itself, nor anything a server
            // or proxy lists beside them.
            const std::string& member = entry->file.id;
            size_t slash = member.rfind('/');
            if (slash == std::string::npos || !SameId(member.substr(0, slash), folder)) continue;
            list->AddFile(&entry->file);
        }
        return SUCCESS;
    });
}

AERROR Protocol::stat_entry(const char* id, nodeinfo* found, char** message) {
    log_line(LOG_TRACE | LOG_PROTOCOL, "%s id: [%s]", "GetFileInfo", OrEmpty(id));
    MultistatusRecords records(*this);
    _CURLRTN result = do_propfind(id, authType.load(), "0", nullptr, &records);
    Verdict verdict = conclude(Operation::Stat, result, message);
    Chain chain;
    if (verdict.result == SUCCESS && !AnswerRecords(records, chain)) verdict = {FAILED, true};
    if (verdict.logged)
        log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d]", "GetFileInfo",
                 OrEmpty(id), result.http_status);
    if (verdict.result != SUCCESS) return verdict.result;

    // The response for the path asked for, wherever it stands: a server or proxy that
    // ignores Depth lists children too, and the last of them is not the item. A server on a
    // case-insensitive disk may spell the one item it describes otherwise.
    const std::string wanted = ItemId(id);
    nodeinfo* match = nullptr;
    for (nodeinfo* entry = chain.head; entry != nullptr && match == nullptr; entry = entry->next)
        if (entry->file.id == wanted) match = entry;
    if (match == nullptr && chain.head != nullptr && chain.head->next == nullptr &&
        SameId(chain.head->file.id, wanted))
        match = chain.head;
    if (match == nullptr) {
        log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d]", "GetFileInfo",
                 OrEmpty(id), result.http_status);
        ReplaceMessage(message, ("the server's answer does not describe " +
                                 (wanted.empty() ? std::string("/") : wanted))
                                    .c_str());
        return FILE_NOT_FOUND;
    }
    if (found != nullptr) {
        found->file = match->file;
        found->hasSize = match->hasSize;
    }
    return SUCCESS;
}

AERROR Protocol::refresh(const std::string& path, _FS_FILE* file, nodeinfo* found) {
    // Until the server answers for it, the record names the new item (never the root).
    file->id = ItemId(path.c_str());
    file->name = file->id.substr(file->id.rfind('/') + 1);
    nodeinfo entry;
    AERROR result = stat_entry(file->id.c_str(), &entry, nullptr);
    if (result != SUCCESS) return result;
    *file = entry.file;
    if (found != nullptr) *found = entry;
    return SUCCESS;
}

AERROR Protocol::GetFileInfo(const char* id, _FS_FILE* file, char** message) {
    return Shielded(FAILED, message, [&] {
        nodeinfo entry;
        AERROR result = stat_entry(id, &entry, message);
        if (result == SUCCESS && file != nullptr) *file = entry.file;
        return result;
    });
}

AERROR Protocol::GetChanges(IFileChanges*, char**) {
    return SUCCESS;
}
