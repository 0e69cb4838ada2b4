// The mount's picture of the server's namespace: inode numbers for paths, the attributes last
// seen for each, and each folder's listing (one Depth-1 GetFileList) kept for dir_timeout to
// answer lookups, readdir and getattr of its children without asking again. Names known to be
// missing are kept as long. A folder whose children are looked up one by one many times within
// dir_timeout (a program stat-ing name after name) is listed instead. Only the calls on a miss
// go to the server, never under the lock.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse3/fuse_lowlevel.h>

#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiled/filesystem.h"

struct Attr {
    bool folder = false;
    long long size = 0;
    time_t mtime = 0;
};
// What a record from the plug-in says (a kind it left out counts as a file).
Attr AttrOf(const _FS_FILE& file);

using Entries = std::vector<std::pair<std::string, Attr>>;

class Tree {
public:
    Tree(IProtocol_V2* dav, double dirTimeout);

    // The path of an inode ("" for the root); false once it is gone.
    bool PathOf(fuse_ino_t ino, std::string* path);
    // name in the folder parent: 0 with its inode (counted as one kernel lookup) and attributes,
    // or an errno (ENOENT for a name known to be missing).
    int Lookup(fuse_ino_t parent, const std::string& name, fuse_ino_t* ino, Attr* attr);
    // The attributes of ino, asked again once they are older than dir_timeout.
    int Attributes(fuse_ino_t ino, Attr* attr);
    // The entries of a folder, from its listing.
    int List(fuse_ino_t ino, Entries* entries);
    // A listing taken now, whatever is cached: for decisions that must not rest on old news.
    int ListFresh(const std::string& path, Entries* entries);
    // What is known of path now, without asking the server; false when nothing is.
    bool Find(const std::string& path, fuse_ino_t* ino, Attr* attr);
    // The inode for path, counted as one kernel lookup.
    fuse_ino_t Remember(const std::string& path, const Attr& attr);
    void Forget(fuse_ino_t ino, uint64_t lookups);

    // Changes made through the mount.
    void Added(const std::string& path, const Attr& attr);
    void Removed(const std::string& path);
    void Moved(const std::string& from, const std::string& to);

private:
    using Clock = std::chrono::steady_clock;
    struct Node {
        std::string path;
        Attr attr;
        Clock::time_point seen;
        uint64_t lookups = 0;
    };
    struct Listing {
        Clock::time_point taken;
        std::map<std::string, Attr> entries;
    };

    bool Fresh(Clock::time_point when) const { return Clock::now() - when < dirTimeout_; }
    const Listing* FreshListing(const std::string& folder) const;
    fuse_ino_t RememberLocked(const std::string& path, const Attr& attr);
    // The answer of a lookup of name (at path) from entries of its folder.
    int Settle(const std::string& path, const std::string& name, const Entries& entries,
               fuse_ino_t* ino, Attr* attr);
    void Store(const std::string& folder, const Entries& entries);
    // Unhooks path and everything under it from the path index.
    void DetachLocked(const std::string& path);

    IProtocol_V2* dav_;
    Clock::duration dirTimeout_;
    std::mutex lock_;
    fuse_ino_t next_ = 2;
    std::unordered_map<fuse_ino_t, Node> nodes_;
    std::unordered_map<std::string, fuse_ino_t> byPath_;
    std::unordered_map<std::string, Listing> listings_;
    std::unordered_map<std::string, Clock::time_point> missing_;
    // Per folder without a fresh listing: lookups sent one by one since the first of them.
    struct Misses {
        int count = 0;
        Clock::time_point since;
    };
    std::unordered_map<std::string, Misses> misses_;
};
