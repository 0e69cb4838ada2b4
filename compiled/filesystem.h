// The host's file-system interfaces and records as plug-ins see them.
// Slot order and record layouts are fixed by the host: do not reorder.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "aerror.h"

enum FILE_ATTRIBUTE : uint32_t {
    FA_NONE = 0,
    FA_FILE = 1,
    FA_DIRECTORY = 2,
    FA_MARKED = 0x200,
};
inline FILE_ATTRIBUTE operator&(FILE_ATTRIBUTE a, FILE_ATTRIBUTE b) {
    return static_cast<FILE_ATTRIBUTE>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}
inline FILE_ATTRIBUTE operator|(FILE_ATTRIBUTE a, FILE_ATTRIBUTE b) {
    return static_cast<FILE_ATTRIBUTE>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}

enum PT_FEATURE : int64_t {
    PT_NONE = 0,
    PT_FEATURE_8 = 0x8,
    PT_FEATURE_20 = 0x20,
    PT_FEATURE_100 = 0x100,
    PT_FEATURE_800 = 0x800,
};
// The host ORs the low 32 bits and sign-extends the result.
inline PT_FEATURE operator|(PT_FEATURE a, PT_FEATURE b) {
    return static_cast<PT_FEATURE>(static_cast<int64_t>(
        static_cast<int32_t>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b))));
}

enum SUPPORTS : uint32_t {
    SUPPORTS_NONE = 0,
    SUPPORTS_1 = 1,
    SUPPORTS_2 = 2,
};
inline SUPPORTS operator|(SUPPORTS a, SUPPORTS b) {
    return static_cast<SUPPORTS>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}

// One file or folder.
struct _FS_FILE {
    std::string id;  // path under the root: "/a/b", empty for the root itself
    FILE_ATTRIBUTE attributes = FA_NONE;
    int64_t size = 0;
    std::string creationTime;  // RFC 3339, UTC
    std::string accessTime;
    std::string modifiedTime;
    std::string name;  // last path component
};

// An open file, shared between the host and a transfer. state and position
// are touched by the transfer's thread and by other host threads at once.
struct _FS_HANDLE {
    std::atomic<int32_t> state{0};     // 4 and above stops a transfer
    std::atomic<int64_t> position{0};  // upload: bytes handed to the transfer so far
    int64_t hostData = 0;
    void (*progressFn)(long total, long now, void* context, double speed) = nullptr;
    void* progressContext = nullptr;
};

constexpr int32_t FS_HANDLE_STOP = 4;

class IRefObject {
public:
    virtual void Release() = 0;

protected:
    ~IRefObject() = default;
};

class IFileList {
public:
    virtual AERROR AddFile(_FS_FILE* file) = 0;

protected:
    ~IFileList() = default;
};

class IFileChanges {
public:
    virtual void Reserved() = 0;

protected:
    ~IFileChanges() = default;
};

class IFetchCallback {
public:
    // length bytes of the file starting at offset; at most 64 KiB, ascending, contiguous.
    virtual AERROR OnData(long long offset, const char* data, long long length, int flags) = 0;

protected:
    ~IFetchCallback() = default;
};

class IProtocolManager {
public:
    virtual void Reserved() = 0;

protected:
    ~IProtocolManager() = default;
};

class IAuth {
public:
    virtual bool GetValue(const char* name, char* buffer, int* length) = 0;
    virtual bool Refresh() = 0;

protected:
    ~IAuth() = default;
};

class ICacheIO;

class IProtocol_V1 : public IRefObject {
public:
    virtual AERROR GetUserInfo(char* buffer, int* size) = 0;
    virtual AERROR GetQuota(unsigned long long* total, unsigned long long* used) = 0;
    virtual AERROR SetQuota(unsigned long long total, unsigned long long used) = 0;
    virtual AERROR GetType(char** type) = 0;
    virtual AERROR GetFileList(const char* id, IFileList* list, char** message) = 0;
    virtual AERROR GetChanges(IFileChanges* changes, char** message) = 0;
    virtual AERROR GetFileInfo(const char* id, _FS_FILE* file, char** message) = 0;
    virtual AERROR Rename(const char* id, const char* target, _FS_FILE* file, char** message) = 0;
    virtual AERROR Move(const char* id, const char* target, _FS_FILE* file, char** message) = 0;
    virtual AERROR MoveDir(const char* id, const char* target, _FS_FILE* file, char** message) = 0;
    virtual AERROR CreateDirectory(const char* id, _FS_FILE* file, char** message) = 0;
    virtual AERROR Delete(const char* id, char** message) = 0;
    virtual AERROR DeleteDirectory(const char* id, char** message) = 0;
    virtual AERROR Read(const char* id, long long offset, long long length,
                        std::shared_ptr<_FS_HANDLE> handle, IFetchCallback* callback,
                        char** message) = 0;
    virtual AERROR Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, ICacheIO* cache,
                          _FS_FILE* file, char** message) = 0;
    virtual AERROR SetFileTime(const char* id, std::string time1, std::string time2,
                               std::string time3, _FS_FILE* file, char** message) = 0;
    virtual AERROR SetOpt(const char* name, const char* value) = 0;
    virtual AERROR Connect() = 0;
    virtual AERROR GetCredential(char* buffer, int* size) = 0;
    virtual AERROR SetCredential(const char* credential) = 0;
    virtual AERROR TestConnect(char** message) = 0;
    virtual PT_FEATURE GetFeature() = 0;
    virtual void SetQuotaCallback(void* context,
                                  bool (*callback)(void* context, void* protocol, long long* total,
                                                   long long* remaining)) = 0;
    virtual void FreeMsg(char* message) = 0;

protected:
    ~IProtocol_V1() = default;
};

class IProtocol_V2 : public IProtocol_V1 {
public:
    virtual AERROR GetIdentifier(char* buffer, int* size) = 0;
    virtual AERROR GetRootID(char* buffer, int* size) = 0;

protected:
    ~IProtocol_V2() = default;
};

// The nine entry points of a protocol plug-in, as the host resolves them with dlsym.
extern "C" {
typedef SUPPORTS (*GetSupports_t)();
typedef const char* (*GetProtocolVersion_t)();
typedef void (*GetSupportProtocol_t)(char** out);
typedef void (*FreeP_t)(void* p);
typedef bool (*BindLogger_t)(class ILog* log);
typedef void (*UnbindLogger_t)();
typedef bool (*BindAsyncQ_t)(void* queue);
typedef void (*UnbindAsyncQ_t)();
typedef bool (*GetProtocol_t)(const char* url, IProtocolManager* manager, IProtocol_V2** out);
}
