// The --json form of a listing entry.
#pragma once

#include <string>

#include "compiled/filesystem.h"

// One entry as a JSON object: name, path, type, size and the three times.
std::string JsonEntry(const _FS_FILE& file);

// "file", "folder" or "unknown".
const char* KindName(const _FS_FILE& file);
