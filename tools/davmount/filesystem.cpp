#include "filesystem.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "remote_items.h"
#include "remote_paths.h"

namespace {

// What an open file descriptor of the kernel holds.
struct Handle {
    std::shared_ptr<OpenFile> file;
    bool append;
};

Handle& HandleOf(fuse_file_info* fi) {
    return *reinterpret_cast<Handle*>(fi->fh);
}

Entries& EntriesOf(fuse_file_info* fi) {
    return *reinterpret_cast<Entries*>(fi->fh);
}

// The kernel reads ahead 128 KiB by default, in requests that cost a round trip each; bigger
// ones let cat run at the network's speed. The kernel sets it when the mount starts, so it is
// raised at the first open; only root may, and the mount works without.
void RaiseReadAhead(const std::string& mountpoint) {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, where;
        fields >> id >> parent >> device >> root >> where;
        if (where == mountpoint)
            std::ofstream("/sys/class/bdi/" + device + "/read_ahead_kb") << 1024;
    }
}

}  // namespace

DavFs::DavFs(IProtocol_V2* dav, const MountOptions& options, CacheFolder* cache, ILog* log)
    : options_(options),
      tree_(dav, options.dirTimeout),
      mount_{dav, &tree_, cache, log, &background_} {}

const fuse_lowlevel_ops& DavFs::Operations() {
    static const fuse_lowlevel_ops ops = [] {
        fuse_lowlevel_ops o = {};
        o.init = Init;
        o.lookup = Lookup;
        o.forget = Forget;
        o.forget_multi = ForgetMulti;
        o.getattr = GetAttr;
        o.setattr = SetAttr;
        o.mkdir = MkDir;
        o.unlink = Unlink;
        o.rmdir = RmDir;
        o.rename = Rename;
        o.open = Open;
        o.create = Create;
        o.read = Read;
        o.write = Write;
        o.flush = Flush;
        o.release = Release;
        o.fsync = FSync;
        o.opendir = OpenDir;
        o.readdir = ReadDir;
        o.readdirplus = ReadDirPlus;
        o.releasedir = ReleaseDir;
        o.statfs = StatFs;
        return o;
    }();
    return ops;
}

void DavFs::Init(void*, fuse_conn_info* conn) {
    // Listings carry attributes, so readdir answers with them and ls -l stats nothing.
    if (conn->capable & FUSE_CAP_READDIRPLUS) conn->want |= FUSE_CAP_READDIRPLUS;
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
    conn->max_write = 1 << 20;
    conn->max_background = 64;  // read-ahead requests of the kernel in flight at once
}

std::shared_ptr<OpenFile> DavFs::FileOf(fuse_ino_t ino) {
    std::lock_guard<std::mutex> guard(filesLock_);
    auto it = files_.find(ino);
    return it == files_.end() ? nullptr : it->second.file;
}

std::shared_ptr<OpenFile> DavFs::Acquire(fuse_ino_t ino, const Attr& attr, bool created) {
    std::lock_guard<std::mutex> guard(filesLock_);
    Opened& opened = files_[ino];
    if (!opened.file) opened.file = std::make_shared<OpenFile>(mount_, ino, attr, created);
    ++opened.opens;
    return opened.file;
}

void DavFs::Let(fuse_ino_t ino) {
    std::shared_ptr<OpenFile> last;
    {
        std::lock_guard<std::mutex> guard(filesLock_);
        auto it = files_.find(ino);
        if (it == files_.end() || --it->second.opens > 0) return;
        last = it->second.file;
        files_.erase(it);
    }
    if (!last->Close())
        mount_.Note(LOG_ERROR, "a file was not sent and stays in " + mount_.cache->path());
}

int DavFs::Current(fuse_ino_t ino, Attr* attr) {
    auto file = FileOf(ino);
    if (file && file->Changed()) {
        *attr = file->Attributes();
        return 0;
    }
    return tree_.Attributes(ino, attr);
}

struct stat DavFs::Stat(fuse_ino_t ino, const Attr& attr) const {
    struct stat st = {};
    st.st_ino = ino;
    st.st_mode = (attr.folder ? S_IFDIR | 0777 : S_IFREG | 0666) & ~options_.umask;
    if (options_.readOnly) st.st_mode &= ~0222;
    st.st_nlink = attr.folder ? 2 : 1;
    st.st_uid = options_.uid;
    st.st_gid = options_.gid;
    st.st_size = attr.folder ? 0 : attr.size;
    st.st_blocks = (st.st_size + 511) / 512;
    // Programs size their reads and writes by it (cp, cat: the larger of 128 KiB and this);
    // without a write cache every write is one request, so 1 MiB writes, the most one request
    // carries, cost an eighth of the round trips of 128 KiB ones.
    st.st_blksize = 1 << 20;
    st.st_atime = st.st_mtime = st.st_ctime = attr.mtime;
    return st;
}

void DavFs::ReplyEntry(fuse_req_t req, fuse_ino_t ino, const Attr& attr) {
    fuse_entry_param e = {};
    e.ino = ino;
    e.attr = Stat(ino, attr);
    e.attr_timeout = e.entry_timeout = options_.attrTimeout;
    if (fuse_reply_entry(req, &e) != 0) tree_.Forget(ino, 1);
}

int DavFs::Child(fuse_ino_t parent, const char* name, std::string* path) {
    if (strlen(name) > 255) return ENAMETOOLONG;
    std::string folder;
    if (!tree_.PathOf(parent, &folder)) return ENOENT;
    *path = JoinPath(folder, name);
    return 0;
}

void DavFs::Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    DavFs& fs = Of(req);
    if (strlen(name) > 255) return (void)fuse_reply_err(req, ENAMETOOLONG);
    fuse_ino_t ino = 0;
    Attr attr;
    int error = fs.tree_.Lookup(parent, name, &ino, &attr);
    if (error == ENOENT) {
        // A negative entry: the kernel need not ask again for this name for a while.
        fuse_entry_param e = {};
        e.entry_timeout = fs.options_.attrTimeout;
        return (void)fuse_reply_entry(req, &e);
    }
    if (error != 0) return (void)fuse_reply_err(req, error);
    auto file = fs.FileOf(ino);
    if (file && file->Changed()) attr = file->Attributes();
    fs.ReplyEntry(req, ino, attr);
}

void DavFs::Forget(fuse_req_t req, fuse_ino_t ino, uint64_t lookups) {
    Of(req).tree_.Forget(ino, lookups);
    fuse_reply_none(req);
}

void DavFs::ForgetMulti(fuse_req_t req, size_t count, fuse_forget_data* forgets) {
    for (size_t i = 0; i < count; ++i) Of(req).tree_.Forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void DavFs::GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    DavFs& fs = Of(req);
    Attr attr;
    int error = fs.Current(ino, &attr);
    if (error != 0) return (void)fuse_reply_err(req, error);
    struct stat st = fs.Stat(ino, attr);
    fuse_reply_attr(req, &st, fs.options_.attrTimeout);
}

void DavFs::SetAttr(fuse_req_t req, fuse_ino_t ino, struct stat* wanted, int toSet,
                    fuse_file_info* fi) {
    DavFs& fs = Of(req);
    Attr attr;
    int error = fs.Current(ino, &attr);
    // WebDAV keeps no modes, owners or times a client may set: only the size changes.
    if (error == 0 && (toSet & FUSE_SET_ATTR_SIZE)) {
        if (fs.options_.readOnly) return (void)fuse_reply_err(req, EROFS);
        if (attr.folder) return (void)fuse_reply_err(req, EISDIR);
        bool own = fi == nullptr;  // truncate(2) by name: no open file to upload at close
        auto file = own ? fs.Acquire(ino, attr, false) : HandleOf(fi).file;
        error = file->Truncate(wanted->st_size);
        if (error == 0 && own) error = file->Flush();
        if (own) fs.Let(ino);
        if (error == 0) error = fs.Current(ino, &attr);
    }
    if (error != 0) return (void)fuse_reply_err(req, error);
    struct stat st = fs.Stat(ino, attr);
    fuse_reply_attr(req, &st, fs.options_.attrTimeout);
}

void DavFs::MkDir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t) {
    DavFs& fs = Of(req);
    std::string path;
    int error = fs.Child(parent, name, &path);
    if (error != 0) return (void)fuse_reply_err(req, error);
    _FS_FILE record;
    record.name = name;
    record.attributes = FA_DIRECTORY;
    std::string folder = ParentOf(path);
    Outcome made = Call(fs.mount_.dav, [&](char** message) {
        return fs.mount_.dav->CreateDirectory(folder.c_str(), &record, message);
    });
    if (!made.ok()) return (void)fuse_reply_err(req, ErrnoFor(made.code, made.message));
    Attr attr = record.id == path ? AttrOf(record) : Attr();
    attr.folder = true;
    if (attr.mtime == 0) attr.mtime = time(nullptr);
    fs.tree_.Added(path, attr);
    fs.ReplyEntry(req, fs.tree_.Remember(path, attr), attr);
}

void DavFs::Unlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
    DavFs& fs = Of(req);
    std::string path;
    int error = fs.Child(parent, name, &path);
    if (error != 0) return (void)fuse_reply_err(req, error);
    fuse_ino_t ino = 0;
    Attr attr;
    if (fs.tree_.Find(path, &ino, &attr)) {
        if (attr.folder) return (void)fuse_reply_err(req, EISDIR);
        auto file = fs.FileOf(ino);
        if (file && !file->OnServer()) {  // made here and never sent: nothing to delete there
            fs.tree_.Removed(path);
            return (void)fuse_reply_err(req, 0);
        }
    }
    Outcome gone = Call(fs.mount_.dav, [&](char** message) {
        return fs.mount_.dav->Delete(path.c_str(), message);
    });
    if (gone.ok()) fs.tree_.Removed(path);
    fuse_reply_err(req, ErrnoFor(gone.code, gone.message));
}

void DavFs::RmDir(fuse_req_t req, fuse_ino_t parent, const char* name) {
    DavFs& fs = Of(req);
    std::string path;
    int error = fs.Child(parent, name, &path);
    if (error != 0) return (void)fuse_reply_err(req, error);
    // DELETE takes a folder with everything in it: only a listing taken now may allow it.
    Entries entries;
    error = fs.tree_.ListFresh(path, &entries);
    if (error == 0 && !entries.empty()) error = ENOTEMPTY;
    if (error == 0) {
        Outcome gone = Call(fs.mount_.dav, [&](char** message) {
            return fs.mount_.dav->DeleteDirectory(path.c_str(), message);
        });
        error = ErrnoFor(gone.code, gone.message);
        if (gone.ok()) fs.tree_.Removed(path);
    }
    fuse_reply_err(req, error);
}

void DavFs::Rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
                   const char* newName, unsigned flags) {
    DavFs& fs = Of(req);
    std::string from, to;
    int error = fs.Child(parent, name, &from);
    if (error == 0) error = fs.Child(newParent, newName, &to);
    if (error == 0 && (flags & RENAME_EXCHANGE)) error = EINVAL;
    fuse_ino_t ino = 0;
    Attr source;
    if (error == 0 && !fs.tree_.Find(from, &ino, &source)) error = ENOENT;
    if (error != 0 || from == to) return (void)fuse_reply_err(req, error);

    // The server replaces what is at the target; rename's rules decide whether it may.
    fuse_ino_t targetIno = 0;
    Attr target;
    int there = fs.tree_.Lookup(newParent, newName, &targetIno, &target);
    if (there == 0) {
        fs.tree_.Forget(targetIno, 1);
        if (flags & RENAME_NOREPLACE)
            error = EEXIST;
        else if (source.folder != target.folder)
            error = source.folder ? ENOTDIR : EISDIR;
        else if (target.folder) {
            Entries entries;
            error = fs.tree_.ListFresh(to, &entries);
            if (error == 0 && !entries.empty()) error = ENOTEMPTY;
        }
    } else if (there != ENOENT) {
        error = there;
    }
    auto file = fs.FileOf(ino);
    if (error == 0 && !(file && !file->OnServer())) {
        _FS_FILE record;
        record.attributes = source.folder ? FA_DIRECTORY : FA_FILE;
        record.size = source.size;
        record.name = newName;
        std::string folder = ParentOf(to);
        IProtocol_V2* dav = fs.mount_.dav;
        Outcome moved = Call(dav, [&](char** message) {
            if (source.folder) return dav->MoveDir(from.c_str(), folder.c_str(), &record, message);
            if (folder == ParentOf(from))
                return dav->Rename(from.c_str(), folder.c_str(), &record, message);
            return dav->Move(from.c_str(), folder.c_str(), &record, message);
        });
        error = ErrnoFor(moved.code, moved.message);
    }
    // A file made here and not sent yet moves here only; its upload goes to the new name.
    if (error == 0) fs.tree_.Moved(from, to);
    fuse_reply_err(req, error);
}

// A file opened only for writing cannot be mapped, and the kernel drops the pages its writes
// cover from other opens' caches: its writes skip the page cache, one copy of every byte less.
bool DavFs::DirectIo(int flags) const {
    return options_.directIo || (flags & O_ACCMODE) == O_WRONLY;
}

void DavFs::Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    DavFs& fs = Of(req);
    std::call_once(fs.readAheadRaised_, RaiseReadAhead, fs.options_.mountpoint);
    bool writing = (fi->flags & O_ACCMODE) != O_RDONLY;
    if (writing && fs.options_.readOnly) return (void)fuse_reply_err(req, EROFS);
    Attr attr;
    int error = fs.Current(ino, &attr);
    if (error == 0 && attr.folder) error = EISDIR;
    if (error != 0) return (void)fuse_reply_err(req, error);
    auto file = fs.Acquire(ino, attr, false);
    if (fi->flags & O_TRUNC) error = file->Truncate(0);
    if (error != 0) {
        fs.Let(ino);
        return (void)fuse_reply_err(req, error);
    }
    {
        // Pages the kernel read before stay valid while the server's file is the same.
        std::lock_guard<std::mutex> guard(fs.filesLock_);
        auto version = std::make_pair(attr.size, attr.mtime);
        auto known = fs.cachedVersions_.find(ino);
        fi->keep_cache = known != fs.cachedVersions_.end() && known->second == version;
        fs.cachedVersions_[ino] = version;
    }
    fi->direct_io = fs.DirectIo(fi->flags);
    fi->fh = reinterpret_cast<uint64_t>(new Handle{file, (fi->flags & O_APPEND) != 0});
    if (fuse_reply_open(req, fi) != 0) {
        delete &HandleOf(fi);
        fs.Let(ino);
    }
}

void DavFs::Create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t,
                   fuse_file_info* fi) {
    DavFs& fs = Of(req);
    if (fs.options_.readOnly) return (void)fuse_reply_err(req, EROFS);
    std::string path;
    int error = fs.Child(parent, name, &path);
    if (error != 0) return (void)fuse_reply_err(req, error);
    Attr attr;
    attr.mtime = time(nullptr);
    fs.tree_.Added(path, attr);
    fuse_ino_t ino = fs.tree_.Remember(path, attr);
    auto file = fs.Acquire(ino, attr, true);
    if (!file->Changed()) {  // the cache folder refused the local copy
        fs.Let(ino);
        fs.tree_.Forget(ino, 1);
        return (void)fuse_reply_err(req, EIO);
    }
    fi->direct_io = fs.DirectIo(fi->flags);
    fi->fh = reinterpret_cast<uint64_t>(new Handle{file, (fi->flags & O_APPEND) != 0});
    fuse_entry_param e = {};
    e.ino = ino;
    e.attr = fs.Stat(ino, attr);
    e.attr_timeout = e.entry_timeout = fs.options_.attrTimeout;
    if (fuse_reply_create(req, &e, fi) != 0) {
        delete &HandleOf(fi);
        fs.Let(ino);
        fs.tree_.Forget(ino, 1);
    }
}

void DavFs::Read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    ReadData data;
    int error = HandleOf(fi).file->Read(offset, size, &data);
    if (error != 0) return (void)fuse_reply_err(req, error);
    fuse_reply_iov(req, data.pieces.data(), static_cast<int>(data.pieces.size()));
}

void DavFs::Write(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t offset,
                  fuse_file_info* fi) {
    if (Of(req).options_.readOnly) return (void)fuse_reply_err(req, EROFS);
    Handle& handle = HandleOf(fi);
    int error = handle.file->Write(offset, data, size, handle.append);
    if (error != 0) return (void)fuse_reply_err(req, error);
    fuse_reply_write(req, size);
}

void DavFs::Flush(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    // close() returns this: the server's answer to the upload.
    fuse_reply_err(req, HandleOf(fi).file->Flush());
}

void DavFs::FSync(fuse_req_t req, fuse_ino_t, int, fuse_file_info* fi) {
    fuse_reply_err(req, HandleOf(fi).file->Flush());
}

void DavFs::Release(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    delete &HandleOf(fi);
    Of(req).Let(ino);
    fuse_reply_err(req, 0);
}

void DavFs::OpenDir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    auto entries = std::make_unique<Entries>();
    int error = Of(req).tree_.List(ino, entries.get());
    if (error != 0) return (void)fuse_reply_err(req, error);
    fi->fh = reinterpret_cast<uint64_t>(entries.release());
    if (fuse_reply_open(req, fi) != 0) delete &EntriesOf(fi);
}

void DavFs::ReadDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
    Of(req).ListDir(req, ino, size, offset, fi, false);
}

void DavFs::ReadDirPlus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                        fuse_file_info* fi) {
    Of(req).ListDir(req, ino, size, offset, fi, true);
}

void DavFs::ListDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi,
                    bool plus) {
    const Entries& entries = EntriesOf(fi);
    std::string folder;
    if (!tree_.PathOf(ino, &folder)) return (void)fuse_reply_err(req, ENOENT);
    std::string buffer(size, '\0');
    size_t used = 0;
    for (size_t i = static_cast<size_t>(offset); i < entries.size(); ++i) {
        const auto& [name, listed] = entries[i];
        Attr attr = listed;
        fuse_entry_param e = {};
        if (plus) {
            e.ino = tree_.Remember(JoinPath(folder, name), attr);
            auto file = FileOf(e.ino);
            if (file && file->Changed()) attr = file->Attributes();
            e.attr_timeout = e.entry_timeout = options_.attrTimeout;
        }
        e.attr = Stat(e.ino, attr);
        char* at = &buffer[used];
        size_t room = size - used;
        size_t need = plus ? fuse_add_direntry_plus(req, at, room, name.c_str(), &e, i + 1)
                           : fuse_add_direntry(req, at, room, name.c_str(), &e.attr, i + 1);
        if (need > room) {
            if (plus) tree_.Forget(e.ino, 1);  // not handed to the kernel after all
            break;
        }
        used += need;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void DavFs::ReleaseDir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    delete &EntriesOf(fi);
    fuse_reply_err(req, 0);
}

void DavFs::StatFs(fuse_req_t req, fuse_ino_t) {
    IProtocol_V2* dav = Of(req).mount_.dav;
    unsigned long long total = 0, used = 0;
    dav->GetQuota(&total, &used);
    struct statvfs st = {};
    st.f_bsize = st.f_frsize = 4096;
    st.f_blocks = total / st.f_frsize;
    st.f_bfree = st.f_bavail = (total > used ? total - used : 0) / st.f_frsize;
    st.f_files = st.f_ffree = st.f_favail = 1000000;
    st.f_namemax = 255;
    fuse_reply_statfs(req, &st);
}

int DavFs::Shutdown() {
    std::unordered_map<fuse_ino_t, Opened> open;
    {
        std::lock_guard<std::mutex> guard(filesLock_);
        open.swap(files_);
    }
    int unsent = 0;
    for (auto& [ino, opened] : open)
        if (!opened.file->Close()) ++unsent;
    background_.Wait();
    return unsent;
}
