// A host as the product is one: dlopen, the nine entry points, a bound recording logger, and
// protocol objects used through IProtocol_V2 only, released before the host unloads.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/host_doubles.h"
#include "support/paths.h"

#define WEBDAV_ENTRY_POINTS(X) \
    X(GetSupports)             \
    X(GetProtocolVersion)      \
    X(GetSupportProtocol)      \
    X(FreeP) X(BindLogger) X(UnbindLogger) X(BindAsyncQ) X(UnbindAsyncQ) X(GetProtocol)
#define WEBDAV_ENTRY_POINT(name) name##_t name = nullptr;
#define WEBDAV_RESOLVE(name)                                       \
    api_.name = reinterpret_cast<name##_t>(dlsym(library, #name)); \
    if (api_.name == nullptr) throw std::runtime_error("not exported: " #name);
struct PluginEntryPoints {
    WEBDAV_ENTRY_POINTS(WEBDAV_ENTRY_POINT)
};

struct ProtocolReleaser {
    void operator()(IProtocol_V2* protocol) const { protocol->Release(); }
};
using ProtocolPtr = std::unique_ptr<IProtocol_V2, ProtocolReleaser>;

class TestHost {
public:
    explicit TestHost(const std::string& path = PluginPath(), bool bindLogger = true)
        : library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (library == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
        WEBDAV_ENTRY_POINTS(WEBDAV_RESOLVE)
        if (bindLogger) api_.BindLogger(&logger_);
    }
    ~TestHost() {
        api_.UnbindLogger();
        dlclose(library);
    }
    TestHost(const TestHost&) = delete;

    // A new object for url; null, with a test failure, when GetProtocol refuses.
    ProtocolPtr Create(const std::string& url, IProtocolManager* manager = nullptr) {
        IProtocol_V2* protocol = nullptr;
        if (!api_.GetProtocol(url.c_str(), manager, &protocol)) ADD_FAILURE() << "refused " << url;
        return ProtocolPtr(protocol);
    }
    RecordingLogger& logger() { return logger_; }
    const PluginEntryPoints& api() const { return api_; }

private:
    void* library;
    PluginEntryPoints api_;
    RecordingLogger logger_;
};
