#include "local_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

LocalOutput::~LocalOutput() {
    if (isStdout_) return;
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool LocalOutput::Open(const std::string& target, std::string* error) {
    target_ = target;
    if (target == "-") {
        isStdout_ = true;
        fd_ = STDOUT_FILENO;
        fflush(stdout);
        return true;
    }
    std::string pattern = target + ".davctl-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkstemp(name.data());
    if (fd_ < 0) {
        *error = strerror(errno);
        return false;
    }
    temporary_ = name.data();
    // mkstemp makes the file private; a download gets the usual mode of a new file.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    positional_ = true;
    return true;
}

bool LocalOutput::Commit(std::string* error) {
    if (isStdout_) return true;
    if (close(fd_) != 0) {
        fd_ = -1;
        *error = strerror(errno);
        return false;
    }
    fd_ = -1;
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
        *error = strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}
