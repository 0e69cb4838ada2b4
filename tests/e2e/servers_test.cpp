// The whole life of a mounted folder, through the plug-in as the host loads
// it, against every real WebDAV server we start on loopback: connect, create
// folders, upload awkwardly named files of many sizes, list, stat, read
// ranges, rename, move, overwrite, delete, and refuse a wrong password.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "compiled/cache.h"
#include "compiled/filesystem.h"
#include "support/host_doubles.h"
#include "support/real_server.h"
#include "support/test_host.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTraceProtocol = 1025;  // LOG_TRACE | LOG_PROTOCOL

struct ServerCase {
    std::string kind;
    std::string auth;
    bool tls;
    bool big;  // also moves a 20 MB file (kept to a few servers for CI time)
};

void PrintTo(const ServerCase& c, std::ostream* out) {
    *out << c.kind << " " << c.auth << (c.tls ? " tls" : "") << (c.big ? " big" : "");
}

std::string CaseName(const testing::TestParamInfo<ServerCase>& info) {
    std::string name = info.param.kind + "_" + info.param.auth + (info.param.tls ? "_tls" : "");
    for (auto& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// Every kind with basic authentication, with digest where the server offers
// it, and over TLS for lighttpd (both schemes) and apache. The 20 MB file goes
// to lighttpd in the clear and to apache with digest over TLS only.
std::vector<ServerCase> Cases() {
    std::vector<ServerCase> cases;
    for (auto& kind : RealServerKinds()) {
        bool lighttpd = kind.name == "lighttpd", apache = kind.name == "apache";
        cases.push_back({kind.name, "basic", false, lighttpd});
        if (kind.digest) cases.push_back({kind.name, "digest", false, false});
        if (lighttpd) cases.push_back({kind.name, "basic", true, false});
        if (lighttpd) cases.push_back({kind.name, "digest", true, false});
        if (apache) cases.push_back({kind.name, "digest", true, true});
    }
    return cases;
}

// Bytes that depend on their offset and on the seed, so a block delivered at
// a wrong offset or a file swapped with another shows.
std::string Pattern(size_t size, unsigned seed) {
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 16);
    }
    return data;
}

std::string ReadDisk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Seconds since the epoch of an RFC 3339 text as the plug-in writes it, or
// -1 when the text has another shape.
long long ParseStamp(const std::string& text) {
    static const std::regex shape(R"(^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.000Z$)");
    std::smatch m;
    if (!std::regex_match(text, m, shape)) return -1;
    std::tm t{};
    t.tm_year = std::stoi(m[1]) - 1900;
    t.tm_mon = std::stoi(m[2]) - 1;
    t.tm_mday = std::stoi(m[3]);
    t.tm_hour = std::stoi(m[4]);
    t.tm_min = std::stoi(m[5]);
    t.tm_sec = std::stoi(m[6]);
    return static_cast<long long>(timegm(&t));
}

long long Now() {
    return static_cast<long long>(time(nullptr));
}

struct TestFile {
    std::string name;
    std::string content;
};

class ServersTest : public testing::TestWithParam<ServerCase> {
protected:
    void SetUp() override {
        const ServerCase& c = GetParam();
        started = Now();
        server = std::make_unique<RealServer>(c.kind, RealServerOptions{c.auth, c.tls});
        ASSERT_TRUE(server->ok()) << server->error();
        host = std::make_unique<TestHost>();
        protocol = Connect(server->password());
        ASSERT_NE(protocol, nullptr);
    }

    void TearDown() override {
        if (HasFailure() && server) {
            std::string log = host ? host->logger().Dump() : "";
            if (log.size() > 20000) log = "..." + log.substr(log.size() - 20000);
            std::cerr << "----- plug-in log:\n" << log << server->Logs();
        }
        protocol.reset();
        host.reset();
        server.reset();
    }

    ProtocolPtr Connect(const std::string& password) {
        ProtocolPtr p = host->Create(server->url());
        if (p) {
            p->SetOpt("user", server->user().c_str());
            p->SetOpt("password", password.c_str());
        }
        return p;
    }

    // The message of the last operation, freed.
    std::string Take(char*& message) {
        std::string text = message ? message : "(null)";
        if (message) protocol->FreeMsg(message);
        message = nullptr;
        return text;
    }

    fs::path Disk(const std::string& id) const { return fs::path(server->root() + id); }

    // Time fields must be RFC 3339 and, for what we just wrote, near now.
    void ExpectFreshTimes(const _FS_FILE& f) {
        long long modified = ParseStamp(f.modifiedTime);
        EXPECT_GE(modified, started - 120) << f.id << " modified " << f.modifiedTime;
        EXPECT_LE(modified, Now() + 120) << f.id << " modified " << f.modifiedTime;
        EXPECT_GE(ParseStamp(f.creationTime), 0) << f.id << " created " << f.creationTime;
        EXPECT_GE(ParseStamp(f.accessTime), 0) << f.id << " accessed " << f.accessTime;
    }

    void ExpectFile(const _FS_FILE& f, const std::string& id, const std::string& name,
                    int64_t size) {
        EXPECT_EQ(f.id, id);
        EXPECT_EQ(f.name, name);
        EXPECT_EQ(f.attributes, FA_FILE) << id;
        EXPECT_EQ(f.size, size) << id;
        ExpectFreshTimes(f);
    }

    void ExpectFolder(const _FS_FILE& f, const std::string& id, const std::string& name) {
        EXPECT_EQ(f.id, id);
        EXPECT_EQ(f.name, name);
        EXPECT_EQ(f.attributes, FA_DIRECTORY) << id;
        ExpectFreshTimes(f);
    }

    AERROR Upload(const std::string& folder, const TestFile& file, _FS_FILE& record) {
        MemoryCache cache(file.content);
        auto handle = std::make_shared<_FS_HANDLE>();
        record = _FS_FILE{};
        record.name = file.name;
        record.size = static_cast<int64_t>(file.content.size());
        char* message = nullptr;
        AERROR rc = protocol->Upload(folder.c_str(), handle, &cache, &record, &message);
        EXPECT_EQ(rc, SUCCESS) << folder << "/" << file.name << ": " << Take(message);
        Take(message);
        EXPECT_EQ(handle->position.load(), record.size) << file.name;
        return rc;
    }

    // Reads [offset, offset + length) and checks every byte and block; a
    // range running past the end must bring the bytes that exist.
    void ExpectRange(const std::string& id, const std::string& content, long long offset,
                     long long length) {
        long long expected =
            std::min<long long>(length, static_cast<long long>(content.size()) - offset);
        MemoryFetch fetch;
        auto handle = std::make_shared<_FS_HANDLE>();
        char* message = nullptr;
        AERROR rc = protocol->Read(id.c_str(), offset, length, handle, &fetch, &message);
        ASSERT_EQ(rc, SUCCESS) << id << " [" << offset << "+" << length << "]: " << Take(message);
        Take(message);
        ASSERT_EQ(fetch.data().size(), static_cast<size_t>(expected))
            << id << " [" << offset << "+" << length << "]";
        EXPECT_TRUE(fetch.data() == content.substr(offset, expected))
            << id << " [" << offset << "+" << length << "]: bytes differ";
        long long at = offset;
        for (auto& block : fetch.blocks) {
            EXPECT_EQ(block.offset, at) << id;
            EXPECT_LE(block.length, 65536) << id;
            at += block.length;
        }
    }

    std::map<std::string, _FS_FILE> List(const std::string& folder) {
        ListSink sink;
        char* message = nullptr;
        AERROR rc = protocol->GetFileList(folder.c_str(), &sink, &message);
        EXPECT_EQ(rc, SUCCESS) << "list [" << folder << "]: " << Take(message);
        Take(message);
        std::map<std::string, _FS_FILE> byName;
        for (auto& f : sink.files) {
            EXPECT_EQ(byName.count(f.name), 0u) << "listed twice: " << f.id;
            byName[f.name] = f;
        }
        return byName;
    }

    AERROR Stat(const std::string& id, _FS_FILE& record, std::string* text = nullptr) {
        char* message = nullptr;
        record = _FS_FILE{};
        AERROR rc = protocol->GetFileInfo(id.c_str(), &record, &message);
        std::string said = Take(message);
        if (text) *text = said;
        return rc;
    }

    AERROR MoveTo(const std::string& id, const std::string& target, const std::string& name,
                  _FS_FILE& record, bool folder = false, bool rename = false) {
        record = _FS_FILE{};
        record.name = name;
        char* message = nullptr;
        AERROR rc = rename   ? protocol->Rename(id.c_str(), target.c_str(), &record, &message)
                    : folder ? protocol->MoveDir(id.c_str(), target.c_str(), &record, &message)
                             : protocol->Move(id.c_str(), target.c_str(), &record, &message);
        EXPECT_EQ(rc, SUCCESS) << id << " -> " << target << "/" << name << ": " << Take(message);
        Take(message);
        return rc;
    }

    long long started = 0;
    std::unique_ptr<RealServer> server;
    std::unique_ptr<TestHost> host;
    ProtocolPtr protocol;
};

TEST_P(ServersTest, ConnectsAndLearnsTheAuthenticationScheme) {
    char* message = nullptr;
    ASSERT_EQ(protocol->TestConnect(&message), SUCCESS) << Take(message);
    std::string said = Take(message);
    EXPECT_EQ(said.rfind("207", 0), 0u) << said;
    std::string scheme = GetParam().auth == "digest" ? "[2]" : "[1]";
    EXPECT_TRUE(host->logger().Has(kTraceProtocol, "WebDAV auth type : " + scheme))
        << host->logger().Dump();

    // Everything below runs with the learnt scheme only.
    std::map<std::string, _FS_FILE> root = List("");
    EXPECT_TRUE(root.empty());
}

TEST_P(ServersTest, AWrongPasswordIsAccessDenied) {
    ProtocolPtr wrong = Connect(server->password() + "x");
    ASSERT_NE(wrong, nullptr);
    char* message = nullptr;
    EXPECT_EQ(wrong->TestConnect(&message), ACCESS_DENIED) << (message ? message : "(null)");
    if (message) wrong->FreeMsg(message);
    message = nullptr;
    ListSink sink;
    EXPECT_EQ(wrong->GetFileList("", &sink, &message), ACCESS_DENIED);
    if (message) wrong->FreeMsg(message);
    EXPECT_TRUE(sink.files.empty());

    ProtocolPtr nobody = host->Create(server->url());
    ASSERT_NE(nobody, nullptr);
    EXPECT_EQ(nobody->TestConnect(nullptr), ACCESS_DENIED);
}

TEST_P(ServersTest, MissingPathsFailCleanly) {
    ASSERT_EQ(protocol->TestConnect(nullptr), SUCCESS);
    _FS_FILE record;
    std::string said;
    EXPECT_EQ(Stat("/no such file #1.txt", record, &said), FAILED);
    EXPECT_NE(said.find("404"), std::string::npos) << said;
    EXPECT_TRUE(record.id.empty());

    ListSink sink;
    char* message = nullptr;
    EXPECT_EQ(protocol->GetFileList("/no such folder", &sink, &message), FAILED);
    Take(message);
    EXPECT_TRUE(sink.files.empty());

    MemoryFetch fetch;
    EXPECT_EQ(protocol->Read("/no such file #1.txt", 0, 10, std::make_shared<_FS_HANDLE>(), &fetch,
                             &message),
              FILE_READ_FAILED);
    Take(message);
    EXPECT_TRUE(fetch.data().empty());

    EXPECT_NE(protocol->Delete("/no such file #1.txt", &message), SUCCESS);
    Take(message);
}

TEST_P(ServersTest, FilesLiveThroughTheirWholeLife) {
    char* message = nullptr;
    ASSERT_EQ(protocol->TestConnect(&message), SUCCESS) << Take(message);
    Take(message);

    // Folders.
    const std::string folderName = "Docs #1 & Grüße";
    const std::string folder = "/" + folderName;
    _FS_FILE record;
    record.name = folderName;
    ASSERT_EQ(protocol->CreateDirectory("", &record, &message), SUCCESS) << Take(message);
    Take(message);
    ExpectFolder(record, folder, folderName);
    EXPECT_TRUE(fs::is_directory(Disk(folder)));

    const std::string subName = "sub 'x+y%z";
    const std::string sub = folder + "/" + subName;
    record = _FS_FILE{};
    record.name = subName;
    ASSERT_EQ(protocol->CreateDirectory(folder.c_str(), &record, &message), SUCCESS)
        << Take(message);
    Take(message);
    ExpectFolder(record, sub, subName);

    // Files of many sizes and awkward names.
    std::vector<TestFile> files = {
        {"empty file.txt", ""},
        {"one byte #1.txt", Pattern(1, 1)},
        {"a%b+c&d'e.bin", Pattern(65537, 2)},
        {"Grüße ñ 日本.dat", Pattern(100000, 3)},
        {"plain.bin", Pattern(1048576 + 7, 4)},
    };
    if (GetParam().big) files.push_back({"big 20M.bin", Pattern(20 * 1048576 + 13, 5)});
    for (auto& file : files) {
        SCOPED_TRACE("upload " + file.name);
        ASSERT_EQ(Upload(folder, file, record), SUCCESS);
        ExpectFile(record, folder + "/" + file.name, file.name,
                   static_cast<int64_t>(file.content.size()));
        EXPECT_TRUE(ReadDisk(Disk(folder + "/" + file.name)) == file.content)
            << file.name << " differs on the server's disk";
    }

    // Listing and stat agree with what was written.
    std::map<std::string, _FS_FILE> listed = List(folder);
    EXPECT_EQ(listed.size(), files.size() + 1);
    for (auto& file : files) {
        SCOPED_TRACE("list " + file.name);
        auto it = listed.find(file.name);
        ASSERT_NE(it, listed.end()) << file.name << " not listed";
        ExpectFile(it->second, folder + "/" + file.name, file.name,
                   static_cast<int64_t>(file.content.size()));
        _FS_FILE stat;
        ASSERT_EQ(Stat(folder + "/" + file.name, stat), SUCCESS);
        EXPECT_EQ(stat.id, it->second.id);
        EXPECT_EQ(stat.name, it->second.name);
        EXPECT_EQ(stat.size, it->second.size);
        EXPECT_EQ(stat.attributes, it->second.attributes);
        EXPECT_EQ(stat.modifiedTime, it->second.modifiedTime);
    }
    ASSERT_EQ(listed.count(subName), 1u) << "subfolder not listed";
    ExpectFolder(listed[subName], sub, subName);
    std::map<std::string, _FS_FILE> top = List("");
    EXPECT_EQ(top.size(), 1u);
    ASSERT_EQ(top.count(folderName), 1u);
    ExpectFolder(top[folderName], folder, folderName);
    _FS_FILE folderStat;
    ASSERT_EQ(Stat(folder, folderStat), SUCCESS);
    ExpectFolder(folderStat, folder, folderName);

    // Ranges: whole files, single bytes, block borders, the tail.
    for (auto& file : files) {
        SCOPED_TRACE("read " + file.name);
        const std::string id = folder + "/" + file.name;
        long long size = static_cast<long long>(file.content.size());
        if (size == 0) continue;
        ExpectRange(id, file.content, 0, size);
        ExpectRange(id, file.content, size - 1, 1);
        ExpectRange(id, file.content, size - 1, 100000);
        if (size > 65537) {
            ExpectRange(id, file.content, 65535, 2);
            ExpectRange(id, file.content, 1, 65536);
            long long third = size / 3;
            ExpectRange(id, file.content, third, std::min(200000LL, size - third));
        }
    }

    // A range that begins past the end delivers nothing. Servers answer 416,
    // except webdav-server, which sends 206 with the file's last byte
    // ("Content-Range: bytes 99999-99999/*" for bytes 100010-100019).
    {
        MemoryFetch fetch;
        const TestFile& file = files[3];
        long long size = static_cast<long long>(file.content.size());
        AERROR rc = protocol->Read((folder + "/" + file.name).c_str(), size + 10, 10,
                                   std::make_shared<_FS_HANDLE>(), &fetch, &message);
        std::string said = Take(message);
        if (GetParam().kind != "webdav-server") {
            EXPECT_EQ(rc, FILE_READ_FAILED) << said;
        }
        EXPECT_TRUE(fetch.data().empty()) << fetch.data().size() << " bytes delivered";
    }

    // Rename in place.
    const TestFile& renamedFile = files[2];
    const std::string renamedName = "renamed ü #2.bin";
    ASSERT_EQ(MoveTo(folder + "/" + renamedFile.name, folder, renamedName, record, false, true),
              SUCCESS);
    ExpectFile(record, folder + "/" + renamedName, renamedName,
               static_cast<int64_t>(renamedFile.content.size()));
    EXPECT_EQ(Stat(folder + "/" + renamedFile.name, record), FAILED);
    EXPECT_FALSE(fs::exists(Disk(folder + "/" + renamedFile.name)));

    // Move into the subfolder.
    ASSERT_EQ(MoveTo(folder + "/" + renamedName, sub, renamedName, record), SUCCESS);
    ExpectFile(record, sub + "/" + renamedName, renamedName,
               static_cast<int64_t>(renamedFile.content.size()));
    EXPECT_TRUE(ReadDisk(Disk(sub + "/" + renamedName)) == renamedFile.content);
    EXPECT_FALSE(fs::exists(Disk(folder + "/" + renamedName)));

    // A move onto an existing file replaces it.
    const TestFile& overFile = files[1];
    ASSERT_EQ(MoveTo(folder + "/" + overFile.name, sub, renamedName, record), SUCCESS);
    ExpectFile(record, sub + "/" + renamedName, renamedName,
               static_cast<int64_t>(overFile.content.size()));
    EXPECT_TRUE(ReadDisk(Disk(sub + "/" + renamedName)) == overFile.content);
    EXPECT_FALSE(fs::exists(Disk(folder + "/" + overFile.name)));
    ExpectRange(sub + "/" + renamedName, overFile.content, 0,
                static_cast<long long>(overFile.content.size()));

    // A folder with its content moves to the top under a new name.
    const std::string movedName = "moved ü & sub";
    ASSERT_EQ(MoveTo(sub, "", movedName, record, true), SUCCESS);
    ExpectFolder(record, "/" + movedName, movedName);
    EXPECT_TRUE(ReadDisk(Disk("/" + movedName + "/" + renamedName)) == overFile.content);
    EXPECT_FALSE(fs::exists(Disk(sub)));
    std::map<std::string, _FS_FILE> moved = List("/" + movedName);
    EXPECT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved.count(renamedName), 1u);

    // Deletions: a file, a folder with content, the rest.
    ASSERT_EQ(protocol->Delete((folder + "/" + files[0].name).c_str(), &message), SUCCESS)
        << Take(message);
    Take(message);
    EXPECT_FALSE(fs::exists(Disk(folder + "/" + files[0].name)));
    EXPECT_EQ(Stat(folder + "/" + files[0].name, record), FAILED);

    ASSERT_EQ(protocol->DeleteDirectory(("/" + movedName).c_str(), &message), SUCCESS)
        << Take(message);
    Take(message);
    EXPECT_FALSE(fs::exists(Disk("/" + movedName)));

    ASSERT_EQ(protocol->DeleteDirectory(folder.c_str(), &message), SUCCESS) << Take(message);
    Take(message);
    EXPECT_FALSE(fs::exists(Disk(folder)));
    EXPECT_TRUE(List("").empty());
    EXPECT_TRUE(fs::is_empty(Disk("")));
}

// One host process mounts several servers at once; the plug-in's pooled
// requests go from one to the other, and each connection must still learn and
// use its own server's scheme with its own credentials.
TEST(ServersTogether, EachConnectionKeepsItsOwnSchemeAndCredentials) {
    RealServer basic("lighttpd", {"basic", false, "alice", "secret"});
    ASSERT_TRUE(basic.ok()) << basic.error();
    RealServer digest("apache", {"digest", false, "bob", "other secret"});
    ASSERT_TRUE(digest.ok()) << digest.error();
    TestHost host;
    auto open = [&](RealServer& server) {
        ProtocolPtr p = host.Create(server.url());
        if (p) {
            p->SetOpt("user", server.user().c_str());
            p->SetOpt("password", server.password().c_str());
        }
        return p;
    };
    ProtocolPtr first = open(basic), second = open(digest);
    ASSERT_TRUE(first && second);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        host.logger().Clear();
        EXPECT_EQ(first->TestConnect(nullptr), SUCCESS);
        EXPECT_TRUE(host.logger().Has(kTraceProtocol, "WebDAV auth type : [1]"))
            << host.logger().Dump();
        host.logger().Clear();
        EXPECT_EQ(second->TestConnect(nullptr), SUCCESS);
        EXPECT_TRUE(host.logger().Has(kTraceProtocol, "WebDAV auth type : [2]"))
            << host.logger().Dump();
        // Basic credentials never travel to the server that asked for digest.
        EXPECT_FALSE(host.logger().Has(0, "Server auth using Basic")) << host.logger().Dump();
        ListSink one, two;
        EXPECT_EQ(first->GetFileList("", &one, nullptr), SUCCESS);
        EXPECT_EQ(second->GetFileList("", &two, nullptr), SUCCESS);
    }
    ProtocolPtr stranger = host.Create(digest.url());
    ASSERT_NE(stranger, nullptr);
    stranger->SetOpt("user", basic.user().c_str());
    stranger->SetOpt("password", basic.password().c_str());
    EXPECT_EQ(stranger->TestConnect(nullptr), ACCESS_DENIED);
}

INSTANTIATE_TEST_SUITE_P(Servers, ServersTest, testing::ValuesIn(Cases()), CaseName);

}  // namespace
