// The FUSE side of the mount: kernel requests (low-level API) turned into the namespace's
// answers, open files and plug-in calls. Requests run on several threads at once.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "mount_options.h"
#include "open_file.h"

class DavFs {
public:
    DavFs(IProtocol_V2* dav, const MountOptions& options, CacheFolder* cache, ILog* log);
    static const fuse_lowlevel_ops& Operations();
    // After the session loop: sends what open files still hold and waits for the read-ahead.
    // Returns how many files stay unsent in the cache folder.
    int Shutdown();

private:
    struct Opened {
        std::shared_ptr<OpenFile> file;
        int opens = 0;
    };
    static DavFs& Of(fuse_req_t req) { return *static_cast<DavFs*>(fuse_req_userdata(req)); }

    // Handlers, each replying to its request.
    static void Init(void* self, fuse_conn_info* conn);
    static void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name);
    static void Forget(fuse_req_t req, fuse_ino_t ino, uint64_t lookups);
    static void ForgetMulti(fuse_req_t req, size_t count, fuse_forget_data* forgets);
    static void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void SetAttr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet,
                        fuse_file_info* fi);
    static void MkDir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode);
    static void Unlink(fuse_req_t req, fuse_ino_t parent, const char* name);
    static void RmDir(fuse_req_t req, fuse_ino_t parent, const char* name);
    static void Rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
                       const char* newName, unsigned flags);
    static void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void Create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode,
                       fuse_file_info* fi);
    static void Read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi);
    static void Write(fuse_req_t req, fuse_ino_t ino, const char* data, size_t size, off_t offset,
                      fuse_file_info* fi);
    static void Flush(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void Release(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void FSync(fuse_req_t req, fuse_ino_t ino, int dataOnly, fuse_file_info* fi);
    static void OpenDir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void ReadDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                        fuse_file_info* fi);
    static void ReadDirPlus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                            fuse_file_info* fi);
    static void ReleaseDir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    static void StatFs(fuse_req_t req, fuse_ino_t ino);

    void ListDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi,
                 bool plus);
    std::shared_ptr<OpenFile> Acquire(fuse_ino_t ino, const Attr& attr, bool created);
    void Let(fuse_ino_t ino);
    std::shared_ptr<OpenFile> FileOf(fuse_ino_t ino);
    int Current(fuse_ino_t ino, Attr* attr);
    struct stat Stat(fuse_ino_t ino, const Attr& attr) const;
    bool DirectIo(int openFlags) const;  // whether an open skips the kernel's page cache
    void ReplyEntry(fuse_req_t req, fuse_ino_t ino, const Attr& attr);
    int Child(fuse_ino_t parent, const char* name, std::string* path);

    MountOptions options_;
    Tree tree_;
    Background background_;
    MountContext mount_;
    std::once_flag readAheadRaised_;
    std::mutex filesLock_;
    std::unordered_map<fuse_ino_t, Opened> files_;
    // Size and time of each file when its pages were last read into the kernel's cache.
    std::unordered_map<fuse_ino_t, std::pair<long long, time_t>> cachedVersions_;
};
