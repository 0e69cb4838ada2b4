// The host's data ends of a transfer, backed by a local file descriptor: blocks of a download
// go straight to the file as they arrive, and an upload reads the file piece by piece, so
// memory use does not grow with the file.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "compiled/cache.h"
#include "compiled/filesystem.h"

class FileFetch final : public IFetchCallback {
public:
    // Blocks of file offset `start` onward land at output position outputStart onward. A
    // positional output (a regular file) is written with pwrite; anything else strictly in
    // sequence. received(bytes so far) is told after every block, when given.
    FileFetch(int fd, bool positional, long long start, std::shared_ptr<_FS_HANDLE> handle,
              long long outputStart, std::function<void(long long)> received = nullptr);
    AERROR OnData(long long offset, const char* data, long long length, int flags) override;

    long long received() const { return received_; }
    // Empty while all is well; otherwise why the output stopped (the transfer is stopped too).
    const std::string& error() const { return error_; }

private:
    void Fail(const std::string& why);

    int fd_;
    bool positional_;
    long long start_;
    long long outputStart_;
    long long received_ = 0;
    std::shared_ptr<_FS_HANDLE> handle_;
    std::function<void(long long)> onReceived_;
    std::string error_;
};

class FileCache final : public ICacheIO {
public:
    FileCache(int fd, long long size);
    AERROR ReadData(_READDATA* request) override;
    const std::string& error() const { return error_; }

private:
    int fd_;
    long long size_;
    std::string error_;
};
