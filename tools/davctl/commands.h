// The subcommands. Each returns the process's exit status and reports its own failures.
#pragma once

#include <string>

#include "compiled/filesystem.h"
#include "options.h"
#include "outcome.h"
#include "remote_items.h"
#include "remote_paths.h"

struct Context {
    IProtocol_V2* dav;
    const Options& options;
    bool progress;  // draw progress bars (stderr is a terminal and they were not turned off)
};

int RunLs(Context& context);
int RunStat(Context& context);
int RunGet(Context& context);
int RunPut(Context& context);
int RunMv(Context& context);
int RunRm(Context& context);
int RunMkdir(Context& context);
int RunRmdir(Context& context);

// Where an item given as "dest" goes: into dest when it is (or is written as) a folder, keeping
// defaultName; otherwise to dest's parent under dest's name.
struct Destination {
    std::string folder;
    std::string name;
};
Outcome ResolveDestination(IProtocol_V2* dav, const std::string& destText,
                           const std::string& defaultName, Destination* destination);
