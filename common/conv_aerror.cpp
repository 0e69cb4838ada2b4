#include "conv_aerror.h"

#include <cerrno>
#include <cstddef>
#include <iterator>

namespace {

const char* const general_names[] = {
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

const char* const asyncq_names[] = {
    "ASYNCQ_STOPPED",
    "ASYNCQ_NULLOBJECT",
    "ASYNCQ_THREADCREATIONFAILED",
};

const char* const fs_names[] = {
    "FS_UNKNOWN_ERROR",      "FS_ALREADY_AUTHORIZED", "FS_ALREADY_MOUNTED",  "FS_INVALID_LETTER",
    "FS_UNKNOWN_MOUNT_TYPE", "FS_DRIVER_ERROR",       "FS_START_ERROR",      "FS_MOUNT_ERROR",
    "FS_MOUNT_POINT_ERROR",  "FS_UNMOUNT_FAILED",     "FS_INITIALIZE_FIRST", "FS_NEED_REFRESH",
    "FS_NEED_AUTHORIZE",
};

const char* const cache_names[] = {
    "CACHE_TOO_SMALL",     "CACHE_INVALID_OPEN_MODE",  "CACHE_INVALID_PATH",
    "CACHE_CREATE_FAILED", "CACHE_NOT_OPENED",         "CACHE_OFFSET_NOT_ALIGNED",
    "CACHE_WRITE_FAILED",  "CACHE_READ_FAILED",        "CACHE_BLOCK_RESERVED",
    "CACHE_BLOCK_EMPTY",   "CACHE_NO_NEED_READAHEAD",  "CACHE_NEED_READAHEAD",
    "CACHE_READAHEAD",     "CACHE_NO_RESERVED_BLOCKS",
};

template <size_t N>
const char* Lookup(const char* const (&names)[N], long long first, long long code) {
    long long index = code - first;
    if (index < 0 || index >= static_cast<long long>(N)) return "Unknown";
    return names[index];
}

}  // namespace

const char* GetAERRORA(AERROR code) {
    long long value = static_cast<long long>(code);
    if (value > 3000) return Lookup(cache_names, CACHE_TOO_SMALL, value);
    if (value > 2000) return Lookup(fs_names, FS_UNKNOWN_ERROR, value);
    if (value > 999) return Lookup(asyncq_names, ASYNCQ_STOPPED, value);
    return Lookup(general_names, SUCCESS, value);
}

int ConvertAERROR(AERROR code) {
    switch (code) {
        case SUCCESS:
            return 0;
        case FILE_NOT_FOUND:
            return -ENOENT;
        default:
            return -EIO;
    }
}
