#include "result_names.h"

#include <cstring>

namespace {

// Each range of the host's result codes is dense; a gap or a value past a range's end is unnamed.
const char* const general[] = {
    "SUCCESS",           "FAILED",
    "ACCESS_VIOLATION",  "INSUFFICIENT_BUFFER",
    "INVALID_PARAMETER", "FOLDER_CREATION_FAILED",
    "NOT_SUPPORTED",     "FILE_OPEN_FAILED",
    "FILE_READ_FAILED",  "FILE_WRITE_FAILED",
    "FILE_SEEK_FAILED",  "AUTH_FAILED",
    "READ_CANCELED",     "UPLOAD_CANCELED",
    "RETRY_UPLOAD",      "SAVE_TO_LOCAL",
    "SAVE_FAILED",       "DEVICE_NOT_READY",
    "FILE_NOT_FOUND",    "PATH_NOT_FOUND",
    "CAN_NOT_MAKE",      "FILE_EXISTS",
    "ALREADY_EXISTS",    "ACCESS_DENIED",
    "INVALID_NAME",      "OPEN_FAILED",
    "NO_ACCESS",         "INVALID_USER_BUFFER",
    "INVALID_HANDLE",    "INVALID_DIRECTORY",
    "DELETE_PENDING",    "PENDING",
    "NO_PRIVILEGE",      "NET_WRITE_FAILED",
    "HANDLE_EOF",        "DIR_NOT_EMPTY",
    "SHARING_VIOLATION", "INVALID_FUNCTION",
    "READ_ONLY_FILE",    "WRITE_PROTECT",
    "BAD_ARGUMENTS",
};
const char* const asyncq[] = {"ASYNCQ_STOPPED", "ASYNCQ_NULLOBJECT", "ASYNCQ_THREADCREATIONFAILED"};
const char* const filesystem[] = {
    "FS_UNKNOWN_ERROR",      "FS_ALREADY_AUTHORIZED", "FS_ALREADY_MOUNTED",  "FS_INVALID_LETTER",
    "FS_UNKNOWN_MOUNT_TYPE", "FS_DRIVER_ERROR",       "FS_START_ERROR",      "FS_MOUNT_ERROR",
    "FS_MOUNT_POINT_ERROR",  "FS_UNMOUNT_FAILED",     "FS_INITIALIZE_FIRST", "FS_NEED_REFRESH",
    "FS_NEED_AUTHORIZE",
};
const char* const cache[] = {
    "CACHE_TOO_SMALL",     "CACHE_INVALID_OPEN_MODE",  "CACHE_INVALID_PATH",
    "CACHE_CREATE_FAILED", "CACHE_NOT_OPENED",         "CACHE_OFFSET_NOT_ALIGNED",
    "CACHE_WRITE_FAILED",  "CACHE_READ_FAILED",        "CACHE_BLOCK_RESERVED",
    "CACHE_BLOCK_EMPTY",   "CACHE_NO_NEED_READAHEAD",  "CACHE_NEED_READAHEAD",
    "CACHE_READAHEAD",     "CACHE_NO_RESERVED_BLOCKS",
};

template <size_t N>
const char* Lookup(const char* const (&table)[N], long index) {
    return index >= 0 && index < static_cast<long>(N) ? table[index] : "Unknown";
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

const char* ResultName(AERROR code) {
    long value = code;
    if (value > 3000) return Lookup(cache, value - 3001);
    if (value > 2000) return Lookup(filesystem, value - 2001);
    if (value > 999) return Lookup(asyncq, value - 1000);
    return Lookup(general, value);
}

ExitStatus ExitStatusFor(AERROR code, const std::string& serverMessage) {
    switch (code) {
        case SUCCESS:
            return EXIT_OK;
        case ACCESS_DENIED:
        case AUTH_FAILED:
        case NO_ACCESS:
        case NO_PRIVILEGE:
            return EXIT_DENIED;
        case FILE_NOT_FOUND:
        case PATH_NOT_FOUND:
            return EXIT_NOT_FOUND;
        default:
            break;
    }
    if (StartsWith(serverMessage, "404 ") || serverMessage == "404" ||
        StartsWith(serverMessage, "410 ") || serverMessage == "410")
        return EXIT_NOT_FOUND;
    return EXIT_FAILED;
}
