// davmount as a user runs it: a real server mounted, used with ordinary tools and checked byte
// for byte on the server's disk and, after a remount, through the mount; refusals and a silent
// server through the scripted server. Needs /dev/fuse and root: without them the tests fail.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "gtest/gtest.h"
#include "support/dataops_fixture.h"
#include "support/paths.h"
#include "support/real_server.h"
#include "support/scripted_server.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

// A file's size and a hash of its bytes: a tree that differs names the file in a few words,
// not in pages of bytes.
std::string Digest(const std::string& bytes) {
    return std::to_string(bytes.size()) + " bytes #" +
           std::to_string(std::hash<std::string>{}(bytes));
}

// Every file under root (relative path -> Digest), folders as "path/" -> "".
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (auto& entry : fs::recursive_directory_iterator(root)) {
        std::string path = fs::relative(entry.path(), root).string();
        tree[entry.is_directory() ? path + "/" : path] =
            entry.is_directory() ? "" : Digest(ReadFile(entry.path().string()));
    }
    return tree;
}

std::map<std::string, std::string> Digests(std::map<std::string, std::string> files) {
    for (auto& [path, bytes] : files)
        if (path.back() != '/') bytes = Digest(bytes);
    return files;
}

// One davmount process, mounted until Unmount (or the end of the test).
class Mount {
public:
    Mount(const std::string& url, const std::string& dir, const std::string& password = "",
          const std::string& options = "")
        : point_(dir + "/mnt"), log_(dir + "/davmount.log") {
        fs::create_directories(point_);
        std::vector<std::string> argv = {"/bin/sh",
                                         "-c",
                                         "exec env WEBDAV_PASSWORD=\"$0\" " DAVMOUNT_PATH
                                         " --user alice ${3:+-o $3} --cache-dir \"$1/cache\" "
                                         "\"$2\" \"$1/mnt\" </dev/null >\"$1/davmount.log\" 2>&1",
                                         password,
                                         dir,
                                         url,
                                         options};
        std::vector<char*> pointers;
        for (auto& arg : argv) pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        posix_spawn(&pid_, pointers[0], nullptr, nullptr, pointers.data(), environ);
        // Mounted once the kernel lists it; a davmount that ended instead is reported.
        for (int i = 0; i < 3000 && !Mounted() && pid_ > 0; ++i)
            if (waitpid(pid_, &status_, WNOHANG) == pid_)
                pid_ = -1;
            else
                usleep(10000);
    }
    ~Mount() { Unmount(); }
    bool Mounted() const {
        return ReadFile("/proc/self/mountinfo").find(" " + point_ + " ") != std::string::npos;
    }
    // fusermount3 -u as a user would, then davmount's exit status and what it said.
    std::pair<int, std::string> Unmount() {
        if (Mounted() && system(("fusermount3 -u " + point_).c_str()) != 0)
            system(("fusermount3 -u -z " + point_).c_str());
        if (pid_ > 0 && waitpid(pid_, &status_, 0) != pid_) status_ = -1;
        pid_ = -1;
        return {WIFEXITED(status_) ? WEXITSTATUS(status_) : -1, ReadFile(log_)};
    }
    const std::string& point() const { return point_; }

private:
    std::string point_, log_;
    pid_t pid_ = -1;
    int status_ = -1;
};

class DavmountReal : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(access("/dev/fuse", R_OK | W_OK), 0) << "/dev/fuse is missing: cannot mount";
        ASSERT_TRUE(server.ok()) << server.error();
    }
    RealServer server{GetParam()};
};

TEST_P(DavmountReal, OrdinaryToolsKeepEveryByte) {
    std::string work = server.workdir(), local = work + "/local";
    fs::create_directories(local);
    std::mt19937 random(7);
    std::map<std::string, std::string> want;  // what the server must hold in the end
    const std::pair<const char*, size_t> files[] = {{"empty", 0},
                                                    {"one #1.txt", 1},
                                                    {"block 50% + & more.bin", 65536},
                                                    {"grüße über.bin", 5 << 20}};
    for (auto& [name, size] : files) {
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(random());
        WriteFile(local + "/" + name, bytes);
        want[name] = bytes;
    }
    {
        Mount mount(server.url(), work, server.password());
        ASSERT_TRUE(mount.Mounted()) << mount.Unmount().second;
        std::string m = mount.point(), big = m + "/grüße über.bin";
        ASSERT_EQ(system(("cp \"" + local + "\"/* " + m + "/").c_str()), 0);
        // Folders: made, filled, renamed; a non-empty one is never removed.
        ASSERT_EQ(system(("mkdir \"" + m + "/sub dir\" && mv \"" + m + "/one #1.txt\" \"" + m +
                          "/sub dir/\" && mv \"" + m + "/sub dir\" \"" + m + "/new dir\"")
                             .c_str()),
                  0);
        EXPECT_NE(system(("rmdir \"" + m + "/new dir\" 2>/dev/null").c_str()), 0);
        want["new dir/"] = "";
        want["new dir/one #1.txt"] = want["one #1.txt"];
        want.erase("one #1.txt");
        // In place: dd over the middle, append, truncate down and up, replace through rename.
        WriteFile(local + "/patch", std::string(4096, 'p'));
        int reader = open(big.c_str(), O_RDONLY);  // its page stays in the kernel's cache
        char seen[5] = {};
        ASSERT_EQ(pread(reader, seen, 4, 300 * 4096), 4);
        ASSERT_EQ(system(("dd if=\"" + local + "/patch\" of=\"" + big +
                          "\" bs=4096 seek=300 conv=notrunc status=none")
                             .c_str()),
                  0);
        // A program that has the file open sees what another one wrote into it.
        EXPECT_EQ(pread(reader, seen, 4, 300 * 4096), 4);
        EXPECT_STREQ(seen, "pppp");
        close(reader);
        want["grüße über.bin"].replace(300 * 4096, 4096, std::string(4096, 'p'));
        ASSERT_EQ(system(("printf tail >> \"" + m + "/new dir/one #1.txt\"").c_str()), 0);
        want["new dir/one #1.txt"] += "tail";
        ASSERT_EQ(system(("truncate -s 1000 \"" + m +
                          "/block 50% + & more.bin\" && truncate -s 70000 \"" + m +
                          "/block 50% + & more.bin\"")
                             .c_str()),
                  0);
        want["block 50% + & more.bin"] =
            want["block 50% + & more.bin"].substr(0, 1000) + std::string(69000, '\0');
        ASSERT_EQ(system(("cp \"" + local + "/patch\" " + m + "/tmp && mv " + m + "/tmp \"" + m +
                          "/empty\"")
                             .c_str()),
                  0);
        want["empty"] = std::string(4096, 'p');
        ASSERT_EQ(system(("cp " + m + "/empty " + m + "/gone && rm " + m + "/gone").c_str()), 0);
        // Read back through the mount: the patched file as the server must hold it.
        WriteFile(local + "/expected", want["grüße über.bin"]);
        EXPECT_EQ(system(("[ \"$(sha256sum < \"" + big + "\")\" = \"$(sha256sum < " + local +
                          "/expected)\" ]")
                             .c_str()),
                  0);
        EXPECT_EQ(system(("df \"" + m + "\" > /dev/null").c_str()), 0);
        EXPECT_EQ(mount.Unmount().first, 0);
    }
    EXPECT_EQ(Tree(server.root()), Digests(want));
    std::string wide = Pattern(64 << 20);
    WriteFile(server.root() + "/wide.bin", want["wide.bin"] = wide);
    // Again without the kernel's page cache: every read reaches davmount.
    Mount again(server.url(), work, server.password(), "direct_io");
    ASSERT_TRUE(again.Mounted()) << again.Unmount().second;
    // Programs reading one big file at once: one from start to end, one from the middle, two
    // here and there in pieces of up to 3 MiB. Each gets every byte.
    std::string path = again.point() + "/wide.bin";
    auto from = [&](off_t offset) {
        std::string bytes;
        static thread_local char piece[1 << 16];
        int fd = open(path.c_str(), O_RDONLY);
        for (ssize_t n; (n = pread(fd, piece, sizeof piece, offset)) > 0; offset += n)
            bytes.append(piece, n);
        close(fd);
        return bytes;
    };
    std::atomic<int> scattered{0};  // pieces read right
    auto scatter = [&](unsigned seed) {
        std::mt19937 random(seed);
        std::string piece(3 << 20, '\0');
        int fd = open(path.c_str(), O_RDONLY);
        for (int i = 0; i < 100; ++i) {
            size_t at = random() % wide.size(), n = 1 + random() % piece.size();
            n = std::min(n, wide.size() - at);
            scattered += pread(fd, &piece[0], n, at) == static_cast<ssize_t>(n) &&
                         piece.compare(0, n, wide, at, n) == 0;
        }
        close(fd);
    };
    std::string tail;
    std::thread second([&] { tail = from(32 << 20); }), third(scatter, 1), fourth(scatter, 2);
    std::string whole = from(0);
    for (auto* thread : {&second, &third, &fourth}) thread->join();
    EXPECT_TRUE(whole == wide) << whole.size() << " bytes read of " << wide.size();
    EXPECT_TRUE(tail == wide.substr(32 << 20)) << tail.size() << " bytes read from 32 MiB";
    EXPECT_EQ(scattered, 200);
    EXPECT_EQ(Tree(again.point()), Digests(want));
}

INSTANTIATE_TEST_SUITE_P(Basic, DavmountReal, ::testing::Values("lighttpd", "apache"));

// Failures the mount must hand to the program that closes or reads, never hide or hang on.
TEST(DavmountScripted, RefusedUploadsAndSilentServersReachTheCaller) {
    ASSERT_EQ(access("/dev/fuse", R_OK | W_OK), 0) << "/dev/fuse is missing: cannot mount";
    char dir[] = "/tmp/davmount-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ScriptedServer server;
    server.Respond(401);  // a wrong password: one line, and nothing is mounted
    Mount refused(server.url(), dir);
    auto [status, said] = refused.Unmount();
    EXPECT_EQ(std::to_string(status) + " " + said,
              "4 davmount: connect to " + server.url() + ": ACCESS_DENIED: 401 Unauthorized\n");
    server.Respond(207, Multistatus({{"/", -1}}));  // the connection test
    server.Respond(404);                        // the lookup of a new name
    server.Respond(507);                        // its upload
    server.Respond(207, Multistatus({{"/slow.bin", 100000}}));
    ScriptedResponse silence;  // a GET the server reads and never answers
    silence.delayMs = 600000;
    server.Enqueue(silence);
    {
        Mount mount(server.url(), dir);
        ASSERT_TRUE(mount.Mounted()) << mount.Unmount().second;
        // 507: close says ENOSPC, and the bytes wait in the cache folder with their name.
        int fd = open((mount.point() + "/new.txt").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "precious", 8), 8);
        errno = 0;
        EXPECT_EQ(close(fd), -1);
        EXPECT_EQ(errno, ENOSPC);
        std::map<std::string, std::string> kept;
        for (auto& entry : fs::recursive_directory_iterator(std::string(dir) + "/cache"))
            if (entry.is_regular_file()) kept[entry.path().extension()] = ReadFile(entry.path());
        EXPECT_EQ(kept, (std::map<std::string, std::string>{{".data", "precious"},
                                                            {".path", "/new.txt\n"}}));
        // A server that stops answering: EIO once the transport's stall rule gives up.
        fd = open((mount.point() + "/slow.bin").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        char buffer[4096];
        errno = 0;
        EXPECT_EQ(read(fd, buffer, sizeof buffer), -1);
        EXPECT_EQ(errno, EIO);
        close(fd);
        EXPECT_EQ(mount.Unmount().first, 0);
    }
    // The next mount says what an earlier one left unsent.
    server.Respond(207, Multistatus({{"/", -1}}));
    Mount again(server.url(), dir);
    ASSERT_TRUE(again.Mounted()) << again.Unmount().second;
    EXPECT_NE(again.Unmount().second.find("not sent by an earlier mount: /new.txt"),
              std::string::npos);
    fs::remove_all(dir);
}

// A program that looks up name after name in one folder has it listed once, after a few
// single lookups, and gets the same answers from the listing.
TEST(DavmountScripted, NameAfterNameInOneFolderListsItOnce) {
    ASSERT_EQ(access("/dev/fuse", R_OK | W_OK), 0) << "/dev/fuse is missing: cannot mount";
    char dir[] = "/tmp/davmount-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ScriptedServer server;
    server.Respond(207, Multistatus({{"/", -1}}));  // the connection test
    for (int i = 0; i < 32; ++i) server.Respond(404);
    server.Respond(207, Multistatus({{"/", -1}, {"/f39", 3}}));
    std::string found;
    {
        Mount mount(server.url(), dir);
        ASSERT_TRUE(mount.Mounted()) << mount.Unmount().second;
        for (int i = 0; i < 40; ++i)
            found +=
                access((mount.point() + "/f" + std::to_string(i)).c_str(), F_OK) == 0 ? '1' : '0';
    }
    EXPECT_EQ(found, std::string(39, '0') + "1");
    std::map<std::string, int> depths;
    for (auto& request : server.Requests())
        ++depths[request.method + " " + request.Header("Depth")];
    // the connection test and the listing; the single lookups
    EXPECT_EQ(depths, (std::map<std::string, int>{{"PROPFIND 0", 32}, {"PROPFIND 1", 2}}));
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});
    fs::remove_all(dir);
}

}  // namespace
