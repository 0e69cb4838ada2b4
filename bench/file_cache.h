// The host's cache as a file on disk, serving an upload's pieces, for the upload benchmarks.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "compiled/cache.h"

class FileCache : public ICacheIO {
public:
    explicit FileCache(const std::string& path) : fd(open(path.c_str(), O_RDONLY)) {}
    ~FileCache() {
        if (fd >= 0) close(fd);
    }
    FileCache(const FileCache&) = delete;
    FileCache& operator=(const FileCache&) = delete;
    AERROR ReadData(_READDATA* request) override {
        ssize_t n = pread(fd, request->buffer, request->capacity, request->offset);
        request->bytesRead = n > 0 ? n : 0;
        return n >= 0 ? SUCCESS : CACHE_READ_FAILED;
    }

private:
    int fd;
};
