// Asking the server about items, with the answers judged before anything is decided on them.
#pragma once

#include <string>
#include <vector>

#include "compiled/filesystem.h"
#include "outcome.h"

// GetFileInfo of path into *file. SUCCESS only when the answer describes path itself: a stat
// answer may also carry other items, and a record of one of them must never pass for the item
// asked about. FILE_NOT_FOUND for a 404 or 410, or an answer describing nothing; FAILED with a
// message saying so when it described another item.
Outcome StatExact(IProtocol_V2* dav, const std::string& path, _FS_FILE* file);

bool IsFolder(const _FS_FILE& file);
bool IsPlainFile(const _FS_FILE& file);

// A listing sink that keeps a copy of every entry.
class CollectingList final : public IFileList {
public:
    AERROR AddFile(_FS_FILE* file) override {
        if (file != nullptr) files.push_back(*file);
        return SUCCESS;
    }
    std::vector<_FS_FILE> files;
};

// GetFileList of path into *list.
Outcome ListFolder(IProtocol_V2* dav, const std::string& path, CollectingList* list);
