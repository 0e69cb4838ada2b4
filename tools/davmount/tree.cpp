#include "tree.h"

#include <cerrno>

#include "remote_items.h"
#include "remote_paths.h"

namespace {

// The plug-in writes "YYYY-MM-DDThh:mm:ss.000Z" (UTC); anything else counts as unknown.
time_t ParseTime(const std::string& text) {
    struct tm t = {};
    if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
               &t.tm_hour, &t.tm_min, &t.tm_sec) != 6)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return timegm(&t);
}

// Single lookups in one folder before it is listed instead: a program that has asked for this
// many names there is walking the folder, and one listing answers every name after them.
constexpr int kListAfterLookups = 32;

bool UnderOrAt(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path[folder.size()] == '/' &&
                              path.compare(0, folder.size(), folder) == 0);
}

}  // namespace

Attr AttrOf(const _FS_FILE& file) {
    Attr attr;
    attr.folder = IsFolder(file);
    attr.size = file.size < 0 ? 0 : file.size;
    attr.mtime = ParseTime(file.modifiedTime);
    return attr;
}

Tree::Tree(IProtocol_V2* dav, double dirTimeout)
    : dav_(dav),
      dirTimeout_(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dirTimeout))) {
    Node& root = nodes_[FUSE_ROOT_ID];
    root.attr.folder = true;
    root.attr.mtime = time(nullptr);
    root.seen = Clock::time_point::max();
    byPath_[""] = FUSE_ROOT_ID;
}

bool Tree::PathOf(fuse_ino_t ino, std::string* path) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = nodes_.find(ino);
    if (it == nodes_.end() || (ino != FUSE_ROOT_ID && it->second.path.empty())) return false;
    *path = it->second.path;
    return true;
}

const Tree::Listing* Tree::FreshListing(const std::string& folder) const {
    auto it = listings_.find(folder);
    return it != listings_.end() && Fresh(it->second.taken) ? &it->second : nullptr;
}

fuse_ino_t Tree::RememberLocked(const std::string& path, const Attr& attr) {
    auto found = byPath_.find(path);
    fuse_ino_t ino = found != byPath_.end() ? found->second : next_++;
    Node& node = nodes_[ino];
    node.path = path;
    if (ino != FUSE_ROOT_ID) {
        node.attr = attr;
        node.seen = Clock::now();
    }
    ++node.lookups;
    byPath_[path] = ino;
    return ino;
}

bool Tree::Find(const std::string& path, fuse_ino_t* ino, Attr* attr) {
    std::lock_guard<std::mutex> guard(lock_);
    auto known = byPath_.find(path);
    if (known == byPath_.end()) return false;
    *ino = known->second;
    *attr = nodes_[known->second].attr;
    return true;
}

fuse_ino_t Tree::Remember(const std::string& path, const Attr& attr) {
    std::lock_guard<std::mutex> guard(lock_);
    return RememberLocked(path, attr);
}

void Tree::Forget(fuse_ino_t ino, uint64_t lookups) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = nodes_.find(ino);
    if (it == nodes_.end() || ino == FUSE_ROOT_ID) return;
    Node& node = it->second;
    node.lookups = node.lookups > lookups ? node.lookups - lookups : 0;
    if (node.lookups > 0) return;
    auto indexed = byPath_.find(node.path);
    if (indexed != byPath_.end() && indexed->second == ino) byPath_.erase(indexed);
    nodes_.erase(it);
}

void Tree::Store(const std::string& folder, const Entries& entries) {
    misses_.erase(folder);  // counted again once this listing is old
    Listing& listing = listings_[folder];
    listing.taken = Clock::now();
    listing.entries.clear();
    for (auto& [name, attr] : entries) {
        listing.entries[name] = attr;
        std::string path = JoinPath(folder, name);
        missing_.erase(path);
        auto known = byPath_.find(path);
        if (known != byPath_.end()) {
            nodes_[known->second].attr = attr;
            nodes_[known->second].seen = listing.taken;
        }
    }
}

int Tree::ListFresh(const std::string& path, Entries* entries) {
    CollectingList list;
    Outcome outcome = ListFolder(dav_, path, &list);
    if (!outcome.ok()) return ErrnoFor(outcome.code, outcome.message);
    entries->clear();
    for (auto& file : list.files) {
        // Only the folder's own children: a name must be usable as one path component.
        std::string name = NameOf(file.id);
        if (ParentOf(file.id) != path || name.empty() || name == "." || name == "..") continue;
        entries->emplace_back(name, AttrOf(file));
    }
    std::lock_guard<std::mutex> guard(lock_);
    Store(path, *entries);
    return 0;
}

int Tree::List(fuse_ino_t ino, Entries* entries) {
    std::string path;
    if (!PathOf(ino, &path)) return ENOENT;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (const Listing* listing = FreshListing(path)) {
            entries->assign(listing->entries.begin(), listing->entries.end());
            return 0;
        }
    }
    return ListFresh(path, entries);
}

int Tree::Lookup(fuse_ino_t parent, const std::string& name, fuse_ino_t* ino, Attr* attr) {
    std::string folder;
    if (!PathOf(parent, &folder)) return ENOENT;
    std::string path = JoinPath(folder, name);
    bool listFolder = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (const Listing* listing = FreshListing(folder)) {
            auto it = listing->entries.find(name);
            if (it == listing->entries.end()) return ENOENT;
            *attr = it->second;
            *ino = RememberLocked(path, *attr);
            return 0;
        }
        auto gone = missing_.find(path);
        if (gone != missing_.end() && Fresh(gone->second)) return ENOENT;
        auto known = byPath_.find(path);
        if (known != byPath_.end() && Fresh(nodes_[known->second].seen)) {
            *attr = nodes_[known->second].attr;
            *ino = RememberLocked(path, *attr);
            return 0;
        }
        Misses& misses = misses_[folder];
        if (misses.count == 0 || !Fresh(misses.since)) misses = {0, Clock::now()};
        listFolder = ++misses.count > kListAfterLookups;
        if (listFolder) misses_.erase(folder);
    }
    Entries entries;
    // A listing that fails (a server may refuse Depth 1) leaves the single lookup.
    if (listFolder && ListFresh(folder, &entries) == 0)
        return Settle(path, name, entries, ino, attr);
    _FS_FILE file;
    Outcome stat = StatExact(dav_, path, &file);
    entries.clear();
    if (stat.ok()) {
        entries.emplace_back(name, AttrOf(file));
    } else if (stat.code != FILE_NOT_FOUND) {
        // An answer about some other item, or none: the folder's listing settles it.
        int error = ListFresh(folder, &entries);
        if (error != 0) return error;
    }
    return Settle(path, name, entries, ino, attr);
}

int Tree::Settle(const std::string& path, const std::string& name, const Entries& entries,
                 fuse_ino_t* ino, Attr* attr) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [entryName, entryAttr] : entries) {
        if (entryName != name) continue;
        *attr = entryAttr;
        *ino = RememberLocked(path, *attr);
        return 0;
    }
    missing_[path] = Clock::now();
    return ENOENT;
}

int Tree::Attributes(fuse_ino_t ino, Attr* attr) {
    std::string path;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = nodes_.find(ino);
        if (it == nodes_.end() || (ino != FUSE_ROOT_ID && it->second.path.empty())) return ENOENT;
        *attr = it->second.attr;
        path = it->second.path;
        if (ino == FUSE_ROOT_ID || Fresh(it->second.seen)) return 0;
        if (const Listing* listing = FreshListing(ParentOf(path))) {
            auto entry = listing->entries.find(NameOf(path));
            if (entry == listing->entries.end()) return ENOENT;
            *attr = entry->second;
            return 0;
        }
    }
    _FS_FILE file;
    Outcome stat = StatExact(dav_, path, &file);
    if (stat.code == FILE_NOT_FOUND) return ENOENT;
    // Without a clear answer the last one seen stands: a slow server must not make files vanish.
    if (!stat.ok()) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    *attr = AttrOf(file);
    auto it = nodes_.find(ino);
    if (it != nodes_.end()) {
        it->second.attr = *attr;
        it->second.seen = Clock::now();
    }
    return 0;
}

void Tree::Added(const std::string& path, const Attr& attr) {
    std::lock_guard<std::mutex> guard(lock_);
    missing_.erase(path);
    auto listing = listings_.find(ParentOf(path));
    if (listing != listings_.end()) listing->second.entries[NameOf(path)] = attr;
    auto known = byPath_.find(path);
    if (known != byPath_.end()) {
        nodes_[known->second].attr = attr;
        nodes_[known->second].seen = Clock::now();
    }
}

void Tree::DetachLocked(const std::string& path) {
    for (auto it = byPath_.begin(); it != byPath_.end();) {
        if (UnderOrAt(it->first, path)) {
            nodes_[it->second].path.clear();
            it = byPath_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = listings_.begin(); it != listings_.end();)
        it = UnderOrAt(it->first, path) ? listings_.erase(it) : std::next(it);
    auto parent = listings_.find(ParentOf(path));
    if (parent != listings_.end()) parent->second.entries.erase(NameOf(path));
}

void Tree::Removed(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    DetachLocked(path);
    missing_[path] = Clock::now();
}

void Tree::Moved(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(lock_);
    Attr attr;
    auto source = byPath_.find(from);
    if (source != byPath_.end()) attr = nodes_[source->second].attr;
    DetachLocked(to);  // whatever the move replaced
    std::vector<std::pair<std::string, fuse_ino_t>> moving;
    for (auto& [path, ino] : byPath_)
        if (UnderOrAt(path, from)) moving.emplace_back(path, ino);
    for (auto& [path, ino] : moving) {
        byPath_.erase(path);
        std::string renamed = to + path.substr(from.size());
        nodes_[ino].path = renamed;
        byPath_[renamed] = ino;
    }
    for (auto it = listings_.begin(); it != listings_.end();)
        it = UnderOrAt(it->first, from) ? listings_.erase(it) : std::next(it);
    auto oldParent = listings_.find(ParentOf(from));
    if (oldParent != listings_.end()) {
        auto entry = oldParent->second.entries.find(NameOf(from));
        if (entry != oldParent->second.entries.end()) attr = entry->second;
        oldParent->second.entries.erase(NameOf(from));
    }
    auto newParent = listings_.find(ParentOf(to));
    if (newParent != listings_.end()) newParent->second.entries[NameOf(to)] = attr;
    missing_.erase(to);
    missing_[from] = Clock::now();
}
