// davctl: a command-line host for the WebDAV plug-in. It loads libwebdav.so with dlopen, binds
// a logger, configures one protocol object, tests the connection and runs one command.
#include <unistd.h>

#include <cstdio>

#include "commands.h"
#include "connection.h"
#include "interrupt.h"

namespace {

const char* const davctlVersion = "1.0.0";

int UsageError(const std::string& error) {
    fprintf(stderr, "davctl: %s; see davctl --help\n", error.c_str());
    return EXIT_USAGE;
}

int PrintVersion(const Options& options) {
    printf("davctl %s\n", davctlVersion);
    std::string error;
    auto library = LoadPlugin(options.connection.plugin, &error);
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
    if (command == "ls") return RunLs(context);
    if (command == "stat") return RunStat(context);
    if (command == "get") return RunGet(context);
    if (command == "put") return RunPut(context);
    if (command == "mv") return RunMv(context);
    if (command == "rm") return RunRm(context);
    if (command == "mkdir") return RunMkdir(context);
    return RunRmdir(context);
}

int Run(const Options& options) {
    // The logger must outlive every plug-in call that may still use it.
    static StderrLog log(options.connection.logLevel);
    int status = EXIT_OK;
    auto session = Session::Open(options.connection, &log, &status);
    if (!session) return status;
    const std::string& url = options.connection.url;
    const Outcome& test = session->test();
    if (options.command == "test") {
        if (!test.ok()) return Report("test connection to " + url, test);
        printf("connected: %s\n", test.message.empty() ? "OK" : test.message.c_str());
        return EXIT_OK;
    }
    if (!test.ok()) return Report("connect to " + url, test);
    Context context{session->dav(), options,
                    options.noProgress ? false : isatty(STDERR_FILENO) != 0};
    return Dispatch(context);
}

}  // namespace

int main(int argc, char** argv) {
    Interrupts::Install();
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) return UsageError(error);
    if (options.help) {
        fputs(UsageText().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.version) return PrintVersion(options);
    if (!CheckCommand(options, &error)) return UsageError(error);
    if (!ResolveConnection(&options.connection, &error)) return UsageError(error);
    return Run(options);
}
