// davctl as a user runs it (exit status, one failure line, files on both sides), and its host code.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "connection.h"
#include "gtest/gtest.h"
#include "numbers.h"
#include "support/paths.h"
#include "support/real_server.h"
#include "support/scripted_server.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
    std::string Said() const { return std::to_string(status) + " " + err; }  // "4 davctl: ..."
};

// davctl with args in dir, env ("NAME=value ...") added to the environment, no standard input.
pid_t Start(const std::vector<std::string>& args, const std::string& dir,
            const std::string& env = "") {
    std::vector<std::string> argv = {
        "/bin/sh", "-c",
        "cd \"$0\" && exec env " + env + " " DAVCTL_PATH " \"$@\" </dev/null >.out 2>.err", dir};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ);
    return pid;
}

Result Finish(pid_t pid, const std::string& dir) {
    int status = 0;
    Result run{waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
               ReadFile(dir + "/.out"), ReadFile(dir + "/.err")};
    fs::remove(dir + "/.out");
    fs::remove(dir + "/.err");
    return run;
}

// A multistatus answer; a size below 0 leaves getcontentlength out, "/" ends a folder's href.
std::string Multistatus(const std::vector<std::pair<std::string, long long>>& items) {
    std::string xml = "<multistatus xmlns=\"DAV:\">";
    for (auto& [href, size] : items)
        xml +=
            "<response><href>" + href + "</href><propstat><prop><resourcetype>" +
            (href.back() == '/' ? "<collection/>" : "") + "</resourcetype>" +
            (size < 0 ? "" : "<getcontentlength>" + std::to_string(size) + "</getcontentlength>") +
            "</prop><status>HTTP/1.1 200 OK</status></propstat></response>";
    return xml + "</multistatus>";
}

class Davctl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        // Owned by the server's service account, which must be able to change it.
        ASSERT_EQ(system(("mkdir " + local + " && cd " + server.root() +
                          " && mkdir -p docs/sub photos backup/photos && printf 'Hello from the "
                          "WebDAV test.\\n' >docs/readme.txt && printf deep >docs/sub/deep.txt && "
                          "printf jpeg >photos/beach.jpg && printf old >backup/photos/old.jpg && "
                          ": >empty.txt && chown -R --reference=. .")
                             .c_str()),
                  0);
    }
    std::string Remote(const std::string& path) { return ReadFile(server.root() + "/" + path); }
    bool Exists(const std::string& path) { return fs::exists(server.root() + "/" + path); }
    Result Go(std::vector<std::string> args, std::string password = "secret",
              const std::string& url = "") {
        args.insert(args.begin(), url.empty() ? server.url() : url);
        return Finish(Start(args, local, "WEBDAV_USER=alice WEBDAV_PASSWORD=" + password), local);
    }
    Result Bare(const std::vector<std::string>& args) { return Finish(Start(args, local), local); }
    RealServer server{"lighttpd"};
    std::string local = server.workdir() + "/local";
};

TEST_F(Davctl, NumbersAreDigitsAndSuffixesOnly) {
    const char* good[] = {"0", "17", "4K", "1M", "2G", "3KiB", "9223372036854775807"};
    const long long values[] = {0, 17, 4096, 1 << 20, 2LL << 30, 3072, INT64_MAX};
    long long value = -1;
    for (size_t i = 0; i < std::size(good); ++i)
        EXPECT_TRUE(ParseBytes(good[i], &value) && value == values[i]) << good[i];
    for (const char* bad : {" -5", "-5", "+5", " 5", "5 ", "1e3", "0x10", "", "K", "5T",
                            "9223372036854775808", "8589934592G"}) {
        EXPECT_FALSE(ParseBytes(bad, &value)) << bad;
        EXPECT_EQ(Bare({"http://127.0.0.1:1/", "get", "/a", "--length", bad}).Said().substr(0, 22),
                  "1 davctl: bad --length")
            << bad;
    }
}

// The "ex_info" document the options make, or "" when they are a usage error.
std::string Document(const std::vector<std::string>& args) {
    ConnectionOptions options;
    options.url = "https://127.0.0.1:1/dav";
    std::string value, error;
    for (size_t i = 0; i < args.size(); ++i)
        TakeConnectionOption(
            args[i], [&] { return !(value = args[++i]).empty(); }, value, &options, &error);
    return ResolveConnection(&options, &error) ? ExInfoDocument(options) : "";
}

TEST_F(Davctl, TlsChoicesReachTheOptionDocumentOrAreUsageErrors) {
    std::string pem = local + "/ca.pem", data = R"({"data":{"verify_tls":)";
    WriteFile(pem, "PEM");
    EXPECT_EQ(Document({}), data + "true}}");
    EXPECT_EQ(Document({"-k"}), data + "false}}");
    EXPECT_EQ(Document({"--cacert", pem}), data + R"(true,"ca_file":")" + pem + "\"}}");
    EXPECT_EQ(Document({"--insecure", "--pinnedpubkey", "sha256//AbC+/9=;sha256//xyz="}),
              data + R"(false,"pinned_pubkey":"sha256//AbC+/9=;sha256//xyz="}})");
    EXPECT_EQ(Document({"--cert", pem, "--key", pem, "--proxy", "p:8080"}),
              data + R"(true,"client_cert":")" + pem + R"(","client_key":")" + pem +
                  R"(","proxy_host":"p","proxy_type":4,"proxy_port":8080}})");
    EXPECT_EQ(Document({"--cacert", pem, "-k"}) + Document({"--key", pem}) +
                  Document({"--cacert", pem + "x"}) + Document({"--pinnedpubkey", "md5//abc"}) +
                  Document({"--pinnedpubkey", "sha256//"}),
              "");
    EXPECT_EQ(Bare({"https://127.0.0.1:1/", "ls", "--key", pem}).status, 1);
    // A refused certificate or key gets one line more, telling what to do.
    std::string hint = TlsHint("SSL certificate problem: self-signed certificate");
    EXPECT_NE(hint.find("--cacert FILE, or skip the check with --insecure"), std::string::npos);
    EXPECT_EQ(TlsHint("SSL: public key does not match pinned public key"), hint);
    EXPECT_EQ(TlsHint("Failed to connect to 127.0.0.1 port 1"), "");
    // A server of a private CA: refused with the hint, then trusted with --cacert, or unchecked.
    TestCertificates certs;
    RealServerOptions options;
    options.cert = certs("server.pem"), options.key = certs("server.key");
    RealServer tls("lighttpd", options);
    ASSERT_TRUE(tls.ok()) << tls.error();
    EXPECT_EQ(Go({"ls"}, "secret", tls.url()).Said(),
              "3 davctl: connect to " + tls.url() +
                  ": FAILED: SSL certificate problem: unable to get local issuer certificate\n"
                  "davctl: " +
                  hint + "\n");
    EXPECT_EQ(Go({"ls", "--cacert", certs("ca.pem")}, "secret", tls.url()).Said() +
                  Go({"ls", "-k"}, "secret", tls.url()).Said(),
              "0 0 ");
}

// What the user did not name is never deleted or replaced: one line, exit 3, files as they were.
TEST_F(Davctl, RefusesToDeleteOrReplaceWhatWasNotNamed) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"rm", "/docs"}, "delete /docs: INVALID_PARAMETER: is a folder (use rmdir)"},
        {{"mv", "/photos", "/backup/"}, "move /photos to /backup/photos: DIR_NOT_EMPTY"},
        {{"mv", "/docs/readme.txt", "/empty.txt"},
         "move /docs/readme.txt to /empty.txt: FILE_EXISTS: /empty.txt exists (-f replaces it)"},
        {{"mv", "/docs/sub", "/empty.txt"}, "move /docs/sub to /empty.txt: FILE_EXISTS"},
        {{"rmdir", "/docs"}, "delete folder /docs: DIR_NOT_EMPTY: 2 entries (use rmdir -r)"}};
    for (auto& [args, line] : rows) {
        Result run = Go(args);
        EXPECT_TRUE(run.status == 3 && std::count(run.err.begin(), run.err.end(), '\n') == 1 &&
                    run.err.rfind("davctl: " + line, 0) == 0)
            << run.err;
        EXPECT_TRUE(Exists("docs/readme.txt") && Exists("backup/photos/old.jpg") &&
                    Exists("photos/beach.jpg") && Exists("empty.txt") &&
                    Exists("docs/sub/deep.txt"));
    }
}

TEST_F(Davctl, DownloadsWriteThroughDevicesFifosAndLinks) {
    ASSERT_EQ(mknod((local + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(mkfifo((local + "/fifo").c_str(), 0666), 0);
    WriteFile(local + "/target.txt", "old");
    fs::create_symlink("target.txt", local + "/link");
    std::string piped, text = Remote("docs/readme.txt");
    std::thread reader([&] { piped = ReadFile(local + "/fifo"); });
    for (const char* target : {"fifo", "null", "link", "/dev/stdout", "-"}) {
        Result run = Go({"get", "/docs/readme.txt", target});
        EXPECT_EQ(run.status, 0) << target << run.err;
        EXPECT_EQ(run.out, target[0] == '/' || target[0] == '-' ? text : "") << target;
    }
    reader.join();
    EXPECT_TRUE(fs::is_character_file(local + "/null") && fs::is_fifo(local + "/fifo") &&
                piped == text && fs::is_symlink(local + "/link") &&
                ReadFile(local + "/target.txt") == text);
    EXPECT_EQ(Go({"get", "/docs/readme.txt", "-", "--offset", "6", "--length", "4"}).out, "from");
    EXPECT_EQ(Go({"get", "/docs/readme.txt", "-", "--offset", "99"}).status, 1);
}

// Server answers davctl must judge before acting, and a stop while the server sends nothing.
TEST_F(Davctl, JudgesScriptedAnswersAndStopsAtOnce) {
    // A stat answer only about another item: no decision on it.
    for (std::string command : {"rm", "mv"}) {
        ScriptedServer server;
        server.Respond(207, Multistatus({{"/", -1}}));
        server.Respond(207, Multistatus({{"/docs/a.txt", 5}}));
        std::vector<std::string> args = {server.url(), command, "/docs", "/old"};
        if (command == "rm") args.pop_back();
        Result run = Bare(args);
        EXPECT_EQ(run.err, "davctl: " + std::string(command == "rm" ? "delete" : "move") +
                               " /docs: FILE_NOT_FOUND: the server's answer does not describe "
                               "/docs\n");
        EXPECT_EQ(server.Requests().size(), 2u);  // no DELETE, no MOVE
    }
    // The listed size is a hint: a listing without getcontentlength still downloads the file.
    ScriptedServer server;
    for (auto& answer : {Multistatus({{"/", -1}}), Multistatus({{"/f.txt", -1}})})
        server.Respond(207, answer);
    server.Respond(206, "twelve bytes", {{"Content-Range", "bytes 0-11/12"}});
    EXPECT_EQ(Bare({server.url(), "get", "/f.txt", "-"}).out, "twelve bytes");
    // Ctrl-C while the server sends nothing: exit 130 at once, and no partial file left.
    WriteFile(local + "/f.txt", "older copy");
    for (auto& answer : {Multistatus({{"/", -1}}), Multistatus({{"/f.txt", 1000}})})
        server.Respond(207, answer);
    server.Enqueue({200, "", {}, "", true, "", /*delayMs=*/600000});  // silent for 10 minutes
    pid_t pid = Start({server.url(), "get", "/f.txt"}, local);
    ASSERT_TRUE(server.WaitForRequests(6, 60000));
    kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid, local).Said(), "130 davctl: get /f.txt: READ_CANCELED: interrupted\n");
    EXPECT_EQ(ReadFile(local + "/f.txt"), "older copy");
    EXPECT_EQ(std::distance(fs::directory_iterator(local), fs::directory_iterator()), 1);
}

TEST_F(Davctl, TourOfTheCommands) {
    EXPECT_EQ(Go({"rm", "/empty.txt"}, "wrong").Said(),  // refused before anything is sent
              "4 davctl: connect to " + server.url() + ": ACCESS_DENIED: 401 Unauthorized\n");
    EXPECT_EQ(Bare({server.url(), "ls", "--plugin", local + "/none.so"}).status, 2);
    std::string ls = Go({"ls", "-l", "/docs"}).out;  // kind, size, time (UTC), name
    EXPECT_TRUE(ls.rfind("-             28  20", 0) == 0 && ls.find("  readme.txt\nd ") < ls.size())
        << ls;
    std::string data((5 << 20) + 7, 'd');  // more than one read of 4 MiB
    WriteFile(local + "/up.bin", data);
    EXPECT_EQ(Go({"put", "up.bin", "/docs"}).status, 0);
    EXPECT_EQ(Go({"get", "/docs/up.bin", "down.bin"}).status, 0);
    EXPECT_TRUE(Remote("docs/up.bin") == data && ReadFile(local + "/down.bin") == data);
    EXPECT_EQ(Go({"mv", "-f", "/docs/up.bin", "/empty.txt"}).status, 0);  // asked to replace
    std::string moved =
        Go({"mv", "/docs/sub", "/photos/", "--log-level", "trace", "--user-agent", "ua/1"}).err;
    EXPECT_NE(moved.find("MoveDir id [/docs/sub]"), std::string::npos);  // a folder's move
    EXPECT_NE(moved.find("User-Agent: ua/1"), std::string::npos);
    EXPECT_TRUE(Remote("empty.txt") == data && Remote("photos/sub/deep.txt") == "deep");
    EXPECT_EQ(Go({"rm", "/empty.txt"}).status + Go({"mkdir", "/new"}).status +
                  Go({"rmdir", "/new"}).status,
              0);
    EXPECT_FALSE(Exists("empty.txt") || Exists("new"));
    Result stats = Go({"stat", "/nowhere", "/docs/readme.txt", "/photos/sub", "--json"});
    EXPECT_EQ(stats.Said(), "5 davctl: stat /nowhere: FILE_NOT_FOUND: 404 Not Found\n");
    EXPECT_LT(stats.out.find("readme.txt"), stats.out.find("\n{\"name\":\"sub\"")) << stats.out;
}

}  // namespace
