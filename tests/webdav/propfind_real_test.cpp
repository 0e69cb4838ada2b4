// Listing and stat against real WebDAV servers on loopback: every field of
// every record, for names that need encoding.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "idle_pool.h"
#include "support/host_doubles.h"
#include "support/real_server.h"
#include "webdav/protocol.h"

namespace {

std::string Rfc3339(time_t seconds) {
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return text;
}

struct Item {
    std::string path;  // under the served root, "/"-separated, no trailing "/"
    bool folder;
    std::string content;
    time_t mtime;
};

// Names with blanks, "#", "%", "+", "&" and letters beyond ASCII.
std::vector<Item> Tree() {
    time_t base = 1614574800;  // 2021-03-01T05:00:00Z
    return {
        {"/a b.txt", false, "hello", base + 1},
        {"/hash#1.txt", false, "12345678", base + 2},
        {"/100% sure.txt", false, "", base + 3},
        {"/plus+sign.txt", false, std::string(1000, 'x'), base + 4},
        {"/Tom & Jerry.txt", false, "ab", base + 5},
        {"/Grüße ünï.txt", false, "é", base + 6},
        {"/日本語.txt", false, "abc", base + 7},
        {"/Sub #1 %", true, "", base + 20},
        {"/Sub #1 %/inner & more+.txt", false, "inner", base + 8},
        {"/Sub #1 %/Ordner Ä", true, "", base + 9},
        {"/empty dir", true, "", base + 10},
    };
}

void Build(const std::string& root, const std::vector<Item>& items) {
    for (auto& item : items) {
        std::string full = root + item.path;
        if (item.folder) {
            ASSERT_EQ(mkdir(full.c_str(), 0755), 0) << full;
        } else {
            std::ofstream out(full, std::ios::binary);
            out << item.content;
        }
    }
    // Times last, deepest first, so that creating children does not move them.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        timespec times[2] = {{it->mtime, 0}, {it->mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root + it->path).c_str(), times, 0), 0);
    }
}

class RealListingTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        server.reset(new RealServer(GetParam()));
        ASSERT_TRUE(server->ok()) << server->error();
        items = Tree();
        Build(server->root(), items);
        protocol.reset(new Protocol(server->url().c_str(), nullptr));
        protocol->SetOpt("user", server->user().c_str());
        protocol->SetOpt("password", server->password().c_str());
    }
    void TearDown() override {
        if (protocol) protocol.release()->Release();
    }

    // What the server says a folder's size is: lighttpd reports the
    // directory's own size, Apache reports none.
    int64_t FolderSize(const std::string& path) {
        if (GetParam() != "lighttpd") return 0;
        struct stat info;
        stat((server->root() + path).c_str(), &info);
        return info.st_size;
    }

    void CheckRecord(const _FS_FILE& file, const Item& item) {
        SCOPED_TRACE(item.path);
        struct stat info;
        ASSERT_EQ(stat((server->root() + item.path).c_str(), &info), 0);
        EXPECT_EQ(file.id, item.path);
        EXPECT_EQ(file.name, item.path.substr(item.path.rfind('/') + 1));
        EXPECT_EQ(file.attributes, item.folder ? FA_DIRECTORY : FA_FILE);
        EXPECT_EQ(file.size,
                  item.folder ? FolderSize(item.path) : static_cast<int64_t>(item.content.size()));
        EXPECT_EQ(file.modifiedTime, Rfc3339(item.mtime));
        EXPECT_EQ(file.accessTime, Rfc3339(item.mtime));  // no server reports it
        // lighttpd, nginx, rclone and SabreDAV have no creation date; Apache
        // gives the inode change time, webdav-server the birth time.
        struct statx birth;
        ASSERT_EQ(statx(AT_FDCWD, (server->root() + item.path).c_str(), 0, STATX_BTIME, &birth), 0);
        std::string created = Rfc3339(item.mtime);
        if (GetParam() == "apache") created = Rfc3339(info.st_ctime);
        if (GetParam() == "webdav-server") created = Rfc3339(birth.stx_btime.tv_sec);
        EXPECT_EQ(file.creationTime, created);
    }

    // New request objects: libcurl keeps the scheme it last used on a handle,
    // which would let Basic go out unasked and hide the server's challenge.
    IdlePoolSetAside fresh;
    std::unique_ptr<RealServer> server;
    std::unique_ptr<Protocol> protocol;
    std::vector<Item> items;
};

TEST_P(RealListingTest, ListsEveryEntryWithEveryField) {
    ASSERT_EQ(protocol->TestConnect(nullptr), SUCCESS);
    EXPECT_EQ(protocol->authType.load(), 1);  // Basic, as configured

    auto listAndCheck = [&](const char* folder, const std::string& prefix) {
        SCOPED_TRACE(folder ? folder : "(root)");
        ListSink sink;
        char* message = nullptr;
        ASSERT_EQ(protocol->GetFileList(folder, &sink, &message), SUCCESS);
        EXPECT_EQ(std::string(message ? message : "").substr(0, 4), "207 ");
        protocol->FreeMsg(message);
        std::map<std::string, _FS_FILE> byId;
        for (auto& file : sink.files) EXPECT_TRUE(byId.emplace(file.id, file).second) << file.id;
        size_t expected = 0;
        for (auto& item : items) {
            if (item.path.rfind(prefix + "/", 0) != 0) continue;
            if (item.path.find('/', prefix.size() + 1) != std::string::npos) continue;
            ++expected;
            auto found = byId.find(item.path);
            ASSERT_NE(found, byId.end()) << item.path;
            CheckRecord(found->second, item);
        }
        EXPECT_EQ(sink.files.size(), expected);
    };
    listAndCheck(nullptr, "");
    listAndCheck("/Sub #1 %", "/Sub #1 %");
    listAndCheck("/empty dir", "/empty dir");
}

TEST_P(RealListingTest, StatsEveryEntry) {
    for (auto& item : items) {
        _FS_FILE file;
        ASSERT_EQ(protocol->GetFileInfo(item.path.c_str(), &file, nullptr), SUCCESS) << item.path;
        CheckRecord(file, item);
    }
    // The root itself: empty id and name, a folder.
    _FS_FILE root;
    ASSERT_EQ(protocol->GetFileInfo(nullptr, &root, nullptr), SUCCESS);
    EXPECT_EQ(root.id, "");
    EXPECT_EQ(root.name, "");
    EXPECT_EQ(root.attributes, FA_DIRECTORY);
}

TEST_P(RealListingTest, MissingEntriesAndWrongPasswords) {
    _FS_FILE file;
    char* message = nullptr;
    EXPECT_EQ(protocol->GetFileInfo("/no such file", &file, &message), FAILED);
    EXPECT_STREQ(message, "404 Not Found");
    protocol->FreeMsg(message);
    ListSink sink;
    EXPECT_EQ(protocol->GetFileList("/no such folder", &sink, nullptr), FAILED);

    Protocol wrong(server->url().c_str(), nullptr);
    wrong.SetOpt("user", server->user().c_str());
    wrong.SetOpt("password", "wrong");
    EXPECT_EQ(wrong.TestConnect(&message), ACCESS_DENIED);
    EXPECT_EQ(std::string(message ? message : "").substr(0, 4), "401 ");
    wrong.FreeMsg(message);
    EXPECT_EQ(wrong.GetFileList(nullptr, &sink, nullptr), ACCESS_DENIED);
    EXPECT_TRUE(sink.files.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealListingTest,
                         ::testing::Values("lighttpd", "apache", "nginx", "rclone", "sabredav",
                                           "webdav-server"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
