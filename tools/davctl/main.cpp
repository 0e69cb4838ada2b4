// davctl: a command-line host for the WebDAV plug-in. It loads libwebdav.so with dlopen, binds
// a logger, configures one protocol object, tests the connection and runs one command.
#include <unistd.h>

#include <cstdio>

#include "commands.h"
#include "connection.h"
#include "plugin.h"
#include "stderr_log.h"

namespace {

const char* const davctlVersion = "1.0.0";

int UsageError(const std::string& error) {
    fprintf(stderr, "davctl: %s; see davctl --help\n", error.c_str());
    return EXIT_USAGE;
}

std::shared_ptr<PluginLibrary> LoadPlugin(const Options& options, std::string* error) {
    std::string explicitPath = options.plugin;
    if (explicitPath.empty() && getenv("WEBDAV_PLUGIN") != nullptr)
        explicitPath = getenv("WEBDAV_PLUGIN");
    std::string tried;
    for (const std::string& path : PluginCandidates(explicitPath)) {
        if (explicitPath.empty() && access(path.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + path;
            continue;
        }
        std::string why;
        auto library = PluginLibrary::Load(path, &why);
        if (library) return library;
        *error = "load plug-in " + path + ": " + why;
        return nullptr;
    }
    *error = "load plug-in: no libwebdav.so found (tried " + tried + "; use --plugin)";
    return nullptr;
}

int PrintVersion(const Options& options) {
    printf("davctl %s\n", davctlVersion);
    std::string error;
    auto library = LoadPlugin(options, &error);
    if (!library) {
        fprintf(stderr, "davctl: %s\n", error.c_str());
        return EXIT_PLUGIN;
    }
    printf("plug-in %s: version %s, protocol %s\n", library->path().c_str(),
           library->api().GetProtocolVersion(), library->ProtocolName().c_str());
    return EXIT_OK;
}

int Dispatch(Context& context) {
    const std::string& command = context.options.command;
    if (command == "test") return RunTest(context);
    if (command == "ls") return RunLs(context);
    if (command == "stat") return RunStat(context);
    if (command == "get") return RunGet(context);
    if (command == "put") return RunPut(context);
    if (command == "mv") return RunMv(context);
    if (command == "rm") return RunRm(context);
    if (command == "mkdir") return RunMkdir(context);
    if (command == "rmdir") return RunRmdir(context);
    return UsageError("unknown command '" + command + "'");
}

int Run(Options& options, const Settings& settings) {
    std::string error;
    auto library = LoadPlugin(options, &error);
    if (!library) {
        fprintf(stderr, "davctl: %s\n", error.c_str());
        return EXIT_PLUGIN;
    }
    const EntryPoints& api = library->api();

    // The logger must outlive every plug-in call that may still use it.
    static StderrLog log(options.logLevel);
    api.BindLogger(&log);
    int status;
    {
        IProtocol_V2* raw = nullptr;
        if (!api.GetProtocol(settings.url.c_str(), nullptr, &raw) || raw == nullptr) {
            api.UnbindLogger();
            fprintf(stderr, "davctl: open %s: the plug-in gave no protocol object\n",
                    settings.url.c_str());
            return EXIT_PLUGIN;
        }
        ProtocolPtr dav(raw);
        Context context{dav.get(), options,
                        options.noProgress ? false : isatty(STDERR_FILENO) != 0};
        if (!Configure(dav.get(), settings, &error)) {
            status = Report("configure " + settings.url, FAILED, error, EXIT_FAILED);
        } else if (options.command == "test") {
            status = RunTest(context);
        } else {
            // As the host does before any file operation: the test also settles which
            // authentication method later requests offer.
            Outcome test =
                Call(dav.get(), [&](char** message) { return dav->TestConnect(message); });
            status = test.ok() ? Dispatch(context) : Report("connect to " + settings.url, test);
        }
    }
    api.UnbindLogger();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) return UsageError(error);
    if (options.help) {
        fputs(UsageText().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.version) return PrintVersion(options);

    Settings settings;
    if (options.url.empty() && getenv("WEBDAV_URL") != nullptr) options.url = getenv("WEBDAV_URL");
    if (!CheckCommand(options, &error)) return UsageError(error);
    if (!MergeSettings(options, &settings, &error)) return UsageError(error);
    return Run(options, settings);
}
