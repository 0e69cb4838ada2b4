// The host's cache interface as plug-ins see it.
#pragma once

#include <cstdint>
#include <memory>

#include "filesystem.h"

// One request for file bytes, handed by an upload to ICacheIO::ReadData.
struct _READDATA {
    char* buffer = nullptr;  // where the host writes the bytes
    int64_t offset = 0;      // file offset of the first byte wanted
    uint64_t capacity = 0;   // room in buffer
    int64_t bytesRead = 0;   // set by the host: bytes written into buffer
    std::shared_ptr<_FS_HANDLE> handle;
    int64_t totalSize = 0;  // size of the whole file
    int64_t reserved1 = 0;
    int64_t reserved2 = 0;
};

class ICacheIO {
public:
    // Copies at most capacity bytes starting at offset; a count of 0 ends the body.
    virtual AERROR ReadData(_READDATA* request) = 0;

protected:
    ~ICacheIO() = default;
};
