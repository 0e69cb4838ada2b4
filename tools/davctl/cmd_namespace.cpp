// mv, rm, mkdir and rmdir: changes to the remote namespace. Each decides on a stat whose record
// is the item named, so nothing the user did not name is deleted or replaced.
#include "commands.h"

namespace {

// Why the item at path must not be replaced by source, or "" when it may.
std::string Refusal(IProtocol_V2* dav, const _FS_FILE& source, const std::string& path,
                    const _FS_FILE& existing, bool force, Outcome* failure) {
    if (IsFolder(existing) != IsFolder(source))
        return IsFolder(existing) ? path + " is a folder; a file never replaces it"
                                  : path + " is a file; a folder never replaces it";
    if (!IsFolder(existing)) return force ? "" : path + " exists (-f replaces it)";
    CollectingList list;
    *failure = ListFolder(dav, path, &list);
    if (failure->ok() && !list.files.empty())
        return path + " is a folder that is not empty; it is never replaced";
    return "";
}

}  // namespace

int RunMv(Context& c) {
    std::string from = RemotePath(c.options.args[0]);
    if (from.empty())
        return Report("move /", INVALID_PARAMETER, "the root cannot be moved", EXIT_USAGE);
    _FS_FILE source;
    Outcome stat = StatExact(c.dav, from, &source);
    if (!stat.ok()) return Report("move " + from, stat);
    Destination dest;
    Outcome where = ResolveDestination(c.dav, c.options.args[1], NameOf(from), &dest);
    std::string to = JoinPath(dest.folder, dest.name);
    std::string action = "move " + from + " to " + to;
    if (!where.ok()) return Report(action, where);
    if (to == from) return EXIT_OK;
    if ((to + "/").compare(0, from.size() + 1, from + "/") == 0)
        return Report(action, INVALID_PARAMETER, "a folder cannot move into itself", EXIT_USAGE);

    // The server replaces whatever is at the destination: decide here whether it may.
    _FS_FILE existing;
    Outcome there = StatExact(c.dav, to, &existing);
    if (there.ok()) {
        Outcome listing;
        std::string refusal = Refusal(c.dav, source, to, existing, c.options.force, &listing);
        if (!listing.ok()) return Report(action, listing);
        if (!refusal.empty())
            return Report(action,
                          IsFolder(existing) && IsFolder(source) ? DIR_NOT_EMPTY : FILE_EXISTS,
                          refusal, EXIT_FAILED);
    } else if (there.code != FILE_NOT_FOUND) {
        return Report(action, there);
    }

    _FS_FILE record = source;  // a folder's record says so, and its move is MoveDir's
    record.name = dest.name;
    Outcome outcome = Call(c.dav, [&](char** message) {
        if (IsFolder(source))
            return c.dav->MoveDir(from.c_str(), dest.folder.c_str(), &record, message);
        // Same folder: a rename; the plug-in treats both alike, a host names them apart.
        if (dest.folder == ParentOf(from))
            return c.dav->Rename(from.c_str(), dest.folder.c_str(), &record, message);
        return c.dav->Move(from.c_str(), dest.folder.c_str(), &record, message);
    });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}

int RunRm(Context& c) {
    std::string path = RemotePath(c.options.args[0]);
    std::string action = "delete " + Shown(path);
    if (path.empty()) return Report(action, INVALID_PARAMETER, "is the root", EXIT_USAGE);
    // DELETE on a folder takes everything in it: rm keeps to what the server calls a file.
    _FS_FILE file;
    Outcome stat = StatExact(c.dav, path, &file);
    if (!stat.ok()) return Report(action, stat);
    if (IsFolder(file))
        return Report(action, INVALID_PARAMETER, "is a folder (use rmdir)", EXIT_FAILED);
    if (!IsPlainFile(file))
        return Report(action, INVALID_PARAMETER, "the server did not say it is a file",
                      EXIT_FAILED);
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
    Outcome stat = StatExact(c.dav, path, &file);
    if (!stat.ok()) return Report(action, stat);
    if (!IsFolder(file)) return Report(action, INVALID_DIRECTORY, "not a folder", EXIT_FAILED);
    if (!c.options.recursive) {
        CollectingList list;
        Outcome listing = ListFolder(c.dav, path, &list);
        if (!listing.ok()) return Report(action, listing);
        size_t count = list.files.size();
        if (count > 0)
            return Report(
                action, DIR_NOT_EMPTY,
                std::to_string(count) + (count == 1 ? " entry" : " entries") + " (use rmdir -r)",
                EXIT_FAILED);
    }
    Outcome outcome =
        Call(c.dav, [&](char** message) { return c.dav->DeleteDirectory(path.c_str(), message); });
    if (!outcome.ok()) return Report(action, outcome);
    return EXIT_OK;
}
