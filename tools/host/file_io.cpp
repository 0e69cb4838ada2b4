#include "file_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

FileFetch::FileFetch(int fd, bool positional, long long start, std::shared_ptr<_FS_HANDLE> handle,
                     long long outputStart, std::function<void(long long)> received)
    : fd_(fd),
      positional_(positional),
      start_(start),
      outputStart_(outputStart),
      handle_(std::move(handle)),
      onReceived_(std::move(received)) {}

void FileFetch::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    handle_->state.store(FS_HANDLE_STOP);
}

AERROR FileFetch::OnData(long long offset, const char* data, long long length, int) {
    if (!error_.empty()) return FILE_WRITE_FAILED;
    // Blocks must continue exactly where the last one ended; anything else would leave a hole.
    if (offset != start_ + received_ || length < 0) {
        Fail("block at offset " + std::to_string(offset) + " does not follow offset " +
             std::to_string(start_ + received_));
        return FILE_WRITE_FAILED;
    }
    long long done = 0;
    while (done < length) {
        size_t want = static_cast<size_t>(length - done);
        ssize_t n = positional_ ? pwrite(fd_, data + done, want, outputStart_ + received_ + done)
                                : write(fd_, data + done, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(n < 0 ? strerror(errno) : "nothing written");
            return FILE_WRITE_FAILED;
        }
        done += n;
    }
    received_ += length;
    if (onReceived_) onReceived_(received_);
    return SUCCESS;
}

FileCache::FileCache(int fd, long long size) : fd_(fd), size_(size) {}

AERROR FileCache::ReadData(_READDATA* request) {
    request->bytesRead = 0;
    if (request->offset < 0 || request->buffer == nullptr) return INVALID_PARAMETER;
    // Never more than the announced size, even if the file grew since it was measured.
    long long left = size_ - request->offset;
    if (left <= 0) return SUCCESS;
    size_t want = static_cast<size_t>(
        std::min<unsigned long long>(request->capacity, static_cast<unsigned long long>(left)));
    size_t got = 0;
    while (got < want) {
        ssize_t n = pread(fd_, request->buffer + got, want - got, request->offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error_.empty()) error_ = strerror(errno);
            break;
        }
        if (n == 0) {
            if (error_.empty())
                error_ = "the file shrank to " + std::to_string(request->offset + got) +
                         " bytes while it was being sent";
            break;
        }
        got += static_cast<size_t>(n);
    }
    request->bytesRead = static_cast<int64_t>(got);
    if (error_.empty()) return SUCCESS;
    // A short body would leave the server waiting for the announced length: stop instead.
    if (request->handle) request->handle->state.store(FS_HANDLE_STOP);
    return FILE_READ_FAILED;
}
