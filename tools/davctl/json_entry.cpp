#include "json_entry.h"

#include "json_text.h"

const char* KindName(const _FS_FILE& file) {
    if ((file.attributes & FA_DIRECTORY) != FA_NONE) return "folder";
    if ((file.attributes & FA_FILE) != FA_NONE) return "file";
    return "unknown";
}

std::string JsonEntry(const _FS_FILE& file) {
    std::string path = file.id.empty() ? "/" : file.id;
    return "{\"name\":" + JsonString(file.name) + ",\"path\":" + JsonString(path) +
           ",\"type\":" + JsonString(KindName(file)) + ",\"size\":" + std::to_string(file.size) +
           ",\"modified\":" + JsonString(file.modifiedTime) +
           ",\"created\":" + JsonString(file.creationTime) +
           ",\"accessed\":" + JsonString(file.accessTime) + "}";
}
