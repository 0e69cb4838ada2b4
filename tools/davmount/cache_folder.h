// The folder where changed files wait for their upload. Each waiting file is "<n>.data" with a
// "<n>.path" beside it naming the remote file, so that whatever a crash interrupts is still
// there, and says what it is, when the next mount starts.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CacheFolder {
public:
    // The folder of this server and user under base (made if needed); false with *error.
    bool Open(const std::string& base, const std::string& url, const std::string& user,
              std::string* error);
    const std::string& path() const { return path_; }

    // Files left by an earlier mount: (local data file, remote path).
    std::vector<std::pair<std::string, std::string>> Leftovers() const;

    // A new empty data file for remotePath, open for reading and writing; -1 with *error.
    int Create(const std::string& remotePath, std::string* local, std::string* error);
    // Records the remote path a data file belongs to now.
    void Describe(const std::string& local, const std::string& remotePath) const;
    // Removes a data file and its description.
    void Remove(const std::string& local) const;

private:
    std::string path_;
    std::mutex lock_;
    unsigned long counter_ = 0;
};
