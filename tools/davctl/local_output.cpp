#include "local_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interrupt.h"

LocalOutput::~LocalOutput() {
    if (ownsFd_ && fd_ >= 0) close(fd_);
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        Interrupts::SetScratch("");
    }
}

bool LocalOutput::OpenTemporary(const std::string& path, mode_t mode, std::string* error) {
    std::string pattern = path + ".davctl-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        *error = strerror(errno);
        return false;
    }
    ownsFd_ = true;
    temporary_ = name.data();
    final_ = path;
    Interrupts::SetScratch(temporary_);
    // mkstemp makes the file private; the download gets the mode the file had or a new one.
    fchmod(fd_, mode);
    return true;
}

bool LocalOutput::Open(const std::string& target, std::string* error) {
    if (target == "-" || target == "/dev/stdout") {
        fd_ = STDOUT_FILENO;
        fflush(stdout);
        return true;
    }
    mode_t mask = umask(0);
    umask(mask);
    struct stat info;
    if (lstat(target.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            *error = strerror(errno);
            return false;
        }
        return OpenTemporary(target, 0666 & ~mask, error);
    }
    if (S_ISREG(info.st_mode)) return OpenTemporary(target, info.st_mode & 07777, error);
    char resolved[PATH_MAX];
    if (S_ISLNK(info.st_mode) && stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        realpath(target.c_str(), resolved) != nullptr)
        return OpenTemporary(resolved, info.st_mode & 07777, error);
    fd_ = open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        *error = strerror(errno);
        return false;
    }
    ownsFd_ = true;
    return true;
}

bool LocalOutput::Commit(std::string* error) {
    if (temporary_.empty()) return true;
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 || rename(temporary_.c_str(), final_.c_str()) != 0) {
        *error = strerror(errno);
        return false;
    }
    temporary_.clear();
    Interrupts::SetScratch("");
    return true;
}
