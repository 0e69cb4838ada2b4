// Writing JSON text: the option document handed to the plug-in and the --json output.
#pragma once

#include <string>

#include "compiled/filesystem.h"

// A JSON string literal, quotes included; control characters and non-ASCII bytes pass as \u or
// unchanged UTF-8 respectively.
std::string JsonString(const std::string& text);

// One entry as a JSON object: name, path, type, size and the three times.
std::string JsonEntry(const _FS_FILE& file);

// "file", "folder" or "unknown".
const char* KindName(const _FS_FILE& file);
