// The command line: what the user asked for, before any environment default is applied.
#pragma once

#include <string>
#include <vector>

#include "connection.h"

struct Options {
    ConnectionOptions connection;
    std::string command;
    std::vector<std::string> args;  // the command's operands

    bool longForm = false;   // ls -l
    bool json = false;       // ls, stat
    bool recursive = false;  // rmdir -r
    bool force = false;      // mv -f
    bool noProgress = false;
    bool haveOffset = false;
    bool haveLength = false;
    long long offset = 0;
    long long length = 0;

    bool help = false;
    bool version = false;
};

// Parses argv; on a usage error returns false and describes it in *error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// Checks the operands and options against the command; false with *error on a mismatch.
bool CheckCommand(const Options& options, std::string* error);

// The --help text, exit statuses included.
std::string UsageText();
