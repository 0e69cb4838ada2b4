// One mounted folder's whole life on each real WebDAV server we start on loopback, with Basic,
// Digest and TLS where the server has them, from the connection test to an empty server: the
// disk holds what the plug-in says, and no request object stays lent out of the pool.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/paths.h"
#include "support/real_server.h"
#include "webdav/protocol.h"

namespace {

struct Row {
    const char* kind;
    const char* auth;
    bool tls;
    const char* speedLimit;  // the "speedlimit" option: the limiter pauses, no byte may be lost
    // chezdav takes any Digest password and answers a stat of a name holding "%" or "&" with
    // an empty href: its row leaves both out.
    bool strict = true;
};

const Row rows[] = {
    {"lighttpd", "basic", false, "6000000"}, {"lighttpd", "digest", false, ""},
    {"lighttpd", "digest", true, ""},        {"apache", "basic", false, ""},
    {"apache", "digest", false, ""},         {"apache", "digest", true, ""},
    {"nginx", "basic", false, ""},           {"nginx", "basic", true, ""},
    {"rclone", "basic", false, ""},          {"rclone", "basic", true, ""},
    {"sabredav", "basic", false, ""},        {"sabredav", "digest", false, ""},
    {"webdav-server", "basic", false, ""},   {"webdav-server", "digest", false, ""},
    {"webdav-server", "digest", true, ""},   {"chezdav", "digest", false, "", false},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.kind << " " << row.auth << (row.tls ? " tls" : "");
}

std::string RowName(const testing::TestParamInfo<Row>& info) {
    std::string name = std::string(info.param.kind) + "_" + info.param.auth;
    std::replace(name.begin(), name.end(), '-', '_');
    return name + (info.param.tls ? "_tls" : "");
}

// Bytes that depend on offset and seed: a block at a wrong offset or a swapped file shows.
std::string Pattern(size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (uint32_t i = 0, x = seed * 2654435761u + 1; i < size; ++i)
        data[i] = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return data;
}

bool IsOdd(char c) {
    return c == '%' || c == '&';
}

// Seconds since the epoch of the RFC 3339 text the plug-in writes, -1 for any other text.
long long Seconds(const std::string& text) {
    std::tm t{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S.000Z", &t);
    return end != nullptr && *end == '\0' ? timegm(&t) : -1;
}

class Lifecycle : public testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        logger.store(&log);
        const Row& row = GetParam();
        RealServerOptions options;
        options.auth = row.auth, options.tls = row.tls;
        server = std::make_unique<RealServer>(row.kind, options);
        ASSERT_TRUE(server->ok()) << server->error();
        p = Open(server->user().c_str(), server->password().c_str());
    }
    void TearDown() override {
        std::string dump = HasFailure() ? log.Dump() : "";
        std::cerr << dump.substr(dump.size() - std::min<size_t>(dump.size(), 30000));
        logger.store(nullptr);
    }
    std::unique_ptr<Protocol> Open(const char* user, const char* password) {
        auto protocol = std::make_unique<Protocol>(server->url().c_str(), nullptr);
        if (*user) protocol->SetOpt("user", user), protocol->SetOpt("password", password);
        protocol->SetOpt("speedlimit", GetParam().speedLimit);
        return protocol;
    }
    std::string Disk(const std::string& id) { return ReadFile(server->root() + id); }
    // A record must describe the item on the server's disk: path, name, kind, size, times.
    void ExpectItem(const _FS_FILE& record, const std::string& id) {
        struct stat item = {};
        ASSERT_EQ(stat((server->root() + id).c_str(), &item), 0) << id;
        bool folder = S_ISDIR(item.st_mode);
        EXPECT_EQ(record.id, id);
        EXPECT_EQ(record.name, id.substr(id.rfind('/') + 1));
        EXPECT_EQ(record.attributes, folder ? FA_DIRECTORY : FA_FILE) << id;
        EXPECT_TRUE(folder || record.size == item.st_size) << id << " size " << record.size;
        EXPECT_NEAR(Seconds(record.modifiedTime), item.st_mtime, 2) << id << record.modifiedTime;
        EXPECT_GT(Seconds(record.creationTime) * Seconds(record.accessTime), 0) << id;
    }
    AERROR Upload(const std::string& folder, const std::string& name, const std::string& content,
                  _FS_FILE& record) {
        MemoryCache cache(content);
        auto handle = std::make_shared<_FS_HANDLE>();
        record = _FS_FILE{};
        record.name = name, record.size = static_cast<int64_t>(content.size());
        AERROR result = p->Upload(folder.c_str(), handle, &cache, &record, nullptr);
        EXPECT_EQ(handle->position, static_cast<int64_t>(content.size())) << name;
        return result;
    }
    // Reads a range and checks every byte and block; past the end it is what exists, or
    // nothing (refused or empty) when the range begins there.
    void ExpectRange(const std::string& id, const std::string& content, long long offset,
                     long long length) {
        SCOPED_TRACE(id + " at " + std::to_string(offset) + " for " + std::to_string(length));
        MemoryFetch fetch;
        AERROR result =
            p->Read(id.c_str(), offset, length, std::make_shared<_FS_HANDLE>(), &fetch, nullptr);
        bool inside = offset < static_cast<long long>(content.size());
        EXPECT_TRUE(result == SUCCESS || !inside) << result;
        EXPECT_TRUE(fetch.data() == (inside ? content.substr(offset, length) : ""))
            << fetch.data().size() << " bytes";
        for (auto& block : fetch.blocks) {
            EXPECT_EQ(block.offset, offset);
            EXPECT_LE(block.length, 65536);
            offset += block.length;
        }
    }

    RecordingLogger log;
    std::unique_ptr<RealServer> server;
    std::unique_ptr<Protocol> p;
};

TEST_P(Lifecycle, OneFolderFromConnectionToNothingLeft) {
    const bool digest = GetParam().auth == std::string("digest");
    ASSERT_EQ(p->TestConnect(nullptr), SUCCESS);
    EXPECT_TRUE(log.Has(1025, digest ? "WebDAV auth type : [2]" : "WebDAV auth type : [1]"));
    // Other credentials, or none, meet the same pooled requests and must not inherit ours.
    auto name = [](std::string text) {  // as the row's server can name it
        if (!GetParam().strict) std::replace_if(text.begin(), text.end(), IsOdd, '_');
        return text;
    };
    const std::string odd = name("a%b+c&d.bin"), moved_to = name("/moved ü & sub");
    EXPECT_TRUE(!GetParam().strict ||
                Open(server->user().c_str(), "wrong")->TestConnect(nullptr) == ACCESS_DENIED);
    EXPECT_EQ(Open("", "")->TestConnect(nullptr), ACCESS_DENIED);

    const std::string top = name("/Docs #1 & Grüße"), sub = top + name("/sub +x%y");
    for (const std::string& folder : {top, sub}) {
        _FS_FILE made;
        made.name = folder.substr(folder.rfind('/') + 1);
        ASSERT_EQ(p->CreateDirectory(folder.substr(0, folder.rfind('/')).c_str(), &made, nullptr),
                  SUCCESS);
        ExpectItem(made, folder);
    }
    // Making a folder holds two request objects at once; no operation may keep one.
    const size_t idle = cq.IdleCount();
    const std::pair<std::string, std::string> files[] = {
        {"empty file.txt", ""},
        {"one #1.txt", Pattern(1, 1)},
        {odd, Pattern(65537, 2)},
        {"Grüße ñ 日本.dat", Pattern(3 << 20 | 7, 3)},
    };
    std::set<std::string> names = {sub.substr(top.size() + 1)};
    for (auto& [name, content] : files) {
        _FS_FILE record;
        ASSERT_EQ(Upload(top, name, content, record), SUCCESS) << name;
        ExpectItem(record, top + "/" + name);
        EXPECT_TRUE(Disk(top + "/" + name) == content) << name << ": stored bytes differ";
        names.insert(name);
    }

    ListSink listed, root;
    ASSERT_EQ(p->GetFileList(top.c_str(), &listed, nullptr), SUCCESS);
    std::set<std::string> seen;
    for (const _FS_FILE& entry : listed.files) {
        ExpectItem(entry, top + "/" + entry.name);
        _FS_FILE stated;
        EXPECT_EQ(p->GetFileInfo(entry.id.c_str(), &stated, nullptr), SUCCESS);
        ExpectItem(stated, entry.id);
        seen.insert(entry.name);
    }
    EXPECT_EQ(seen, names);
    EXPECT_EQ(listed.files.size(), names.size());
    ASSERT_EQ(p->GetFileList("", &root, nullptr), SUCCESS);
    ASSERT_EQ(root.files.size(), 1u);
    ExpectItem(root.files[0], top);

    for (auto& [name, content] : files) {
        if (content.empty()) continue;  // webdav-server answers a range of it with no end
        long long n = static_cast<long long>(content.size());
        const long long ranges[][2] = {{0, n},     {n - 1, 1}, {n - 1, 100000}, {n / 3, 200000},
                                       {65535, 2}, {1, 65536}, {n + 10, 10}};
        for (auto& [offset, length] : ranges)
            ExpectRange(top + "/" + name, content, offset, length);
    }

    // Rename in place, move into the subfolder, move another file over it, move the folder.
    _FS_FILE moved;
    moved.name = "renamed ü #2.bin";
    ASSERT_EQ(p->Rename((top + "/" + odd).c_str(), top.c_str(), &moved, nullptr), SUCCESS);
    ExpectItem(moved, top + "/renamed ü #2.bin");
    ASSERT_EQ(p->Move(moved.id.c_str(), sub.c_str(), &moved, nullptr), SUCCESS);
    ExpectItem(moved, sub + "/renamed ü #2.bin");
    ASSERT_EQ(p->Move((top + "/one #1.txt").c_str(), sub.c_str(), &moved, nullptr), SUCCESS);
    ExpectItem(moved, sub + "/renamed ü #2.bin");
    EXPECT_TRUE(Disk(moved.id) == files[1].second) << "the file moved over was not replaced";
    _FS_FILE folder;
    folder.name = moved_to.substr(1);
    ASSERT_EQ(p->MoveDir(sub.c_str(), "", &folder, nullptr), SUCCESS);
    ExpectItem(folder, moved_to);
    EXPECT_TRUE(Disk(moved_to + "/renamed ü #2.bin") == files[1].second);
    for (const std::string& gone : {top + "/" + odd, top + "/one #1.txt", sub})
        EXPECT_FALSE(std::filesystem::exists(server->root() + gone)) << gone;

    // Missing paths fail, with the server's word, and deliver nothing.
    const std::string missing = top + "/no such #1.txt";
    char* message = nullptr;
    EXPECT_EQ(p->GetFileInfo(missing.c_str(), &moved, &message), FAILED);
    EXPECT_EQ(std::string(message ? message : "").substr(0, 3), "404");
    p->FreeMsg(message);
    EXPECT_EQ(moved.id, sub + "/renamed ü #2.bin") << "a failed stat changed the record";
    ListSink none;
    EXPECT_EQ(p->GetFileList(missing.c_str(), &none, nullptr), FAILED);
    MemoryFetch nothing;
    EXPECT_EQ(p->Read(missing.c_str(), 0, 10, std::make_shared<_FS_HANDLE>(), &nothing, nullptr),
              FILE_READ_FAILED);
    EXPECT_NE(p->Delete(missing.c_str(), nullptr), SUCCESS);
    _FS_FILE ghost;
    ghost.name = "ghost";
    EXPECT_NE(p->Move(missing.c_str(), "", &ghost, nullptr), SUCCESS);  // rclone answers 403
    EXPECT_TRUE(none.files.empty() && nothing.data().empty());

    EXPECT_EQ(p->Delete((top + "/empty file.txt").c_str(), nullptr), SUCCESS);
    EXPECT_EQ(p->DeleteDirectory(moved_to.c_str(), nullptr), SUCCESS);
    EXPECT_EQ(p->DeleteDirectory(top.c_str(), nullptr), SUCCESS);  // with a file still inside
    ListSink end;
    EXPECT_EQ(p->GetFileList("", &end, nullptr), SUCCESS);
    EXPECT_TRUE(end.files.empty());
    EXPECT_TRUE(std::filesystem::is_empty(server->root()));
    EXPECT_EQ(cq.IdleCount(), idle) << "a request object was not given back to the pool";
}

INSTANTIATE_TEST_SUITE_P(Servers, Lifecycle, testing::ValuesIn(rows), RowName);

}  // namespace
