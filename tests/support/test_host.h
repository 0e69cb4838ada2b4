// A host for end-to-end tests: loads the built plug-in with dlopen exactly as
// the product does, resolves its nine entry points, binds a recording logger
// and hands out protocol objects that are used only through IProtocol_V2.
//
//     TestHost host;
//     auto p = host.Create("http://127.0.0.1:8080/dav");
//     p->GetFileList("/", &sink, &message);
//     host.logger().Has(1025, "GetFileList");
//
// Protocol objects are released by their unique_ptr (through Release) and
// must not outlive the host that created them.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "compiled/filesystem.h"
#include "compiled/logger.h"
#include "support/host_doubles.h"

// The entry points as resolved from the loaded library.
struct PluginEntryPoints {
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

// Ends a protocol object's life the way the host does: through Release.
class ProtocolReleaser {
public:
    ProtocolReleaser() = default;
    explicit ProtocolReleaser(std::shared_ptr<std::atomic<int>> live) : live(std::move(live)) {}
    void operator()(IProtocol_V2* protocol) const;

private:
    std::shared_ptr<std::atomic<int>> live;
};

// A loopback port with nothing listening on it (bound once, then closed), so
// that a request fails at once with "connection refused".
int ClosedLoopbackPort();
// "http://127.0.0.1:<closed port>" followed by path.
std::string ClosedLoopbackUrl(const std::string& path = "");

using ProtocolPtr = std::unique_ptr<IProtocol_V2, ProtocolReleaser>;

class TestHost {
public:
    // Loads the library (RTLD_NOW | RTLD_LOCAL) and binds logger(); throws
    // std::runtime_error when the library or an entry point cannot be found.
    explicit TestHost(const std::string& path = WEBDAV_PLUGIN_PATH, bool bindLogger = true);
    // Unbinds the logger and unloads the library.
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // A new protocol object for url, or null (with a test failure recorded)
    // when GetProtocol refuses.
    ProtocolPtr Create(const std::string& url, IProtocolManager* manager = nullptr);

    RecordingLogger& logger() { return logger_; }
    const PluginEntryPoints& api() const { return api_; }
    void* handle() const { return handle_; }
    const std::string& path() const { return path_; }
    // Protocol objects created and not yet released.
    int LiveObjects() const { return live_->load(); }

private:
    std::string path_;
    void* handle_ = nullptr;
    PluginEntryPoints api_;
    RecordingLogger logger_;
    std::shared_ptr<std::atomic<int>> live_ = std::make_shared<std::atomic<int>>(0);
};
