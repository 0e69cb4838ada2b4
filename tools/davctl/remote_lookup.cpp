// Stat and destination lookup shared by several commands.
#include "commands.h"
#include "paths.h"

Outcome StatPath(IProtocol_V2* dav, const std::string& path, _FS_FILE* file) {
    // GetFileInfo leaves the record alone when the answer held no entry; a size no entry can
    // have tells the two apart.
    *file = _FS_FILE();
    file->size = -1;
    Outcome outcome =
        Call(dav, [&](char** message) { return dav->GetFileInfo(path.c_str(), file, message); });
    if (outcome.ok() && file->size < 0) {
        outcome.code = FILE_NOT_FOUND;
        if (outcome.message.empty()) outcome.message = "the server described no such item";
    }
    return outcome;
}

bool IsFolder(const _FS_FILE& file) {
    return (file.attributes & FA_DIRECTORY) != FA_NONE;
}

bool IsNotFound(const Outcome& outcome) {
    return ExitStatusFor(outcome.code, outcome.message) == EXIT_NOT_FOUND;
}

Outcome ResolveDestination(IProtocol_V2* dav, const std::string& destText,
                           const std::string& defaultName, Destination* destination) {
    std::string dest = RemotePath(destText);
    bool writtenAsFolder = dest.empty() || destText.back() == '/' ||
                           NameOf(dest) != NameOf(destText);  // ".", "..", trailing "/."
    if (writtenAsFolder) {
        *destination = {dest, defaultName};
        return Outcome();
    }
    _FS_FILE file;
    Outcome outcome = StatPath(dav, dest, &file);
    if (outcome.ok() && IsFolder(file)) {
        *destination = {dest, defaultName};
        return Outcome();
    }
    if (outcome.ok() || IsNotFound(outcome)) {
        *destination = {ParentOf(dest), NameOf(dest)};
        return Outcome();
    }
    return outcome;
}
