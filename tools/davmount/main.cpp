// davmount: a WebDAV server as a folder, through the plug-in loaded with dlopen exactly as the
// host product loads it, and libfuse 3.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "filesystem.h"

namespace {

const char* const davmountVersion = "1.0.0";

int UsageError(const std::string& error) {
    fprintf(stderr, "davmount: %s; see davmount --help\n", error.c_str());
    return EXIT_USAGE;
}

// fuse's -o list takes "," and "\" as syntax.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ',' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

int Mount(const MountOptions& options, IProtocol_V2* dav) {
    static StderrLog notes(options.notes);
    StderrLog* log = &notes;
    CacheFolder cache;
    std::string error;
    if (!cache.Open(options.cacheDir, options.connection.url, options.connection.user, &error))
        return Report("open the cache folder", CACHE_CREATE_FAILED, error, EXIT_LOCAL);
    // Whatever an earlier mount could not send is still there: say so before anything else.
    for (auto& [local, remote] : cache.Leftovers())
        log->Write(LOG_ERROR, ("davmount: not sent by an earlier mount: " + remote +
                               " (its data is in " + local + ")")
                                  .c_str());

    DavFs fs(dav, options, &cache, log);
    std::string mountOptions =
        "fsname=" + Escaped(options.connection.url) + ",subtype=webdav,default_permissions";
    if (options.allowOther) mountOptions += ",allow_other";
    if (options.readOnly) mountOptions += ",ro";
    const char* argv[] = {"davmount", "-o", mountOptions.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    fuse_session* session =
        fuse_session_new(&args, &DavFs::Operations(), sizeof(fuse_lowlevel_ops), &fs);
    if (session == nullptr) return Report("start the mount", FS_START_ERROR, "", EXIT_FAILED);
    int status = EXIT_FAILED;
    if (fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, options.mountpoint.c_str()) == 0) {
            fuse_loop_config* loop = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(loop, 64);
            fuse_loop_cfg_set_idle_threads(loop, 8);
            status = fuse_session_loop_mt(session, loop) == 0 ? EXIT_OK : EXIT_FAILED;
            fuse_loop_cfg_destroy(loop);
            // Pending uploads first: the kernel keeps waiting callers until the unmount.
            int unsent = fs.Shutdown();
            if (unsent > 0) {
                log->Write(LOG_ERROR, ("davmount: " + std::to_string(unsent) +
                                       " file(s) not sent; they stay in " + cache.path())
                                          .c_str());
                status = EXIT_FAILED;
            }
            fuse_session_unmount(session);
        } else {
            Report("mount on " + options.mountpoint, FS_MOUNT_ERROR, "", EXIT_FAILED);
        }
        fuse_remove_signal_handlers(session);
    }
    fuse_session_destroy(session);
    fuse_opt_free_args(&args);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    SetProgramName("davmount");
    MountOptions options;
    std::string error;
    if (!ParseMountOptions(argc, argv, &options, &error)) return UsageError(error);
    if (options.help) {
        fputs(MountUsageText().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.version) {
        printf("davmount %s\n", davmountVersion);
        return EXIT_OK;
    }
    if (!ResolveConnection(&options.connection, &error)) return UsageError(error);
    // Resolved before the mount: afterwards a look at it would wait for the mount's own loop.
    char resolved[PATH_MAX];
    if (realpath(options.mountpoint.c_str(), resolved) != nullptr) options.mountpoint = resolved;
    // The logger must outlive every plug-in call that may still use it.
    static StderrLog log(options.connection.logLevel);
    int status = EXIT_OK;
    auto session = Session::Open(options.connection, &log, &status);
    if (!session) return status;
    // A wrong password or an unreachable server ends here, before anything is mounted.
    if (!session->test().ok())
        return Report("connect to " + options.connection.url, session->test());
    return Mount(options, session->dav());
}
