#include "json_text.h"

#include <cstdio>

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escaped[8];
                    snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

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
