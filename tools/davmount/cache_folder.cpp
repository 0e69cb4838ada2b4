#include "cache_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string SidecarOf(const std::string& local) {
    return local.substr(0, local.size() - 5) + ".path";  // ".data" -> ".path"
}

bool MakeFolders(const std::string& path, std::string* error) {
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot make the cache folder " + part + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CacheFolder::Open(const std::string& base, const std::string& url, const std::string& user,
                       std::string* error) {
    std::string root = base;
    if (root.empty()) {
        const char* xdg = getenv("XDG_CACHE_HOME");
        const char* home = getenv("HOME");
        if (xdg != nullptr && *xdg != '\0')
            root = std::string(xdg) + "/davmount";
        else
            root = std::string(home != nullptr && *home != '\0' ? home : "/var/tmp") +
                   "/.cache/davmount";
    }
    // One folder per server and user, named so that a person can tell which is which.
    std::string key = user.empty() ? url : user + "@" + url;
    for (char& c : key)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '@') c = '_';
    path_ = root + "/" + key;
    return MakeFolders(path_, error);
}

std::vector<std::pair<std::string, std::string>> CacheFolder::Leftovers() const {
    std::vector<std::pair<std::string, std::string>> files;
    DIR* dir = opendir(path_.c_str());
    if (dir == nullptr) return files;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() < 6 || name.compare(name.size() - 5, 5, ".data") != 0) continue;
        std::string local = path_ + "/" + name;
        std::ifstream in(SidecarOf(local));
        std::string remote;
        std::getline(in, remote);
        files.emplace_back(local, remote.empty() ? "(unknown)" : remote);
    }
    closedir(dir);
    return files;
}

int CacheFolder::Create(const std::string& remotePath, std::string* local, std::string* error) {
    for (;;) {
        std::string name;
        {
            std::lock_guard<std::mutex> guard(lock_);
            name = std::to_string(getpid()) + "-" + std::to_string(++counter_);
        }
        *local = path_ + "/" + name + ".data";
        int fd = open(local->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            Describe(*local, remotePath);
            return fd;
        }
        if (errno != EEXIST) {  // a leftover of an earlier process with the same number
            *error = "cannot make " + *local + ": " + strerror(errno);
            return -1;
        }
    }
}

void CacheFolder::Describe(const std::string& local, const std::string& remotePath) const {
    std::ofstream(SidecarOf(local), std::ios::trunc) << remotePath << '\n';
}

void CacheFolder::Remove(const std::string& local) const {
    unlink(local.c_str());
    unlink(SidecarOf(local).c_str());
}
