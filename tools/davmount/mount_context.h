// What every part of a mount shares: the one protocol object, the namespace, the cache folder,
// the logger and the threads that fetch ahead.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "cache_folder.h"
#include "compiled/filesystem.h"
#include "compiled/logger.h"
#include "tree.h"

// Threads that run on their own (read-ahead); the mount waits for them before it ends.
class Background {
public:
    void Run(std::function<void()> work);
    void Wait();

private:
    std::mutex lock_;
    std::condition_variable idle_;
    int running_ = 0;
};

struct MountContext {
    IProtocol_V2* dav;
    Tree* tree;
    CacheFolder* cache;
    ILog* log;
    Background* background;

    void Note(LOGLEVEL level, const std::string& text) const {
        log->Write(level, ("davmount: " + text).c_str());
    }
};
