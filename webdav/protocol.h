// The WebDAV protocol object the host obtains from GetProtocol.
#pragma once

#include <libxml/tree.h>

#include <atomic>
#include <memory>
#include <string>

#include "../common/callbacks.h"
#include "../common/curllogger.h"
#include "../common/curlqueue.h"
#include "../compiled/cache.h"
#include "../compiled/filesystem.h"
#include "../compiled/logger.h"
#include "results.h"

// The process-wide pool of request objects shared by every Protocol.
extern CURLQueue<CURLLogger> cq;

// One parsed PROPFIND response.
struct nodeinfo {
    nodeinfo* next = nullptr;
    _FS_FILE file;
    bool hasSize = false;  // the server reported a size (file.size is 0 otherwise)
};

// Percent-encodes every byte but letters, digits and "/_-.".
std::string URLEncode(const char* text);
// Percent-decodes an href; "%00" ends the text, an invalid escape is kept as it stands.
std::string URLDecode(const char* text);
// The path an href names (scheme and host dropped), decoded segment by segment with "." and
// ".." resolved; an encoded "/" stays "%2F" inside its segment, and "%00" ends the path. False
// for a relative reference.
bool HrefPath(const char* text, size_t size, std::string& path);
// Converts text between character sets; returns it unchanged when conversion fails.
std::string iconv_covert(std::string to, std::string from, std::string text, int* status);

class MultistatusRecords;

constexpr int WEBDAV_CURLAUTH_ANY = static_cast<int>(0xFFFFFFEF);

class Protocol : public IProtocol_V2 {
public:
    Protocol(const char* address, IProtocolManager* manager);

    // IRefObject / IProtocol_V1
    void Release() override;
    AERROR GetUserInfo(char* buffer, int* size) override;
    AERROR GetQuota(unsigned long long* total, unsigned long long* used) override;
    AERROR SetQuota(unsigned long long total, unsigned long long used) override;
    AERROR GetType(char** type) override;
    AERROR GetFileList(const char* id, IFileList* list, char** message) override;
    AERROR GetChanges(IFileChanges* changes, char** message) override;
    AERROR GetFileInfo(const char* id, _FS_FILE* file, char** message) override;
    AERROR Rename(const char* id, const char* target, _FS_FILE* file, char** message) override;
    AERROR Move(const char* id, const char* target, _FS_FILE* file, char** message) override;
    AERROR MoveDir(const char* id, const char* target, _FS_FILE* file, char** message) override;
    AERROR CreateDirectory(const char* id, _FS_FILE* file, char** message) override;
    AERROR Delete(const char* id, char** message) override;
    AERROR DeleteDirectory(const char* id, char** message) override;
    AERROR Read(const char* id, long long offset, long long length,
                std::shared_ptr<_FS_HANDLE> handle, IFetchCallback* callback,
                char** message) override;
    AERROR Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, ICacheIO* cache,
                  _FS_FILE* file, char** message) override;
    AERROR SetFileTime(const char* id, std::string time1, std::string time2, std::string time3,
                       _FS_FILE* file, char** message) override;
    AERROR SetOpt(const char* name, const char* value) override;
    AERROR Connect() override;
    AERROR GetCredential(char* buffer, int* size) override;
    AERROR SetCredential(const char* credential) override;
    AERROR TestConnect(char** message) override;
    PT_FEATURE GetFeature() override;
    void SetQuotaCallback(void* context,
                          bool (*callback)(void* context, void* protocol, long long* total,
                                           long long* remaining)) override;
    void FreeMsg(char* message) override;
    // IProtocol_V2
    AERROR GetIdentifier(char* buffer, int* size) override;
    AERROR GetRootID(char* buffer, int* size) override;

    virtual ~Protocol();
    virtual AERROR AddAuth(std::shared_ptr<IAuth> auth);

    // Building blocks shared by the operations (public for white-box tests).
    std::string get_fullurl(const char* path);
    // With records, a 2xx answer's body is also turned into them while it arrives.
    _CURLRTN do_propfind(const char* path, int authType, const char* depth, long* offeredAuth,
                         MultistatusRecords* records = nullptr);
    void set_extra_opts(std::shared_ptr<CURLLogger> request, int authType);
    // The mount asked to check the server (verification, a CA file or a pin): it never falls
    // back to old ciphers.
    bool checks_server() const;
    void get_err_msg(_CURLRTN result, char** message);
    // The result of op from its request's answer (one table for every operation), with the
    // host's message: made from answer unless described (it tells of an earlier answer),
    // replaced by the outcome's fault, and never empty for a failure.
    Verdict conclude(Operation op, const _CURLRTN& answer, char** message,
                     const Outcome& outcome = {}, bool described = false);
    // Where the id of path begins when path lies in the connection's root.
    bool under_root(const std::string& path, size_t* idStart) const;
    // A failing member of a 207 answer to DELETE or MOVE, as the outcome's fault.
    Outcome member_failure(const _CURLRTN& answer);

    nodeinfo* parsePropfindAnswer(xmlNodePtr root);
    nodeinfo* parsePropfindResponse(xmlNodePtr response);
    nodeinfo* parsePropfindHref(xmlNodePtr href);
    void parsePropfindPropstat(xmlNodePtr propstat, nodeinfo* entry);
    void parsePropfindProp(xmlNodePtr prop, nodeinfo* entry);
    static nodeinfo* nodeinfoNew();
    static void nodeinfoFree(nodeinfo* chain);

    // Read context: one per Read, on the heap (it holds the 64 KiB staging buffer).
    struct _RAWRITECTX {
        int64_t offset = 0;
        int64_t remaining = 0;
        std::shared_ptr<_FS_HANDLE> handle;
        char buffer[65536];
        int32_t fill = 0;
        IFetchCallback* callback = nullptr;

        // What the answer's head says about the body, filled by header_callback_range_func
        // and judged before the first body byte is taken.
        int32_t status = 0;       // status of the answer being received; 0: not known
        int64_t rangeStart = -1;  // first byte of a Content-Range; -1 none, -2 unusable
        bool encoded = false;     // Content-Encoding other than identity
        bool multipart = false;   // multipart/byteranges body
        bool judged = false;      // the body of this answer has been judged
        bool deliver = false;     // the body is file data (2xx answer)
        int64_t skip = 0;         // body bytes before the requested offset, still to drop
        bool rejected = false;    // the body does not start where it should
        bool complete = false;    // transfer stopped on purpose: every asked-for byte arrived
        bool canceled = false;    // transfer stopped because the host raised state
        int64_t rangeTotal = -1;  // file size a Content-Range gives; -1: unknown ("*") or none
        bool hostFailed = false;  // OnData threw
    };
    // Upload context: one per PUT.
    struct _UPLOADCTX {
        int64_t offset = 0;
        std::shared_ptr<_FS_HANDLE> handle;
        ICacheIO* cache = nullptr;
        int64_t size = 0;
        bool shortBody = false;              // the cache ended the file before size bytes
        bool canceled = false;               // the host raised state
        bool hostFailed = false;             // ReadData threw
        CURLImpl::ProgressBinding progress;  // the host's progress function
    };

    // Connection state (read by tests; written only where the operations say).
    std::string url;
    std::string rootPath;
    std::atomic<int> authType{WEBDAV_CURLAUTH_ANY};
    std::string user;
    std::string password;
    bool ssl = false;
    bool gzip = true;
    std::string userAgent;
    int proxyType = 0;
    std::string proxyHost;
    std::string proxyUser;
    std::string proxyPassword;
    int proxyPort = 0;
    unsigned long long quotaTotal = 0xA0000000000ULL;
    unsigned long long quotaUsed = 0;
    std::string exInfo;
    long long speedLimit = 0;
    std::atomic<int> tlsFallback{0};
    // TLS choices of "ex_info"; with none of them the server is not checked at all.
    bool verifyTls = false;    // the chain (system CAs) and the host name
    std::string caFile;        // PEM: the CAs trusted instead of the system's; implies verifyTls
    std::string pinnedPubKey;  // "sha256//<base64>[;...]": the server's key must be one of them
    std::string clientCert;    // PEM, presented to servers that ask for one
    std::string clientKey;     // PEM, when not in clientCert
    bool (*quotaCallback)(void* context, void* protocol, long long* total,
                          long long* remaining) = nullptr;
    void* quotaContext = nullptr;
    std::string nameCharset;
    PT_FEATURE features = static_cast<PT_FEATURE>(0x120);
    bool markFiles = false;
    bool convertNames = false;
    std::atomic<bool> useExpect{true};
    std::atomic<bool> absoluteDestination{true};
    // Most bytes an answer kept in memory may have ("max_answer" of ex_info); 0: the default.
    long long maxAnswer = 0;

private:
    _CURLRTN _Move(const char* id, const char* target, _FS_FILE* file, char** message,
                   bool absolute, bool collection = false);
    AERROR MoveItem(const char* id, const char* target, _FS_FILE* file, char** message,
                    bool collection);
    AERROR DeleteItem(const char* id, char** message, bool collection);
    AERROR apply_option(const char* name, const char* value);  // SetOpt without its shield
    // outcome: whether the host stopped the transfer or its cache failed.
    _CURLRTN _Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, ICacheIO* cache,
                     _FS_FILE* file, char** message, Outcome& outcome);
    // The record of id from a Depth 0 PROPFIND: the response whose href is id.
    AERROR stat_entry(const char* id, nodeinfo* found, char** message);
    // After a change: the record becomes that of path, refreshed from the server when it
    // answers for it; the stat's result.
    AERROR refresh(const std::string& path, _FS_FILE* file, nodeinfo* found = nullptr);
};

size_t write_callback_cache_func(void* data, size_t size, size_t nmemb, void* context);
size_t read_callback_cache_func(void* buffer, size_t size, size_t nmemb, void* context);
// Rewinds an upload (context: _UPLOADCTX) so libcurl can send the body again; moves the
// handle's position back with it. Refuses a position outside the body.
int seek_callback_cache_func(void* context, curl_off_t offset, int origin);
// Header callback of a ranged read: records status, Content-Range and encoding of each answer.
size_t header_callback_range_func(char* data, size_t size, size_t nmemb, void* context);
// Progress callback of a ranged read: stops the transfer once the host raises state,
// also while no data is arriving.
int xferinfo_callback_read_func(void* context, curl_off_t dltotal, curl_off_t dlnow,
                                curl_off_t ultotal, curl_off_t ulnow);
// Progress callback of an upload (context: _UPLOADCTX): reports to the host's progress
// function and stops the transfer once the host raises state, also while the server reads
// nothing.
int xferinfo_callback_upload_func(void* context, curl_off_t dltotal, curl_off_t dlnow,
                                  curl_off_t ultotal, curl_off_t ulnow);
