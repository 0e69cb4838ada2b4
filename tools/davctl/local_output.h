// The destination of a download: standard output, or a new file that only takes the target's
// name once the download is complete (a failed or interrupted download leaves nothing behind
// and an existing file untouched).
#pragma once

#include <string>

class LocalOutput {
public:
    ~LocalOutput();
    // target "-" is standard output. False with *error when the file cannot be created.
    bool Open(const std::string& target, std::string* error);
    // Moves the finished file into place; false with *error on failure.
    bool Commit(std::string* error);

    int fd() const { return fd_; }
    // Whether blocks may be written at their position (a regular file) or only in sequence.
    bool positional() const { return positional_; }
    const std::string& path() const { return target_; }

private:
    int fd_ = -1;
    bool positional_ = false;
    bool isStdout_ = false;
    std::string target_;
    std::string temporary_;
};
