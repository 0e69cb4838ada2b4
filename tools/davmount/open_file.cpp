#include "open_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_io.h"
#include "outcome.h"
#include "remote_paths.h"

namespace {

constexpr long long kBlock = 64 << 10;         // the host's block, as Read delivers them
constexpr long long kFirstWindow = 1 << 20;    // the read-ahead's first request ...
constexpr long long kMaxWindow = 32 << 20;     // ... doubles up to this
constexpr long long kMaxAhead = 64 << 20;      // fetched but not yet read, at most
constexpr long long kSlack = 4 << 20;          // reads this close together are sequential
constexpr long long kRandomBlocks = 4;         // a random read fetches at least this many
constexpr long long kRandomMaxBlocks = 16;     // ... and no more than this unless asked
constexpr long long kCacheLimit = 16LL << 20;  // blocks kept per file

}  // namespace

struct OpenFile::Want {
    Want(long long first, long long last) : first(first), got(last - first + 1) {}
    long long first;
    std::vector<std::shared_ptr<const std::string>> got;  // block first + i
    long long awaited = -1;                               // the block it sleeps for
    std::condition_variable arrived;
};

// Hands the blocks of one Read to the file's cache.
class BlockSink final : public IFetchCallback {
public:
    explicit BlockSink(OpenFile* file) : file_(file) {}
    AERROR OnData(long long offset, const char* data, long long length, int) override {
        file_->Deliver(offset, data, length);
        delivered += length;
        return SUCCESS;
    }
    long long delivered = 0;

private:
    OpenFile* file_;
};

OpenFile::OpenFile(const MountContext& mount, fuse_ino_t ino, const Attr& attr, bool created)
    : mount_(mount),
      ino_(ino),
      base_(created ? 0 : attr.size),
      size_(created ? 0 : attr.size),
      mtime_(created ? time(nullptr) : attr.mtime),
      onServer_(!created) {
    if (created && MakeLocal() == 0) dirty_ = true;
}

Attr OpenFile::Attributes() {
    Attr attr;
    attr.size = size_;
    attr.mtime = mtime_;
    return attr;
}

bool OpenFile::Changed() {
    return hasLocal_;
}

bool OpenFile::OnServer() {
    return onServer_;
}

int OpenFile::Read(off_t offset, size_t size, ReadData* out) {
    std::unique_lock<std::mutex> lock(lock_);
    return fd_ >= 0 ? ReadLocal(offset, size, out) : ReadRemote(lock, offset, size, out);
}

void OpenFile::Deliver(long long offset, const char* data, long long length) {
    auto block = std::make_shared<const std::string>(data, static_cast<size_t>(length));
    std::lock_guard<std::mutex> guard(lock_);
    long long index = offset / kBlock;
    inflight_.erase(index);
    if (offset % kBlock != 0) return;
    // Only the reader waiting for this very block wakes: a herd woken per block costs more
    // than the copy of its bytes.
    for (Want* want : wants_) {
        long long slot = index - want->first;
        if (slot < 0 || slot >= static_cast<long long>(want->got.size())) continue;
        if (!want->got[slot]) want->got[slot] = block;
        if (want->awaited == index) want->arrived.notify_one();
    }
    if (!blocks_.count(index)) {
        blocks_[index] = std::move(block);
        cached_ += length;
    }
    // Blocks well behind the reader go first: the kernel's page cache holds what was read.
    long long keepFrom = (lastEnd_ - kSlack) / kBlock;
    while (cached_ > kCacheLimit && !blocks_.empty() && blocks_.begin()->first < keepFrom) {
        cached_ -= static_cast<long long>(blocks_.begin()->second->size());
        blocks_.erase(blocks_.begin());
    }
}

void OpenFile::WakeAll() {
    for (Want* want : wants_) want->arrived.notify_one();
    changed_.notify_all();
}

int OpenFile::Fetch(std::unique_lock<std::mutex>& lock, long long first, long long count,
                    std::shared_ptr<_FS_HANDLE> handle) {
    std::string path;
    if (!mount_.tree->PathOf(ino_, &path)) return ENOENT;
    for (long long b = first; b < first + count; ++b) {
        inflight_[b] = true;
        failed_.erase(b);
    }
    BlockSink sink(this);
    lock.unlock();
    Outcome read = Call(mount_.dav, [&](char** message) {
        return mount_.dav->Read(path.c_str(), first * kBlock, count * kBlock, handle, &sink,
                                message);
    });
    lock.lock();
    // A read stopped here (the read-ahead, once the reader went elsewhere) failed no one: the
    // readers that waited for its blocks fetch them themselves.
    bool stopped = handle->state.load() >= FS_HANDLE_STOP;
    for (long long b = first; b < first + count; ++b) {
        inflight_.erase(b);
        if (!read.ok() && !stopped && !blocks_.count(b))
            failed_[b] = ErrnoFor(read.code, read.message);
    }
    WakeAll();
    // 416: nothing at this offset, the file ends before it.
    if (!read.ok() && HttpStatusOf(read.message) == 416 && sink.delivered == 0) {
        eof_ = first * kBlock;
        return 0;
    }
    if (!read.ok()) {
        if (!stopped)
            mount_.Note(LOG_ERROR, "read " + path + ": " + ResultName(read.code) + ": " +
                                       OneLine(read.message));
        return ErrnoFor(read.code, read.message);
    }
    if (sink.delivered < count * kBlock) eof_ = first * kBlock + sink.delivered;
    return 0;
}

int OpenFile::ReadRemote(std::unique_lock<std::mutex>& lock, off_t offset, size_t size,
                         ReadData* out) {
    long long end = offset + static_cast<long long>(size);
    bool sequential = offset <= lastEnd_ + kSlack && end + kSlack >= lastEnd_;
    lastEnd_ = sequential ? std::max(lastEnd_, end) : end;
    if (sequential && !streaming_ && !closed_ && (eof_ < 0 || end < eof_)) {
        streaming_ = true;
        unsigned generation = ++generation_;
        streamPos_ = offset / kBlock * kBlock;
        window_ = kFirstWindow;
        streamHandle_ = std::make_shared<_FS_HANDLE>();
        auto self = shared_from_this();
        mount_.background->Run([self, generation] { self->Stream(generation); });
    } else if (!sequential && streaming_) {
        StopStream();
    }
    if (streamWaiting_) changed_.notify_one();  // a read-ahead waiting for the reader may go on

    const long long first = offset / kBlock;
    const long long last = (end - 1) / kBlock;
    Want want(first, last);
    wants_.push_back(&want);
    struct Leave {
        std::vector<Want*>& wants;
        Want* want;
        ~Leave() { wants.erase(std::find(wants.begin(), wants.end(), want)); }
    } leave{wants_, &want};
    std::vector<bool> fetched(want.got.size());  // by this read itself
    bool waited = false;
    for (;;) {
        long long missing = -1;  // the first needed block nobody is fetching
        long long awaited = -1;  // the last needed block on its way: blocks come in order
        // Every needed block in the cache is taken now: while this read waits or fetches,
        // other readers may push it out.
        for (long long b = first; b <= last && (eof_ < 0 || b * kBlock < eof_); ++b) {
            auto& slot = want.got[b - first];
            if (!slot) {
                auto cached = blocks_.find(b);
                if (cached != blocks_.end()) slot = cached->second;
            }
            if (slot) continue;
            bool coming = inflight_.count(b) || (streaming_ && b * kBlock >= streamPos_ &&
                                                 b * kBlock < streamPos_ + window_);
            if (coming)
                awaited = b;
            else if (missing < 0)
                missing = b;
        }
        if (missing < 0 && awaited < 0) break;
        if (missing < 0) {
            want.awaited = awaited;
            want.arrived.wait(lock);
            want.awaited = -1;
            waited = true;
            continue;
        }
        // The fetch this reader waited for failed: its answer is the reader's too, so a server
        // that stopped answering costs one stall, not one per reader.
        auto failure = failed_.find(missing);
        if (waited && failure != failed_.end()) return failure->second;
        if (fetched[missing - first]) return EIO;  // fetched by this read and still missing
        long long count = 0;
        while (count < std::max(last - missing + 1, kRandomBlocks) &&
               (count < kRandomMaxBlocks || missing + count <= last) &&
               !blocks_.count(missing + count) && !inflight_.count(missing + count))
            ++count;
        for (long long b = missing; b < missing + count && b <= last; ++b)
            fetched[b - first] = true;
        int error = Fetch(lock, missing, count, std::make_shared<_FS_HANDLE>());
        if (error != 0) return error;
    }
    for (long long b = first; b <= last; ++b) {
        const auto& kept = want.got[b - first];
        if (!kept) break;
        const std::string& block = *kept;
        long long from = std::max<long long>(offset, b * kBlock) - b * kBlock;
        long long to = std::min<long long>(end - b * kBlock, block.size());
        if (to > from) {
            out->keep.push_back(kept);
            out->pieces.push_back(
                {const_cast<char*>(block.data() + from), static_cast<size_t>(to - from)});
        }
        if (static_cast<long long>(block.size()) < kBlock) break;  // the file's last block
    }
    return 0;
}

void OpenFile::Stream(unsigned generation) {
    std::unique_lock<std::mutex> lock(lock_);
    while (streaming_ && generation_ == generation && !closed_) {
        if (eof_ >= 0 && streamPos_ >= eof_) break;
        if (streamPos_ - lastEnd_ > kMaxAhead) {
            streamWaiting_ = true;
            changed_.wait(lock);
            streamWaiting_ = false;
            continue;
        }
        long long first = streamPos_ / kBlock;
        while (blocks_.count(first) || inflight_.count(first)) ++first;
        long long count = 0;
        while (count < window_ / kBlock && !blocks_.count(first + count) &&
               !inflight_.count(first + count))
            ++count;
        if (eof_ >= 0) count = std::min(count, (eof_ - first * kBlock + kBlock - 1) / kBlock);
        if (count <= 0) {
            streamPos_ = first * kBlock;
            continue;
        }
        streamPos_ = first * kBlock;
        long long before = eof_;
        if (Fetch(lock, first, count, streamHandle_) != 0) break;
        streamPos_ = (first + count) * kBlock;
        if (eof_ != before) break;
        window_ = std::min(window_ * 2, kMaxWindow);
    }
    if (generation_ == generation) streaming_ = false;
    WakeAll();
}

void OpenFile::StopStream() {
    streaming_ = false;
    ++generation_;
    if (streamHandle_) streamHandle_->state.store(FS_HANDLE_STOP);
    WakeAll();
}

int OpenFile::MakeLocal() {
    if (fd_ >= 0) return 0;
    std::string path, error;
    if (!mount_.tree->PathOf(ino_, &path)) return ENOENT;
    fd_ = mount_.cache->Create(path, &local_, &error);
    if (fd_ < 0) {
        mount_.Note(LOG_ERROR, error);
        return EIO;
    }
    hasLocal_ = true;
    StopStream();
    return 0;
}

int OpenFile::Fill(long long from, long long to) {
    to = std::min(to, base_);
    std::string path;
    if (from < to && !mount_.tree->PathOf(ino_, &path)) return ENOENT;
    long long at = from;
    while (at < to) {
        // The next stretch no write has covered.
        auto next = written_.upper_bound(at);
        if (next != written_.begin() && std::prev(next)->second > at) {
            at = std::prev(next)->second;
            continue;
        }
        long long gapEnd = next == written_.end() ? to : std::min(to, next->first);
        auto handle = std::make_shared<_FS_HANDLE>();
        FileFetch sink(fd_, true, at, handle, at);
        Outcome read = Call(mount_.dav, [&](char** message) {
            return mount_.dav->Read(path.c_str(), at, gapEnd - at, handle, &sink, message);
        });
        if (!sink.error().empty()) return EIO;
        bool ended = !read.ok() && HttpStatusOf(read.message) == 416;
        if (!read.ok() && !ended) return ErrnoFor(read.code, read.message);
        written_[at] = gapEnd;  // what the server did not have stays a hole: zeros
        if (ended || sink.received() < gapEnd - at) {
            base_ = at + sink.received();
            break;
        }
        at = gapEnd;
    }
    return 0;
}

int OpenFile::ReadLocal(off_t offset, size_t size, ReadData* out) {
    long long end = std::min<long long>(offset + static_cast<long long>(size), size_);
    if (offset >= end) return 0;
    int error = Fill(offset, end);
    if (error != 0) return error;
    out->own.resize(static_cast<size_t>(end - offset));
    ssize_t n = pread(fd_, &out->own[0], out->own.size(), offset);
    if (n < 0) return errno;
    out->pieces.push_back({&out->own[0], static_cast<size_t>(n)});
    return 0;
}

int OpenFile::Write(off_t offset, const char* data, size_t size, bool append) {
    std::lock_guard<std::mutex> guard(lock_);
    int error = MakeLocal();
    if (error != 0) return error;
    if (append) offset = size_;
    for (size_t done = 0; done < size;) {
        ssize_t n = pwrite(fd_, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        done += static_cast<size_t>(n);
    }
    long long from = offset, to = offset + static_cast<long long>(size);
    // Merge into the written ranges.
    auto it = written_.upper_bound(from);
    if (it != written_.begin() && std::prev(it)->second >= from) --it;
    while (it != written_.end() && it->first <= to) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = written_.erase(it);
    }
    written_[from] = to;
    size_ = std::max(size_.load(), offset + static_cast<long long>(size));
    mtime_ = time(nullptr);
    dirty_ = true;
    refused_ = false;
    return 0;
}

int OpenFile::Truncate(off_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    int error = MakeLocal();
    if (error != 0) return error;
    if (ftruncate(fd_, size) != 0) return errno;
    base_ = std::min<long long>(base_, size);
    for (auto it = written_.begin(); it != written_.end();) {
        if (it->first >= size) {
            it = written_.erase(it);
            continue;
        }
        it->second = std::min<long long>(it->second, size);
        ++it;
    }
    size_ = size;
    mtime_ = time(nullptr);
    dirty_ = true;
    refused_ = false;
    return 0;
}

int OpenFile::UploadLocked() {
    std::string path;
    if (!mount_.tree->PathOf(ino_, &path)) {
        dirty_ = false;  // unlinked while open: nothing to keep on the server
        return 0;
    }
    mount_.cache->Describe(local_, path);
    std::string what = "upload " + path;
    int error = Fill(0, size_);
    Outcome upload;
    _FS_FILE record;
    if (error == 0) {
        FileCache source(fd_, size_);
        record.name = NameOf(path);
        record.size = size_;
        record.attributes = FA_FILE;
        std::string folder = ParentOf(path);
        upload = Call(mount_.dav, [&](char** message) {
            return mount_.dav->Upload(folder.c_str(), std::make_shared<_FS_HANDLE>(), &source,
                                      &record, message);
        });
        // Trust, then verify: the refreshed record must say the server holds what was sent.
        if (upload.ok() && record.id == path && record.size != size_)
            upload = {FILE_WRITE_FAILED, "the server holds " + std::to_string(record.size) +
                                             " of " + std::to_string(size_.load()) + " bytes"};
        error = ErrnoFor(upload.code, upload.message);
    } else {
        upload = {FILE_READ_FAILED, "the server's bytes of the file could not be read"};
    }
    if (error != 0) {
        refused_ = true;
        mount_.Note(LOG_ERROR, what + ": " + ResultName(upload.code) + ": " +
                                   OneLine(upload.message) + "; the data is kept in " + local_);
        return error;
    }
    dirty_ = false;
    refused_ = false;
    onServer_ = true;
    base_ = size_;
    written_.clear();
    if (size_ > 0) written_[0] = size_;
    Attr attr = record.id == path ? AttrOf(record) : Attr();
    if (record.id == path) mtime_ = attr.mtime;
    attr.size = size_;
    attr.mtime = mtime_;
    mount_.tree->Added(path, attr);
    return 0;
}

int OpenFile::Flush() {
    std::lock_guard<std::mutex> guard(lock_);
    return dirty_ ? UploadLocked() : 0;
}

bool OpenFile::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    StopStream();
    if (dirty_ && !refused_) UploadLocked();
    if (fd_ < 0) return true;
    close(fd_);
    fd_ = -1;
    if (!dirty_) mount_.cache->Remove(local_);
    return !dirty_;
}
