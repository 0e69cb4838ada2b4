// davmount's command line.
#pragma once

#include <sys/types.h>

#include <string>

#include "connection.h"

struct MountOptions {
    ConnectionOptions connection;
    std::string mountpoint;
    std::string cacheDir;  // empty: $XDG_CACHE_HOME/davmount or ~/.cache/davmount
    bool readOnly = false;
    bool allowOther = false;
    // Reads and writes go between the program and davmount without the kernel's page cache:
    // a big file streams with one copy less, but nothing stays for the next read and a
    // shared mmap is refused.
    bool directIo = false;
    uid_t uid;
    gid_t gid;
    unsigned umask = 022;
    double attrTimeout = 5;  // seconds the kernel may keep attributes and names
    double dirTimeout = 30;  // seconds a folder's listing answers lookups and readdir
    // davmount's own notes (uploads refused, files left unsent) show at "error" unless
    // --log-level says otherwise; the plug-in's lines only when asked for.
    LogLevel notes = LogLevel::Error;
    bool help = false;
    bool version = false;
};

// Parses argv; on a usage error returns false and describes it in *error.
bool ParseMountOptions(int argc, char** argv, MountOptions* options, std::string* error);

std::string MountUsageText();
