#include "support/real_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ScriptPath(const char* name) {
    return std::string(WEBDAV_SOURCE_DIR) + "/tests/servers/" + name;
}

// Runs argv with stdout and stderr sent to files and waits for it; no shell,
// so no argument needs quoting. Returns the exit status, or -1 with why in
// problem when the program could not be run or did not exit normally.
int RunToFiles(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
               std::string& problem) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        problem = "cannot run " + argv[0] + ": " + strerror(rc);
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            problem = std::string("waitpid: ") + strerror(errno);
            return -1;
        }
    }
    if (!WIFEXITED(status)) {
        problem = argv[0] + " ended by signal " + std::to_string(WTERMSIG(status));
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

const std::vector<RealServerKind>& RealServerKinds() {
    static const std::vector<RealServerKind> kinds = {
        {"lighttpd", true, true}, {"apache", true, true},    {"nginx", false, true},
        {"rclone", false, true},  {"sabredav", true, false}, {"webdav-server", true, true},
    };
    return kinds;
}

RealServer::RealServer(const std::string& kind, RealServerOptions o)
    : kind_(kind), options_(std::move(o)) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/webdav-" + kind + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        error_ = "mkdtemp " + pattern + ": " + strerror(errno);
        return;
    }
    workdir_ = name.data();
    root_ = workdir_ + "/root";

    // The script's own output stays beside, not inside, the tree it hands to
    // the server.
    std::string out = workdir_ + ".out", err = workdir_ + ".err";
    std::vector<std::string> argv = {ScriptPath("start.sh"), kind,     workdir_,      "--auth",
                                     options_.auth,          "--user", options_.user, "--password",
                                     options_.password};
    if (options_.tls) argv.push_back("--tls");
    std::string problem;
    int rc = RunToFiles(argv, out, err, problem);
    std::string said = TrimEnd(ReadWholeFile(out)), complaint = ReadWholeFile(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    if (rc != 0) {
        error_ = "starting " + kind + " failed (" +
                 (rc < 0 ? problem : "exit status " + std::to_string(rc)) + "):\n" + complaint;
        return;
    }
    size_t lastLine = said.rfind('\n');
    url_ = lastLine == std::string::npos ? said : said.substr(lastLine + 1);
    if (url_.rfind("http", 0) != 0) {
        error_ = "start.sh printed no URL for " + kind + ": [" + said + "]\n" + complaint;
        return;
    }
    ok_ = true;
}

RealServer::~RealServer() {
    if (workdir_.empty()) return;
    std::string problem;
    std::string out = workdir_ + ".out";
    RunToFiles({ScriptPath("stop.sh"), workdir_}, out, out, problem);
    std::remove(out.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(workdir_, ignored);
}

std::string RealServer::Logs() const {
    std::string all;
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(workdir_, ec)) {
        auto path = entry.path();
        if (path.extension() != ".log") continue;
        all += "----- " + path.filename().string() + ":\n" + ReadWholeFile(path.string());
    }
    return all;
}
