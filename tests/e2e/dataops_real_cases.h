// Files moving, changing and flowing on real WebDAV servers: uploads of several
// sizes read back by ranges byte for byte, renames, moves between folders,
// folder creation and deletion, checked against the served directory itself.
// Included by the test files that instantiate it for their servers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/logstate.h"
#include "support/dataops_fixture.h"
#include "support/real_server.h"

namespace dataops_real {

namespace fs = std::filesystem;

inline std::string ReadDisk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Case {
    std::string kind;
    std::string auth;
    bool large;  // also move a 50,000,000-byte file
};

inline std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.kind + "_" + info.param.auth;
}

class DataOpsRealTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        logger.store(&log);
        server.reset(new RealServer(GetParam().kind, {GetParam().auth}));
        ASSERT_TRUE(server->ok()) << server->error();
        protocol.reset(new Protocol(server->url().c_str(), nullptr));
        protocol->SetOpt("user", server->user().c_str());
        protocol->SetOpt("password", server->password().c_str());
        ASSERT_EQ(protocol->TestConnect(nullptr), SUCCESS) << server->Logs();
    }
    void TearDown() override {
        protocol.reset();
        server.reset();
        logger.store(nullptr);
    }
    fs::path Disk(const std::string& id) { return fs::path(server->root()) / id.substr(1); }

    AERROR Upload(const char* folder, const std::string& name, const std::string& content,
                  _FS_FILE* file) {
        MemoryCache cache(content);
        *file = _FS_FILE();
        file->name = name;
        file->size = static_cast<int64_t>(content.size());
        auto handle = std::make_shared<_FS_HANDLE>();
        AERROR result = protocol->Upload(folder, handle, &cache, file, nullptr);
        EXPECT_EQ(handle->position.load(), static_cast<int64_t>(content.size()));
        return result;
    }
    // Reads [offset, offset + length) and checks every byte and every block against
    // the content that was uploaded.
    void ReadBack(const std::string& id, const std::string& content, long long offset,
                  long long length) {
        SCOPED_TRACE(id + " offset " + std::to_string(offset) + " length " +
                     std::to_string(length));
        MemoryFetch sink;
        auto handle = std::make_shared<_FS_HANDLE>();
        char* message = nullptr;
        AERROR result = protocol->Read(id.c_str(), offset, length, handle, &sink, &message);
        std::string text = message != nullptr ? message : "";
        free(message);
        long long size = static_cast<long long>(content.size());
        if (offset >= size) {  // nothing there: refused or empty, and never any data
            EXPECT_TRUE(result == FILE_READ_FAILED || result == SUCCESS) << result << text;
            EXPECT_TRUE(sink.blocks.empty());
            return;
        }
        ASSERT_EQ(result, SUCCESS) << text << server->Logs();
        long long expected = std::min(length, size - offset);
        ASSERT_EQ(static_cast<long long>(sink.data().size()), expected);
        EXPECT_TRUE(sink.data() == content.substr(offset, expected)) << "bytes differ";
        long long at = offset;
        for (auto& block : sink.blocks) {
            EXPECT_EQ(block.offset, at);
            EXPECT_LE(block.length, 65536);
            at += block.length;
        }
    }

    RecordingLogger log{LOG_ERROR | LOG_PROTOCOL | LOG_TRANSFER};
    std::unique_ptr<RealServer> server;
    std::unique_ptr<Protocol> protocol;
};

TEST_P(DataOpsRealTest, UploadsReadBackByteForByte) {
    _FS_FILE folder;
    folder.name = "data set";
    ASSERT_EQ(protocol->CreateDirectory("", &folder, nullptr), SUCCESS) << server->Logs();
    EXPECT_EQ(folder.attributes, FA_DIRECTORY);
    EXPECT_EQ(folder.id, "/data set");

    std::vector<size_t> sizes = {0, 1, 65536, 150000};
    if (GetParam().large) sizes.push_back(50000000);
    for (size_t size : sizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::string content = Pattern(size, static_cast<unsigned>(size));
        std::string name = "f\xC3\xBC " + std::to_string(size) + ".bin";
        std::string id = "/data set/" + name;
        _FS_FILE file;
        ASSERT_EQ(Upload("/data set", name, content, &file), SUCCESS) << server->Logs();
        EXPECT_EQ(file.id, id);
        EXPECT_EQ(file.size, static_cast<int64_t>(size));
        EXPECT_EQ(file.attributes & FA_FILE, FA_FILE);
        EXPECT_TRUE(ReadDisk(Disk(id)) == content) << "stored bytes differ";

        long long n = static_cast<long long>(size);
        ReadBack(id, content, 0, 1);
        ReadBack(id, content, 0, std::max<long long>(n, 1));
        ReadBack(id, content, n / 3, 100000);
        ReadBack(id, content, n > 10 ? n - 10 : 0, 70000);  // past the end: a short answer
        ReadBack(id, content, n + 5, 10);                   // wholly past the end
        if (size >= 65536) ReadBack(id, content, 65535, 65538);
        if (size == 50000000) {
            for (long long at = 0; at < n; at += 4 << 20) ReadBack(id, content, at, 4 << 20);
        }
    }

    // Uploading again replaces the file.
    std::string second = Pattern(1000, 99);
    _FS_FILE file;
    ASSERT_EQ(Upload("/data set", "f\xC3\xBC 1.bin", second, &file), SUCCESS);
    EXPECT_EQ(file.size, 1000);
    ReadBack("/data set/f\xC3\xBC 1.bin", second, 0, 1000);
}

TEST_P(DataOpsRealTest, RenameMoveCreateAndDelete) {
    _FS_FILE a, b, file;
    a.name = "a";
    b.name = "b";
    ASSERT_EQ(protocol->CreateDirectory(nullptr, &a, nullptr), SUCCESS) << server->Logs();
    ASSERT_EQ(protocol->CreateDirectory("/a", &b, nullptr), SUCCESS);
    EXPECT_EQ(b.id, "/a/b");
    EXPECT_TRUE(fs::is_directory(Disk("/a/b")));
    _FS_FILE again;
    again.name = "a";
    EXPECT_EQ(protocol->CreateDirectory("", &again, nullptr), FOLDER_CREATION_FAILED);

    std::string content = Pattern(150000, 3);
    ASSERT_EQ(Upload("/a", "old name.txt", content, &file), SUCCESS);

    // Rename within the folder.
    file.name = "new name.txt";
    ASSERT_EQ(protocol->Rename("/a/old name.txt", "/a", &file, nullptr), SUCCESS) << server->Logs();
    EXPECT_EQ(file.id, "/a/new name.txt");
    EXPECT_EQ(file.size, 150000);
    EXPECT_FALSE(fs::exists(Disk("/a/old name.txt")));
    EXPECT_TRUE(ReadDisk(Disk("/a/new name.txt")) == content);

    // Move into another folder, keeping the name.
    ASSERT_EQ(protocol->Move("/a/new name.txt", "/a/b", &file, nullptr), SUCCESS);
    EXPECT_EQ(file.id, "/a/b/new name.txt");
    EXPECT_FALSE(fs::exists(Disk("/a/new name.txt")));
    ReadBack("/a/b/new name.txt", content, 1000, 80000);

    // Move a folder with its content to the root under a new name.
    _FS_FILE moved;
    moved.name = "c\xC3\xA9";
    ASSERT_EQ(protocol->MoveDir("/a/b", "", &moved, nullptr), SUCCESS);
    EXPECT_EQ(moved.id, "/c\xC3\xA9");
    EXPECT_EQ(moved.attributes, FA_DIRECTORY);
    EXPECT_TRUE(ReadDisk(Disk("/c\xC3\xA9/new name.txt")) == content);
    EXPECT_FALSE(fs::exists(Disk("/a/b")));
    EXPECT_TRUE(protocol->absoluteDestination);  // both servers take absolute URLs

    // Moving what is not there fails and changes nothing.
    _FS_FILE ghost;
    ghost.name = "ghost";
    EXPECT_EQ(protocol->Move("/nothing", "/a", &ghost, nullptr), FAILED);

    // Delete a file, then the folders (one of them not empty).
    EXPECT_EQ(protocol->Delete("/c\xC3\xA9/new name.txt", nullptr), SUCCESS);
    EXPECT_FALSE(fs::exists(Disk("/c\xC3\xA9/new name.txt")));
    EXPECT_EQ(protocol->Delete("/c\xC3\xA9/new name.txt", nullptr), FAILED);
    ASSERT_EQ(Upload("/a", "keep.bin", "x", &file), SUCCESS);
    EXPECT_EQ(protocol->DeleteDirectory("/a", nullptr), SUCCESS);
    EXPECT_EQ(protocol->DeleteDirectory("/c\xC3\xA9", nullptr), SUCCESS);
    EXPECT_FALSE(fs::exists(Disk("/a")));
    EXPECT_FALSE(fs::exists(Disk("/c\xC3\xA9")));
    EXPECT_TRUE(fs::is_empty(server->root()));
}

}  // namespace dataops_real
