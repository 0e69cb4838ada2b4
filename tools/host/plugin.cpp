#include "plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

template <typename T>
bool Resolve(void* module, const char* name, T* slot, std::string* error) {
    dlerror();
    void* symbol = dlsym(module, name);
    if (symbol == nullptr) {
        *error = std::string("missing entry point ") + name;
        return false;
    }
    *slot = reinterpret_cast<T>(symbol);
    return true;
}

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path, std::string* error) {
    void* raw = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (raw == nullptr) {
        const char* why = dlerror();
        *error = why != nullptr ? why : "dlopen failed";
        return nullptr;
    }
    auto library = std::make_shared<PluginLibrary>();
    library->module_ = std::shared_ptr<void>(raw, [](void* module) { dlclose(module); });
    library->path_ = path;
    EntryPoints& api = library->api_;
    void* m = raw;
    if (!Resolve(m, "GetSupports", &api.GetSupports, error) ||
        !Resolve(m, "GetProtocolVersion", &api.GetProtocolVersion, error) ||
        !Resolve(m, "GetSupportProtocol", &api.GetSupportProtocol, error) ||
        !Resolve(m, "FreeP", &api.FreeP, error) ||
        !Resolve(m, "BindLogger", &api.BindLogger, error) ||
        !Resolve(m, "UnbindLogger", &api.UnbindLogger, error) ||
        !Resolve(m, "BindAsyncQ", &api.BindAsyncQ, error) ||
        !Resolve(m, "UnbindAsyncQ", &api.UnbindAsyncQ, error) ||
        !Resolve(m, "GetProtocol", &api.GetProtocol, error))
        return nullptr;
    return library;
}

std::string PluginLibrary::ProtocolName() const {
    char* name = nullptr;
    api_.GetSupportProtocol(&name);
    std::string copy = name != nullptr ? name : "";
    api_.FreeP(name);
    return copy;
}

std::vector<std::string> PluginCandidates(const std::string& explicitPath) {
    if (!explicitPath.empty()) return {explicitPath};
    std::vector<std::string> candidates;
    std::string dir = ExecutableDirectory();
    if (!dir.empty()) candidates.push_back(dir + "/libwebdav.so");
#ifdef HOST_BUILT_PLUGIN
    candidates.push_back(HOST_BUILT_PLUGIN);
#endif
    return candidates;
}

std::shared_ptr<PluginLibrary> LoadPlugin(const std::string& explicitPath, std::string* error) {
    std::string path = explicitPath;
    if (path.empty() && getenv("WEBDAV_PLUGIN") != nullptr) path = getenv("WEBDAV_PLUGIN");
    std::string tried;
    for (const std::string& candidate : PluginCandidates(path)) {
        if (path.empty() && access(candidate.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + candidate;
            continue;
        }
        std::string why;
        auto library = PluginLibrary::Load(candidate, &why);
        if (library) return library;
        *error = "load plug-in " + candidate + ": " + why;
        return nullptr;
    }
    *error = "load plug-in: no libwebdav.so found (tried " + tried + "; use --plugin)";
    return nullptr;
}
