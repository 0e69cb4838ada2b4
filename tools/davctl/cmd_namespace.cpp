// mv, rm, mkdir and rmdir: changes to the remote namespace.
#include "commands.h"
#include "paths.h"

namespace {

// Counts entries without keeping them.
class CountingList final : public IFileList {
public:
    AERROR AddFile(_FS_FILE*) override {
        ++count;
        return SUCCESS;
    }
    long count = 0;
};

}  // namespace

int RunMv(Context& c) {
    std::string from = RemotePath(c.options.args[0]);
    if (from.empty())
        return Report("move /", INVALID_PARAMETER, "the root cannot be moved", EXIT_USAGE);
    Destination dest;
    Outcome where = ResolveDestination(c.dav, c.options.args[1], NameOf(from), &dest);
    std::string to = JoinPath(dest.folder, dest.name);
    std::string action = "move " + from + " to " + to;
    if (!where.ok()) return Report(action, where);
    if (to == from) return EXIT_OK;
    if ((to + "/").compare(0, from.size() + 1, from + "/") == 0)
        return Report(action, INVALID_PARAMETER, "a folder cannot move into itself", EXIT_USAGE);

    _FS_FILE file;
    file.name = dest.name;
    Outcome outcome = Call(c.dav, [&](char** message) {
        // Same folder: a rename; the plug-in treats both alike, a host names them apart.
        if (dest.folder == ParentOf(from))
            return c.dav->Rename(from.c_str(), dest.folder.c_str(), &file, message);
        return c.dav->Move(from.c_str(), dest.folder.c_str(), &file, message);
    });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}

int RunRm(Context& c) {
    std::string path = RemotePath(c.options.args[0]);
    std::string action = "delete " + Shown(path);
    if (path.empty()) return Report(action, INVALID_PARAMETER, "is the root", EXIT_USAGE);
    // DELETE on a folder takes everything in it: rm keeps to files.
    _FS_FILE file;
    Outcome stat = StatPath(c.dav, path, &file);
    if (!stat.ok()) return Report(action, stat);
    if (IsFolder(file))
        return Report(action, INVALID_PARAMETER, "is a folder (use rmdir)", EXIT_FAILED);
    Outcome outcome =
        Call(c.dav, [&](char** message) { return c.dav->Delete(path.c_str(), message); });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}

int RunMkdir(Context& c) {
    std::string path = RemotePath(c.options.args[0]);
    std::string action = "create folder " + Shown(path);
    if (path.empty()) return Report(action, ALREADY_EXISTS, "is the root", EXIT_FAILED);
    std::string parent = ParentOf(path);
    _FS_FILE file;
    file.name = NameOf(path);
    file.attributes = FA_DIRECTORY;
    Outcome outcome = Call(c.dav, [&](char** message) {
        return c.dav->CreateDirectory(parent.c_str(), &file, message);
    });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}

int RunRmdir(Context& c) {
    std::string path = RemotePath(c.options.args[0]);
    std::string action = "delete folder " + Shown(path);
    if (path.empty()) return Report(action, INVALID_PARAMETER, "is the root", EXIT_USAGE);
    _FS_FILE file;
    Outcome stat = StatPath(c.dav, path, &file);
    if (!stat.ok()) return Report(action, stat);
    if (!IsFolder(file)) return Report(action, INVALID_DIRECTORY, "not a folder", EXIT_FAILED);
    if (!c.options.recursive) {
        CountingList list;
        Outcome listing = Call(c.dav, [&](char** message) {
            return c.dav->GetFileList(path.c_str(), &list, message);
        });
        if (!listing.ok()) return Report(action, listing);
        if (list.count > 0)
            return Report(action, DIR_NOT_EMPTY,
                          std::to_string(list.count) + (list.count == 1 ? " entry" : " entries") +
                              " (use rmdir -r)",
                          EXIT_FAILED);
    }
    Outcome outcome =
        Call(c.dav, [&](char** message) { return c.dav->DeleteDirectory(path.c_str(), message); });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}
