// One file while it is open, however many times. Reads come from the server through Read into
// a cache of 64 KiB blocks: nothing is fetched at open, a reader that stays sequential gets a
// read-ahead thread whose requests double up to 32 MiB, and random reads fetch a bounded run
// of blocks. The first change makes a sparse local copy in the cache folder; bytes never
// written are fetched into it only when needed (a read of them, or the upload). The copy is
// uploaded at flush, fsync and the last close when it changed, and stays in the cache folder
// if the server refused it.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mount_context.h"

// Bytes for the kernel: pieces of cached blocks, shared so that they stay valid while the
// reply is written, or bytes of their own.
struct ReadData {
    std::vector<std::shared_ptr<const std::string>> keep;
    std::vector<iovec> pieces;
    std::string own;
};

class OpenFile : public std::enable_shared_from_this<OpenFile> {
public:
    // created: made through the mount and not on the server yet.
    OpenFile(const MountContext& mount, fuse_ino_t ino, const Attr& attr, bool created);

    // Each returns 0 or an errno.
    int Read(off_t offset, size_t size, ReadData* out);
    int Write(off_t offset, const char* data, size_t size, bool append);
    int Truncate(off_t size);
    // Uploads the local copy if it changed since the last upload; the server's answer as errno.
    int Flush();
    // The last close: stops the read-ahead, sends what is still unsent. False when something
    // stays unsent in the cache folder.
    bool Close();

    Attr Attributes();
    bool Changed();  // has a local copy (its attributes are the mount's, not the server's)
    bool OnServer();

private:
    friend class BlockSink;
    void Deliver(long long offset, const char* data, long long length);
    int ReadLocal(off_t offset, size_t size, ReadData* out);
    int ReadRemote(std::unique_lock<std::mutex>& lock, off_t offset, size_t size, ReadData* out);
    // Fetches count blocks from first into the cache (lock released meanwhile).
    int Fetch(std::unique_lock<std::mutex>& lock, long long first, long long count,
              std::shared_ptr<_FS_HANDLE> handle);
    void Stream(unsigned generation);
    void StopStream();
    void WakeAll();
    int MakeLocal();
    // Brings the server's bytes of [from, to) that were never written into the local copy.
    int Fill(long long from, long long to);
    int UploadLocked();

    const MountContext& mount_;
    const fuse_ino_t ino_;
    std::mutex lock_;
    std::condition_variable changed_;  // the read-ahead waits here for the reader
    bool streamWaiting_ = false;
    // The reads in progress. Each is handed its blocks as they arrive, so that a block another
    // reader's progress pushes out of the cache is not lost to the read that waited for it.
    struct Want;
    std::vector<Want*> wants_;

    // The server's bytes, while there is no local copy.
    // block index -> its bytes (the file's last block may be short)
    std::map<long long, std::shared_ptr<const std::string>> blocks_;
    std::map<long long, bool> inflight_;  // block index -> being fetched
    std::map<long long, int> failed_;     // block index -> errno of its last fetch
    long long cached_ = 0;                // bytes in blocks_
    long long eof_ = -1;                  // where the server's file ended, once seen
    long long lastEnd_ = 0;               // end of the latest sequential read
    bool streaming_ = false;
    unsigned generation_ = 0;  // of the read-ahead thread that may run
    long long streamPos_ = 0;
    long long window_ = 0;
    std::shared_ptr<_FS_HANDLE> streamHandle_;
    bool closed_ = false;

    // The local copy.
    int fd_ = -1;
    std::string local_;
    std::map<long long, long long> written_;  // start -> end of byte ranges written here
    long long base_;  // the server's bytes below this still belong to the file
    // Read without the lock, so that a look at the file never waits for its upload.
    std::atomic<long long> size_;
    std::atomic<time_t> mtime_;
    std::atomic<bool> onServer_;
    std::atomic<bool> hasLocal_{false};
    bool dirty_ = false;
    bool refused_ = false;  // the last upload failed and nothing changed since
};
