#include "remote_items.h"

Outcome StatExact(IProtocol_V2* dav, const std::string& path, _FS_FILE* file) {
    // GetFileInfo leaves the record alone when the answer held no entry; a size no entry can
    // have tells the two apart.
    *file = _FS_FILE();
    file->size = -1;
    Outcome outcome =
        Call(dav, [&](char** message) { return dav->GetFileInfo(path.c_str(), file, message); });
    int status = HttpStatusOf(outcome.message);
    if (outcome.code == FAILED && (status == 404 || status == 410)) outcome.code = FILE_NOT_FOUND;
    if (!outcome.ok()) return outcome;
    if (file->size < 0) {
        outcome.code = FILE_NOT_FOUND;
        outcome.message = "the server described no such item";
    } else if (file->id != path) {
        outcome.code = FAILED;
        outcome.message = "the server's answer described " + (file->id.empty() ? "/" : file->id) +
                          " instead, so nothing is known for sure";
    }
    return outcome;
}

bool IsFolder(const _FS_FILE& file) {
    return (file.attributes & FA_DIRECTORY) != FA_NONE;
}

bool IsPlainFile(const _FS_FILE& file) {
    return !IsFolder(file) && (file.attributes & FA_FILE) != FA_NONE;
}

Outcome ListFolder(IProtocol_V2* dav, const std::string& path, CollectingList* list) {
    return Call(dav, [&](char** message) { return dav->GetFileList(path.c_str(), list, message); });
}
