// Destination lookup shared by put and mv.
#include "commands.h"

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
    Outcome outcome = StatExact(dav, dest, &file);
    if (outcome.ok() && IsFolder(file)) {
        *destination = {dest, defaultName};
        return Outcome();
    }
    if (outcome.ok() || outcome.code == FILE_NOT_FOUND) {
        *destination = {ParentOf(dest), NameOf(dest)};
        return Outcome();
    }
    return outcome;
}
