// The destination of a download. A regular file or a new name gets a temporary file beside it
// that takes the name only once the download is complete (a failed or interrupted download
// leaves nothing behind and an existing file untouched). Standard output ("-", /dev/stdout), a
// device or a FIFO is written through as it stands: renaming over it would replace the device
// node itself. A symbolic link keeps being a link: what it points to gets the data.
#pragma once

#include <sys/types.h>

#include <string>

class LocalOutput {
public:
    ~LocalOutput();
    // False with *error when the target cannot be opened or its temporary file made.
    bool Open(const std::string& target, std::string* error);
    // Moves a finished temporary file into place; false with *error on failure.
    bool Commit(std::string* error);

    int fd() const { return fd_; }
    // Whether blocks may be written at their position (a file of ours) or only in sequence.
    bool positional() const { return !temporary_.empty(); }

private:
    bool OpenTemporary(const std::string& path, mode_t mode, std::string* error);

    int fd_ = -1;
    bool ownsFd_ = false;
    std::string final_;      // where the temporary file goes
    std::string temporary_;  // empty when writing through
};
