// davctl as a user runs it: a subprocess against a real lighttpd on loopback, judged by its
// exit status, its output and the files on both sides.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/paths.h"
#include "support/real_server.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string DavctlPath() {
#ifdef DAVCTL_PATH
    return DAVCTL_PATH;
#else
    // The build puts davctl beside the plug-in.
    return fs::path(PluginPath()).parent_path().string() + "/davctl";
#endif
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Outcome {  // one run of davctl
    int status = -1;
    std::string out;
    std::string err;
};

// Starts davctl with args in workdir; env entries replace or (with an empty value) remove
// variables. Standard input is /dev/null, so no prompt can appear. Returns the pid, or -1.
pid_t Start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const std::string& workdir) {
    std::string outPath = workdir + "/davctl.out", errPath = workdir + "/davctl.err";
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name.rfind("WEBDAV_", 0) == 0 || env.count(name)) continue;
        environment.push_back(entry);
    }
    for (auto& [name, value] : env)
        if (!value.empty()) environment.push_back(name + "=" + value);

    std::vector<std::string> argv = {DavctlPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(const_cast<char*>(a.c_str()));
    argp.push_back(nullptr);
    for (auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for a started davctl and collects what it printed.
Outcome Finish(pid_t pid, const std::string& workdir) {
    Outcome run;
    if (pid < 0) {
        run.err = "cannot run " + DavctlPath();
        return run;
    }
    std::string outPath = workdir + "/davctl.out", errPath = workdir + "/davctl.err";
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return run;
}

Outcome Davctl(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               const std::string& workdir) {
    return Finish(Start(args, env, workdir), workdir);
}

std::string Describe(const Outcome& run) {
    return "exit " + std::to_string(run.status) + "\n--- stdout:\n" + run.out + "--- stderr:\n" +
           run.err;
}

// Commands that need no server.
class DavctlOffline : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/davctl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    Outcome Go(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        return Davctl(args, env, dir);
    }
    std::string dir;
};

class DavctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        local = server.workdir() + "/local";
        fs::create_directories(local);
        // A small tree, made on the server's side of the disk.
        Seed("docs/readme.txt", "Hello from the WebDAV test.\nSecond line.\n");
        Seed("docs/sub/deep.txt", "deep");
        Seed("empty.txt", "");
        fs::create_directories(server.root() + "/photos");
        GiveToServer();
    }

    void Seed(const std::string& relative, const std::string& content) {
        fs::path path = fs::path(server.root()) / relative;
        fs::create_directories(path.parent_path());
        WriteFile(path.string(), content);
    }

    // The server may run under a service account that must be able to change what we made.
    void GiveToServer() {
        if (geteuid() != 0) return;
        struct stat owner;
        ASSERT_EQ(stat(server.root().c_str(), &owner), 0);
        for (auto& entry : fs::recursive_directory_iterator(server.root()))
            ASSERT_EQ(lchown(entry.path().c_str(), owner.st_uid, owner.st_gid), 0);
    }

    std::string Remote(const std::string& relative) {
        return ReadFile(server.root() + "/" + relative);
    }
    bool RemoteExists(const std::string& relative) {
        return fs::exists(server.root() + "/" + relative);
    }

    // davctl with the server's URL first and the credentials in the environment.
    Outcome Go(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), server.url());
        env.emplace("WEBDAV_USER", server.user());
        env.emplace("WEBDAV_PASSWORD", server.password());
        return Davctl(args, env, local);
    }

    RealServer server{"lighttpd"};
    std::string local;
};

// The single line a failure prints: "davctl: <action>: <RESULT>[: <message>]".
void ExpectOneFailureLine(const Outcome& run, int status, const std::string& line) {
    EXPECT_EQ(run.status, status) << Describe(run);
    auto lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << Describe(run);
    EXPECT_EQ(lines[0], line) << Describe(run);
}

TEST_F(DavctlOffline, UsageErrorsExitOneWithOneLine) {
    for (auto args : std::vector<std::vector<std::string>>{
             {},
             {"http://127.0.0.1:1/dav"},
             {"http://127.0.0.1:1/dav", "frobnicate"},
             {"http://127.0.0.1:1/dav", "ls", "--bogus"},
             {"http://127.0.0.1:1/dav", "get", "/a", "--offset"},
             {"http://127.0.0.1:1/dav", "get", "/a", "--offset", "-5"},
             {"http://127.0.0.1:1/dav", "stat"},
             {"http://127.0.0.1:1/dav", "mv", "/a"},
             {"http://127.0.0.1:1/dav", "put", "x", "-l"},
             {"http://127.0.0.1:1/dav", "ls", "--log-level", "loud"},
             {"ftp://127.0.0.1/", "ls"},
             {"ls"},  // no URL anywhere
         }) {
        Outcome run = Go(args);
        EXPECT_EQ(run.status, 1) << Describe(run);
        auto lines = Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << Describe(run);
        EXPECT_EQ(lines[0].rfind("davctl: ", 0), 0u) << lines[0];
        EXPECT_EQ(lines[0].substr(lines[0].size() - 19), "; see davctl --help") << lines[0];
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(DavctlOffline, HelpDocumentsCommandsAndExitStatuses) {
    Outcome run = Go({"--help"});
    ASSERT_EQ(run.status, 0) << Describe(run);
    for (const char* text :
         {"test", "ls", "stat", "get", "put", "mv", "rm", "mkdir", "rmdir", "WEBDAV_PASSWORD",
          "Exit status", "  4    access denied", "  5    not found", "  2    the plug-in"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text;
}

TEST_F(DavctlOffline, PluginThatCannotBeLoadedExitsTwo) {
    Outcome missing = Go({"http://127.0.0.1:1/dav", "ls", "--plugin", dir + "/nothing.so"});
    EXPECT_EQ(missing.status, 2) << Describe(missing);
    EXPECT_EQ(Lines(missing.err).size(), 1u) << Describe(missing);
    EXPECT_EQ(missing.err.rfind("davctl: load plug-in " + dir + "/nothing.so: ", 0), 0u);

    // A real shared library that is not a protocol plug-in: the loader names what is missing.
    Outcome foreign = Go({"http://127.0.0.1:1/dav", "ls"}, {{"WEBDAV_PLUGIN", "libm.so.6"}});
    EXPECT_EQ(foreign.status, 2) << Describe(foreign);
    EXPECT_NE(foreign.err.find("missing entry point GetSupports"), std::string::npos)
        << Describe(foreign);
}

TEST_F(DavctlOffline, VersionReportsThePluginItLoaded) {
    Outcome run = Go({"--version", "--plugin", PluginPath()});
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_NE(run.out.find("version 1.0.0, protocol dav;box"), std::string::npos) << run.out;
    // Without --plugin it finds the module it was built beside.
    EXPECT_EQ(Go({"--version"}).status, 0);
}

TEST_F(DavctlOffline, UnreachableServerIsOneLineWithTheTransportsText) {
    // A port that was just free: nothing listens there.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/dav";

    Outcome run = Go({url, "ls"});
    EXPECT_EQ(run.status, 3) << Describe(run);
    auto lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << Describe(run);
    EXPECT_EQ(lines[0].rfind("davctl: connect to " + url + ": FAILED: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("onnect"), std::string::npos) << lines[0];
}

TEST_F(DavctlTest, TestPrintsTheServersAnswerAndCredentialsDecide) {
    Outcome ok = Go({"test"});
    EXPECT_EQ(ok.status, 0) << Describe(ok);
    EXPECT_EQ(ok.out, "connected: 207 Multi-status\n");
    EXPECT_EQ(ok.err, "");

    // The URL may also come from --url or the environment, the password from --password.
    Outcome byOption = Davctl(
        {"test", "--url", server.url(), "--user", server.user(), "--password", server.password()},
        {}, local);
    EXPECT_EQ(byOption.status, 0) << Describe(byOption);
    Outcome byEnv = Davctl({"test"},
                           {{"WEBDAV_URL", server.url()},
                            {"WEBDAV_USER", server.user()},
                            {"WEBDAV_PASSWORD", server.password()}},
                           local);
    EXPECT_EQ(byEnv.status, 0) << Describe(byEnv);

    ExpectOneFailureLine(
        Go({"test"}, {{"WEBDAV_PASSWORD", "wrong"}}), 4,
        "davctl: test connection to " + server.url() + ": ACCESS_DENIED: 401 Unauthorized");
    // Any other command is refused at the connection test, before it sends anything else.
    ExpectOneFailureLine(
        Go({"rm", "/empty.txt"}, {{"WEBDAV_PASSWORD", "wrong"}}), 4,
        "davctl: connect to " + server.url() + ": ACCESS_DENIED: 401 Unauthorized");
    EXPECT_TRUE(RemoteExists("empty.txt"));
}

TEST_F(DavctlTest, LsShowsNamesKindsSizesAndJson) {
    Outcome shortForm = Go({"ls"});
    ASSERT_EQ(shortForm.status, 0) << Describe(shortForm);
    EXPECT_EQ(shortForm.out, "docs/\nempty.txt\nphotos/\n");

    Outcome longForm = Go({"ls", "-l", "/docs"});
    ASSERT_EQ(longForm.status, 0) << Describe(longForm);
    auto lines = Lines(longForm.out);
    ASSERT_EQ(lines.size(), 2u) << longForm.out;
    EXPECT_EQ(lines[0].rfind("-             41  20", 0), 0u) << lines[0];
    // The modification time in UTC, to the second: "2024-03-01 12:30:05".
    EXPECT_EQ(lines[0].substr(16, 23).find_first_not_of("0123456789-: "), std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 12), "  readme.txt") << lines[0];
    EXPECT_EQ(lines[1].rfind("d ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "  sub") << lines[1];

    Outcome json = Go({"ls", "--json", "docs/"});
    ASSERT_EQ(json.status, 0) << Describe(json);
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_NE(json.out.find("{\"name\":\"readme.txt\",\"path\":\"/docs/readme.txt\",\"type\":"
                            "\"file\",\"size\":41,\"modified\":\"20"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"name\":\"sub\",\"path\":\"/docs/sub\",\"type\":\"folder\""),
              std::string::npos)
        << json.out;

    // A file lists as itself; an empty folder as nothing; a missing one fails with exit 5.
    EXPECT_EQ(Go({"ls", "/docs/readme.txt"}).out, "readme.txt\n");
    Outcome empty = Go({"ls", "/photos"});
    EXPECT_EQ(empty.status, 0) << Describe(empty);
    EXPECT_EQ(empty.out, "");
    ExpectOneFailureLine(Go({"ls", "/nowhere"}), 5, "davctl: list /nowhere: FAILED: 404 Not Found");
}

TEST_F(DavctlTest, StatDescribesOneItemOrFailsNotFound) {
    Outcome file = Go({"stat", "/docs/readme.txt"});
    ASSERT_EQ(file.status, 0) << Describe(file);
    EXPECT_NE(file.out.find("path:     /docs/readme.txt\n"), std::string::npos) << file.out;
    EXPECT_NE(file.out.find("type:     file\nsize:     41\nmodified: 20"), std::string::npos)
        << file.out;
    Outcome folder = Go({"stat", "--json", "/docs"});
    ASSERT_EQ(folder.status, 0) << Describe(folder);
    EXPECT_EQ(folder.out.rfind("{\"name\":\"docs\",\"path\":\"/docs\",\"type\":\"folder\"", 0), 0u)
        << folder.out;
    ExpectOneFailureLine(Go({"stat", "/docs/missing.txt"}), 5,
                         "davctl: stat /docs/missing.txt: FAILED: 404 Not Found");
}

TEST_F(DavctlTest, GetFetchesWholeFilesAndRanges) {
    // Larger than one 4 MiB read, and not a multiple of the 64 KiB blocks.
    std::string big = RandomBytes((5 << 20) + 12345, 7);
    Seed("big.bin", big);
    GiveToServer();

    Outcome whole = Go({"get", "/big.bin"});
    ASSERT_EQ(whole.status, 0) << Describe(whole);
    EXPECT_EQ(whole.err, "");  // no progress bar when stderr is not a terminal
    EXPECT_TRUE(ReadFile(local + "/big.bin") == big);

    Outcome range = Go({"get", "/big.bin", "-", "--offset", "4194000", "--length", "1000"});
    ASSERT_EQ(range.status, 0) << Describe(range);
    EXPECT_TRUE(range.out == big.substr(4194000, 1000));

    // A length past the end stops at the end; a zero-byte file makes an empty file.
    Outcome tail = Go({"get", "/docs/readme.txt", "-", "--offset", "28", "--length", "1M"});
    ASSERT_EQ(tail.status, 0) << Describe(tail);
    EXPECT_EQ(tail.out, "Second line.\n");
    ASSERT_EQ(Go({"get", "/empty.txt", "nothing.txt"}).status, 0);
    EXPECT_TRUE(fs::exists(local + "/nothing.txt"));
    EXPECT_EQ(fs::file_size(local + "/nothing.txt"), 0u);

    // Into an existing folder, the remote name is kept.
    fs::create_directories(local + "/into");
    ASSERT_EQ(Go({"get", "docs/readme.txt", "into"}).status, 0);
    EXPECT_EQ(ReadFile(local + "/into/readme.txt"), Remote("docs/readme.txt"));

    ExpectOneFailureLine(
        Go({"get", "/docs/readme.txt", "-", "--offset", "42"}), 1,
        "davctl: get /docs/readme.txt: INVALID_PARAMETER: offset 42 is past the end of the file "
        "(41 bytes)");
    ExpectOneFailureLine(Go({"get", "/docs"}), 3,
                         "davctl: get /docs: INVALID_PARAMETER: is a folder");
}

TEST_F(DavctlTest, FailedGetLeavesNoFileAndKeepsAnExistingOne) {
    WriteFile(local + "/keep.txt", "precious");
    ExpectOneFailureLine(Go({"get", "/missing.txt", "keep.txt"}), 5,
                         "davctl: get /missing.txt: FAILED: 404 Not Found");
    EXPECT_EQ(ReadFile(local + "/keep.txt"), "precious");
    // The temporary file of a download that cannot be written is removed as well.
    ExpectOneFailureLine(
        Go({"get", "/docs/readme.txt", "no/such/dir/x"}), 6,
        "davctl: create no/such/dir/x: FILE_OPEN_FAILED: No such file or directory");
    std::vector<std::string> left;
    for (auto& entry : fs::directory_iterator(local)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"keep.txt"});
}

TEST_F(DavctlTest, PutUploadsIntoFoldersOrUnderANewName) {
    std::string big = RandomBytes((4 << 20) + 777, 11);
    WriteFile(local + "/report.bin", big);

    Outcome into = Go({"put", "report.bin", "/docs"});
    ASSERT_EQ(into.status, 0) << Describe(into);
    EXPECT_EQ(into.err, "");
    EXPECT_TRUE(Remote("docs/report.bin") == big);

    ASSERT_EQ(Go({"put", "report.bin", "/docs/renamed.bin"}).status, 0);
    EXPECT_TRUE(Remote("docs/renamed.bin") == big);
    ASSERT_EQ(Go({"put", "report.bin"}).status, 0);  // default: the root
    EXPECT_TRUE(Remote("report.bin") == big);

    // Over an existing file: replaced.
    WriteFile(local + "/small.txt", "new text");
    ASSERT_EQ(Go({"put", "small.txt", "/docs/readme.txt"}).status, 0);
    EXPECT_EQ(Remote("docs/readme.txt"), "new text");
    WriteFile(local + "/zero.txt", "");
    ASSERT_EQ(Go({"put", "zero.txt", "/photos/"}).status, 0);
    EXPECT_TRUE(RemoteExists("photos/zero.txt"));

    ExpectOneFailureLine(Go({"put", "absent.bin", "/docs"}), 6,
                         "davctl: open absent.bin: FILE_OPEN_FAILED: No such file or directory");
    ExpectOneFailureLine(Go({"put", ".", "/docs"}), 6,
                         "davctl: open .: FILE_OPEN_FAILED: not a regular file");
    // The parent folder must exist: the server refuses, the name of the result says so.
    Outcome orphan = Go({"put", "small.txt", "/no/such/folder/"});
    EXPECT_EQ(orphan.status, 3) << Describe(orphan);
    EXPECT_EQ(orphan.err.rfind("davctl: put small.txt to /no/such/folder/small.txt: "
                               "FILE_WRITE_FAILED: 409",
                               0),
              0u)
        << Describe(orphan);
}

TEST_F(DavctlTest, MvRenamesAndMovesIntoFolders) {
    ASSERT_EQ(Go({"mv", "/docs/readme.txt", "/docs/README"}).status, 0);
    EXPECT_FALSE(RemoteExists("docs/readme.txt"));
    EXPECT_EQ(Remote("docs/README"), "Hello from the WebDAV test.\nSecond line.\n");

    Outcome intoFolder = Go({"mv", "/docs/README", "/photos"});
    ASSERT_EQ(intoFolder.status, 0) << Describe(intoFolder);
    EXPECT_TRUE(RemoteExists("photos/README"));

    ASSERT_EQ(Go({"mv", "/docs/sub", "/moved"}).status, 0);  // folders move with their contents
    EXPECT_EQ(Remote("moved/deep.txt"), "deep");

    // The MOVE answer's message is its status code (with the reason phrase when the transport
    // kept the headers).
    Outcome ghost = Go({"mv", "/ghost.txt", "/docs/ghost.txt"});
    EXPECT_EQ(ghost.status, 5) << Describe(ghost);
    EXPECT_EQ(ghost.err.rfind("davctl: move /ghost.txt to /docs/ghost.txt: FAILED: 404", 0), 0u)
        << Describe(ghost);
    EXPECT_EQ(Lines(ghost.err).size(), 1u) << Describe(ghost);
    ExpectOneFailureLine(Go({"mv", "/docs", "/docs/inner"}), 1,
                         "davctl: move /docs to /docs/inner: INVALID_PARAMETER: a folder cannot "
                         "move into itself");
}

TEST_F(DavctlTest, RmMkdirRmdirKeepFoldersSafe) {
    ASSERT_EQ(Go({"rm", "/empty.txt"}).status, 0);
    EXPECT_FALSE(RemoteExists("empty.txt"));
    ExpectOneFailureLine(Go({"rm", "/empty.txt"}), 5,
                         "davctl: delete /empty.txt: FAILED: 404 Not Found");
    ExpectOneFailureLine(Go({"rm", "/docs"}), 3,
                         "davctl: delete /docs: INVALID_PARAMETER: is a folder (use rmdir)");
    EXPECT_TRUE(RemoteExists("docs/readme.txt"));

    ASSERT_EQ(Go({"mkdir", "/archive"}).status, 0);
    EXPECT_TRUE(fs::is_directory(server.root() + "/archive"));
    Outcome again = Go({"mkdir", "/archive"});
    EXPECT_EQ(again.status, 3) << Describe(again);
    EXPECT_EQ(again.err.rfind("davctl: create folder /archive: FOLDER_CREATION_FAILED: 405", 0), 0u)
        << Describe(again);
    ASSERT_EQ(Go({"rmdir", "/archive"}).status, 0);
    EXPECT_FALSE(RemoteExists("archive"));

    ExpectOneFailureLine(Go({"rmdir", "/docs"}), 3,
                         "davctl: delete folder /docs: DIR_NOT_EMPTY: 2 entries (use rmdir -r)");
    EXPECT_TRUE(RemoteExists("docs/sub/deep.txt"));
    ExpectOneFailureLine(Go({"rmdir", "/docs/readme.txt"}), 3,
                         "davctl: delete folder /docs/readme.txt: INVALID_DIRECTORY: not a folder");
    ASSERT_EQ(Go({"rmdir", "-r", "/docs"}).status, 0);
    EXPECT_FALSE(RemoteExists("docs"));
}

TEST_F(DavctlTest, LogLevelShowsThePluginsLinesOnStderr) {
    Outcome quiet = Go({"ls", "/docs"});
    EXPECT_EQ(quiet.err, "");
    Outcome trace = Go({"ls", "/docs", "--log-level", "trace"});
    ASSERT_EQ(trace.status, 0) << Describe(trace);
    EXPECT_NE(trace.err.find("[trace] GetFileList id: [/docs]"), std::string::npos) << trace.err;
    EXPECT_EQ(trace.out, "readme.txt\nsub/\n");  // logging never mixes into the output

    Outcome errors = Go({"stat", "/missing", "--log-level", "error"});
    EXPECT_EQ(errors.status, 5);
    EXPECT_NE(errors.err.find("[error] GetFileInfo id: [/missing] , exec error: [404]"),
              std::string::npos)
        << errors.err;
    EXPECT_EQ(errors.err.find("[trace]"), std::string::npos) << errors.err;
}

TEST_F(DavctlTest, OptionsReachTheServer) {
    // The user agent shows in the request headers the plug-in logs at trace level.
    Outcome agent = Go({"get", "/docs/readme.txt", "-", "--speed-limit", "1M", "--user-agent",
                        "davctl-test/1.0", "--log-level", "trace"});
    ASSERT_EQ(agent.status, 0) << Describe(agent);
    EXPECT_EQ(agent.out, Remote("docs/readme.txt"));
    EXPECT_NE(agent.err.find("User-Agent: davctl-test/1.0"), std::string::npos) << agent.err;

    // Through a proxy: the server itself answers absolute-form requests, so a host name that
    // never resolves works only if every request really goes to the proxy.
    std::string port = server.url().substr(server.url().rfind(':') + 1);  // "40123/dav"
    std::string viaProxy = "http://webdav.invalid:" + port;
    Outcome proxied =
        Davctl({viaProxy, "ls", "/docs", "--proxy", "127.0.0.1:" + port.substr(0, port.find('/'))},
               {{"WEBDAV_USER", server.user()}, {"WEBDAV_PASSWORD", server.password()}}, local);
    EXPECT_EQ(proxied.status, 0) << Describe(proxied);
    EXPECT_EQ(proxied.out, "readme.txt\nsub/\n");
    // A proxy where nothing listens: one failure line.
    Outcome dead = Go({"ls", "--proxy", "127.0.0.1:1"});
    EXPECT_EQ(dead.status, 3) << Describe(dead);
    EXPECT_EQ(Lines(dead.err).size(), 1u) << Describe(dead);
    EXPECT_EQ(Go({"ls", "--proxy", "nohostport"}).status, 1);
}

TEST_F(DavctlTest, InterruptedGetStopsAndRemovesThePartialFile) {
    Seed("slow.bin", RandomBytes(4 << 20, 3));
    GiveToServer();
    WriteFile(local + "/slow.bin", "older copy");
    // At 256 KiB/s the 4 MiB take 16 s: time enough to interrupt it in the middle.
    std::map<std::string, std::string> env = {{"WEBDAV_USER", server.user()},
                                              {"WEBDAV_PASSWORD", server.password()}};
    pid_t pid = Start({server.url(), "get", "/slow.bin", "--speed-limit", "256K"}, env, local);
    ASSERT_GT(pid, 0);
    // The first delivered block shows in the temporary file: the transfer is under way.
    bool started = false;
    for (int i = 0; i < 1000 && !started; ++i) {
        for (auto& entry : fs::directory_iterator(local))
            if (entry.path().filename().string().rfind("slow.bin.davctl-", 0) == 0 &&
                fs::file_size(entry.path()) > 0)
                started = true;
        if (!started) usleep(10000);
    }
    kill(pid, SIGINT);
    Outcome run = Finish(pid, local);
    ASSERT_TRUE(started) << Describe(run);
    ExpectOneFailureLine(run, 130, "davctl: get /slow.bin: READ_CANCELED: interrupted");
    EXPECT_EQ(ReadFile(local + "/slow.bin"), "older copy");
    for (auto& entry : fs::directory_iterator(local))
        EXPECT_EQ(entry.path().filename().string().find(".davctl-"), std::string::npos)
            << entry.path();
}

}  // namespace
