// Loads the protocol plug-in with dlopen and resolves its nine entry points, as the host does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "compiled/filesystem.h"

struct EntryPoints {
    GetSupports_t GetSupports = nullptr;
    GetProtocolVersion_t GetProtocolVersion = nullptr;
    GetSupportProtocol_t GetSupportProtocol = nullptr;
    FreeP_t FreeP = nullptr;
    BindLogger_t BindLogger = nullptr;
    UnbindLogger_t UnbindLogger = nullptr;
    BindAsyncQ_t BindAsyncQ = nullptr;
    UnbindAsyncQ_t UnbindAsyncQ = nullptr;
    GetProtocol_t GetProtocol = nullptr;
};

// Ends a protocol object's life the only way the host may: through Release.
struct ReleaseProtocol {
    void operator()(IProtocol_V2* protocol) const {
        if (protocol != nullptr) protocol->Release();
    }
};
using ProtocolPtr = std::unique_ptr<IProtocol_V2, ReleaseProtocol>;

class PluginLibrary {
public:
    // Opens the module and resolves every entry point; null with *error when either fails.
    static std::shared_ptr<PluginLibrary> Load(const std::string& path, std::string* error);

    const EntryPoints& api() const { return api_; }
    const std::string& path() const { return path_; }
    // The protocol identifier the plug-in announces ("dav;box"), copied out of its heap.
    std::string ProtocolName() const;

private:
    std::shared_ptr<void> module_;  // dlclose when the last user lets go
    EntryPoints api_;
    std::string path_;
};

// Where to look for the plug-in: an explicit path alone, else next to the executable, then the
// build's own module.
std::vector<std::string> PluginCandidates(const std::string& explicitPath);

// Loads the plug-in named by --plugin (explicitPath), else WEBDAV_PLUGIN, else the first
// candidate that exists; null with *error saying what was tried.
std::shared_ptr<PluginLibrary> LoadPlugin(const std::string& explicitPath, std::string* error);
