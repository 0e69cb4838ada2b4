// Every slot of the protocol object's virtual table reaches the operation it
// names. The table below is written out here from the host's slot list, on
// its own, so that a reordering in the plug-in's headers cannot hide itself
// by changing both sides at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/conv_aerror.h"
#include "compiled/filesystem.h"  // records and AERROR only; the table is below
#include "support/host_doubles.h"
#include "support/test_host.h"

namespace host_abi {

using Result = int32_t;
using QuotaCallback = bool (*)(void* context, void* protocol, long long* total,
                               long long* remaining);

// Slots 0..26 as the host calls them.
class Protocol {
public:
    virtual void Release() = 0;                                                        // 0
    virtual Result GetUserInfo(char* buffer, int* size) = 0;                           // 1
    virtual Result GetQuota(unsigned long long* total, unsigned long long* used) = 0;  // 2
    virtual Result SetQuota(unsigned long long total, unsigned long long used) = 0;    // 3
    virtual Result GetType(char** type) = 0;                                           // 4
    virtual Result GetFileList(const char* id, void* list, char** message) = 0;        // 5
    virtual Result GetChanges(void* changes, char** message) = 0;                      // 6
    virtual Result GetFileInfo(const char* id, _FS_FILE* file, char** message) = 0;    // 7
    virtual Result Rename(const char* id, const char* target, _FS_FILE* file,
                          char** message) = 0;  // 8
    virtual Result Move(const char* id, const char* target, _FS_FILE* file,
                        char** message) = 0;  // 9
    virtual Result MoveDir(const char* id, const char* target, _FS_FILE* file,
                           char** message) = 0;                                          // 10
    virtual Result CreateDirectory(const char* id, _FS_FILE* file, char** message) = 0;  // 11
    virtual Result Delete(const char* id, char** message) = 0;                           // 12
    virtual Result DeleteDirectory(const char* id, char** message) = 0;                  // 13
    virtual Result Read(const char* id, long long offset, long long length,
                        std::shared_ptr<_FS_HANDLE> handle, void* callback,
                        char** message) = 0;  // 14
    virtual Result Upload(const char* id, std::shared_ptr<_FS_HANDLE> handle, void* cache,
                          _FS_FILE* file, char** message) = 0;  // 15
    virtual Result SetFileTime(const char* id, std::string time1, std::string time2,
                               std::string time3, _FS_FILE* file, char** message) = 0;  // 16
    virtual Result SetOpt(const char* name, const char* value) = 0;                     // 17
    virtual Result Connect() = 0;                                                       // 18
    virtual Result GetCredential(char* buffer, int* size) = 0;                          // 19
    virtual Result SetCredential(const char* credential) = 0;                           // 20
    virtual Result TestConnect(char** message) = 0;                                     // 21
    virtual int64_t GetFeature() = 0;                                                   // 22
    virtual void SetQuotaCallback(void* context, QuotaCallback callback) = 0;           // 23
    virtual void FreeMsg(char* message) = 0;                                            // 24
    virtual Result GetIdentifier(char* buffer, int* size) = 0;                          // 25
    virtual Result GetRootID(char* buffer, int* size) = 0;                              // 26

protected:
    ~Protocol() = default;
};

}  // namespace host_abi

namespace {

// Answers every request with "500" and keeps its request line and headers.
class RecordingListener {
public:
    struct Request {
        std::string method;
        std::string target;
        std::string head;
    };

    RecordingListener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 16) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port = ntohs(address.sin_port);
        worker = std::thread([this] { Serve(); });
    }
    ~RecordingListener() {
        stop = true;
        worker.join();
        close(fd);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    std::vector<Request> Take() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Request> taken;
        taken.swap(requests);
        return taken;
    }

private:
    void Serve() {
        while (!stop) {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0) continue;
            int connection = accept(fd, nullptr, nullptr);
            if (connection < 0) continue;
            Answer(connection);
            close(connection);
        }
    }
    void Answer(int connection) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            pollfd waiting{connection, POLLIN, 0};
            if (poll(&waiting, 1, 2000) <= 0) return;
            ssize_t n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            head.append(buffer, static_cast<size_t>(n));
        }
        Request request;
        request.head = head.substr(0, head.find("\r\n\r\n"));
        size_t space = head.find(' ');
        request.method = head.substr(0, space);
        if (space != std::string::npos)
            request.target = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
        {
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(request);
        }
        static const char answer[] =
            "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send(connection, answer, sizeof answer - 1, MSG_NOSIGNAL);
        shutdown(connection, SHUT_WR);
    }

    int fd = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread worker;
    std::mutex lock;
    std::vector<Request> requests;
};

bool HeaderHas(const std::string& head, const std::string& line) {
    std::string lowerHead = head, lowerLine = line;
    for (auto* text : {&lowerHead, &lowerLine})
        for (char& c : *text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lowerHead.find("\r\n" + lowerLine) != std::string::npos;
}

class Slots : public ::testing::Test {
protected:
    void SetUp() override {
        owned = host.Create(listener.Url("/dav"));
        ASSERT_NE(owned, nullptr);
        p = reinterpret_cast<host_abi::Protocol*>(owned.get());
    }

    // Frees a message through slot 24 and tells whether one came back.
    void Free(char* message) { p->FreeMsg(message); }

    // For an operation that must send one request: either the operation is
    // not there yet (6 and no request), or exactly the expected request went out.
    void ExpectRequest(host_abi::Result result, const char* method, const char* pathPiece) {
        std::vector<RecordingListener::Request> seen = listener.Take();
        if (result == NOT_SUPPORTED && seen.empty())
            GTEST_SKIP() << "operation not implemented yet";
        EXPECT_NE(result, SUCCESS) << "the server answered 500";
        EXPECT_STRNE(GetAERRORA(static_cast<AERROR>(result)), "Unknown") << result;
        ASSERT_FALSE(seen.empty()) << "no request reached the server";
        EXPECT_EQ(seen.front().method, method) << seen.front().head;
        EXPECT_NE(seen.front().target.find(pathPiece), std::string::npos) << seen.front().head;
        last = seen.front();
    }

    RecordingListener listener;
    TestHost host;
    ProtocolPtr owned;
    host_abi::Protocol* p = nullptr;
    RecordingListener::Request last;
};

TEST_F(Slots, Slot0ReleaseDestroysTheObject) {
    IProtocol_V2* raw = nullptr;
    ASSERT_TRUE(host.api().GetProtocol("http://127.0.0.1/x", nullptr, &raw));
    // A slot that did not destroy would leak (reported by the sanitizer
    // build); one that did something else with no arguments would misbehave.
    reinterpret_cast<host_abi::Protocol*>(raw)->Release();
}

TEST_F(Slots, Slots1To4InfoQuotaAndType) {
    char text[128];
    int size = sizeof text;
    ASSERT_EQ(p->GetUserInfo(text, &size), SUCCESS);
    EXPECT_EQ(std::string(text), listener.Url("/dav"));

    unsigned long long total = 1, used = 1;
    ASSERT_EQ(p->GetQuota(&total, &used), SUCCESS);
    EXPECT_EQ(total, 0xA0000000000ULL);
    EXPECT_EQ(used, 0u);
    ASSERT_EQ(p->SetQuota(700, 300), SUCCESS);
    p->GetQuota(&total, &used);
    EXPECT_EQ(total, 700u);
    EXPECT_EQ(used, 300u);

    char* type = nullptr;
    ASSERT_EQ(p->GetType(&type), SUCCESS);
    EXPECT_STREQ(type, "dav;box");
}

TEST_F(Slots, Slot5GetFileListSendsADepthOnePropfind) {
    ListSink sink;
    char* message = nullptr;
    host_abi::Result result = p->GetFileList("/slot5", static_cast<IFileList*>(&sink), &message);
    Free(message);
    ExpectRequest(result, "PROPFIND", "slot5");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(HeaderHas(last.head, "Depth: 1")) << last.head;
    EXPECT_TRUE(sink.files.empty());
}

TEST_F(Slots, Slot6GetChangesSendsNothing) {
    char* const untouched = reinterpret_cast<char*>(0x1);
    char* message = untouched;
    host_abi::Result result = p->GetChanges(nullptr, &message);
    if (result == NOT_SUPPORTED) GTEST_SKIP() << "operation not implemented yet";
    EXPECT_EQ(result, SUCCESS);
    EXPECT_EQ(message, untouched);
    EXPECT_TRUE(listener.Take().empty());
}

TEST_F(Slots, Slot7GetFileInfoSendsADepthZeroPropfind) {
    _FS_FILE file;
    char* message = nullptr;
    host_abi::Result result = p->GetFileInfo("/slot7", &file, &message);
    Free(message);
    ExpectRequest(result, "PROPFIND", "slot7");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(HeaderHas(last.head, "Depth: 0")) << last.head;
}

TEST_F(Slots, Slots8To10MoveTheirOwnSource) {
    struct {
        host_abi::Result (host_abi::Protocol::*operation)(const char*, const char*, _FS_FILE*,
                                                          char**);
        const char* id;
        bool logsRename;
    } cases[] = {{&host_abi::Protocol::Rename, "/slot8", true},
                 {&host_abi::Protocol::Move, "/slot9", false},
                 {&host_abi::Protocol::MoveDir, "/slot10", false}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.id);
        _FS_FILE file;
        file.name = "moved";
        char* message = nullptr;
        host.logger().Clear();
        host_abi::Result result = (p->*c.operation)(c.id, "/target", &file, &message);
        Free(message);
        ExpectRequest(result, "MOVE", c.id + 1);
        if (IsSkipped() || HasFatalFailure()) return;
        EXPECT_EQ(host.logger().Has(0, "Rename"), c.logsRename) << host.logger().Dump();
    }
}

TEST_F(Slots, Slot11CreateDirectorySendsMkcol) {
    _FS_FILE file;
    file.name = "made";
    char* message = nullptr;
    host_abi::Result result = p->CreateDirectory("/slot11", &file, &message);
    Free(message);
    ExpectRequest(result, "MKCOL", "slot11/made");
}

TEST_F(Slots, Slots12And13DeleteTheirOwnPath) {
    char* message = nullptr;
    host_abi::Result result = p->Delete("/slot12", &message);
    Free(message);
    ExpectRequest(result, "DELETE", "slot12");
    if (IsSkipped() || HasFatalFailure()) return;
    message = nullptr;
    result = p->DeleteDirectory("/slot13", &message);
    Free(message);
    ExpectRequest(result, "DELETE", "slot13");
}

TEST_F(Slots, Slot14ReadTakesTheHandleByValueAndSendsARangedGet) {
    auto handle = std::make_shared<_FS_HANDLE>();
    MemoryFetch fetch;
    char* message = nullptr;
    host_abi::Result result =
        p->Read("/slot14", 100, 50, handle, static_cast<IFetchCallback*>(&fetch), &message);
    Free(message);
    // The by-value shared_ptr must come back balanced: only our reference left.
    EXPECT_EQ(handle.use_count(), 1);
    ExpectRequest(result, "GET", "slot14");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(HeaderHas(last.head, "Range: bytes=100-149")) << last.head;
    EXPECT_TRUE(fetch.blocks.empty());
}

TEST_F(Slots, Slot15UploadTakesTheHandleByValueAndSendsAPut) {
    auto handle = std::make_shared<_FS_HANDLE>();
    MemoryCache cache("0123456789");
    _FS_FILE file;
    file.name = "up.txt";
    file.size = 10;
    char* message = nullptr;
    host_abi::Result result =
        p->Upload("/slot15", handle, static_cast<ICacheIO*>(&cache), &file, &message);
    Free(message);
    EXPECT_EQ(handle.use_count(), 1);
    ExpectRequest(result, "PUT", "slot15/up.txt");
}

TEST_F(Slots, Slot16SetFileTimeIsNotSupportedAndTouchesNothing) {
    _FS_FILE file;
    file.name = "keep";
    char* const untouched = reinterpret_cast<char*>(0x1);
    char* message = untouched;
    EXPECT_EQ(p->SetFileTime("/a", "2020-01-01T00:00:00Z", "x", "", &file, &message),
              NOT_SUPPORTED);
    EXPECT_EQ(message, untouched);
    EXPECT_EQ(file.name, "keep");
}

TEST_F(Slots, Slot17SetOptIsTheOneThatThrowsForBadExInfo) {
    try {
        host_abi::Result result = p->SetOpt("ex_info", "not json");
        if (result == NOT_SUPPORTED) GTEST_SKIP() << "SetOpt not implemented yet";
        ADD_FAILURE() << "SetOpt returned " << result << " instead of throwing";
    } catch (AERROR code) {
        EXPECT_EQ(static_cast<int>(code), 6001);
    }
}

TEST_F(Slots, Slots18To20And25ConnectionStubsAnswerSuccessAndWriteNothing) {
    EXPECT_EQ(p->Connect(), SUCCESS);
    EXPECT_TRUE(listener.Take().empty()) << "Connect must not make a request";

    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    int size = sizeof buffer;
    EXPECT_EQ(p->GetCredential(buffer, &size), SUCCESS);
    EXPECT_EQ(p->GetIdentifier(buffer, &size), SUCCESS);
    EXPECT_EQ(size, static_cast<int>(sizeof buffer));
    EXPECT_EQ(std::string(buffer, sizeof buffer), "zzzzzzzz");
    EXPECT_EQ(p->SetCredential("anything"), SUCCESS);
}

TEST_F(Slots, Slot21TestConnectSendsADepthOnePropfindForTheRoot) {
    char* message = nullptr;
    host_abi::Result result = p->TestConnect(&message);
    Free(message);
    ExpectRequest(result, "PROPFIND", "/dav");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_EQ(result, FAILED);
    EXPECT_TRUE(HeaderHas(last.head, "Depth: 1")) << last.head;
}

TEST_F(Slots, Slots22To24FeatureQuotaCallbackAndFreeMsg) {
    EXPECT_EQ(p->GetFeature(), 0x120);

    struct Answer {
        int calls = 0;
        void* protocol = nullptr;
    } answer;
    p->SetQuotaCallback(&answer,
                        [](void* context, void* protocol, long long* total, long long* remaining) {
                            auto* a = static_cast<Answer*>(context);
                            ++a->calls;
                            a->protocol = protocol;
                            *total = 1000;
                            *remaining = 400;
                            return true;
                        });
    unsigned long long total = 0, used = 0;
    p->GetQuota(&total, &used);
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.protocol, static_cast<void*>(owned.get()));
    EXPECT_EQ(total, 1000u);
    EXPECT_EQ(used, 600u);

    // Released by the plug-in's free: the sanitizer build reports a leak otherwise.
    p->FreeMsg(strdup("a message the host got from the plug-in"));
    p->FreeMsg(nullptr);
}

TEST_F(Slots, Slot26GetRootIdIsTheEmptyText) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    int size = 1;
    EXPECT_EQ(p->GetRootID(buffer, &size), SUCCESS);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
    EXPECT_EQ(size, 0);
}

// Against a port where nothing listens, every network slot returns a named
// code, leaves a message the host can free, and does not crash.
TEST(SlotsClosedPort, NetworkSlotsFailCleanly) {
    TestHost host;
    ProtocolPtr owned = host.Create(ClosedLoopbackUrl("/dav"));
    ASSERT_NE(owned, nullptr);
    auto* p = reinterpret_cast<host_abi::Protocol*>(owned.get());
    auto handle = std::make_shared<_FS_HANDLE>();
    ListSink sink;
    MemoryFetch fetch;
    MemoryCache cache("abc");
    _FS_FILE file;
    file.name = "n";
    file.size = 3;

    std::vector<std::pair<const char*, host_abi::Result>> results;
    auto run = [&](const char* name, auto call) {
        char* message = nullptr;
        host_abi::Result result = call(&message);
        p->FreeMsg(message);
        results.push_back({name, result});
    };
    run("GetFileList", [&](char** m) { return p->GetFileList("/a", &sink, m); });
    run("GetFileInfo", [&](char** m) { return p->GetFileInfo("/a", &file, m); });
    run("Rename", [&](char** m) { return p->Rename("/a", "/b", &file, m); });
    run("Move", [&](char** m) { return p->Move("/a", "/b", &file, m); });
    run("MoveDir", [&](char** m) { return p->MoveDir("/a", "/b", &file, m); });
    run("CreateDirectory", [&](char** m) { return p->CreateDirectory("/a", &file, m); });
    run("Delete", [&](char** m) { return p->Delete("/a", m); });
    run("DeleteDirectory", [&](char** m) { return p->DeleteDirectory("/a", m); });
    run("Read", [&](char** m) {
        return p->Read("/a", 0, 10, handle, static_cast<IFetchCallback*>(&fetch), m);
    });
    run("Upload", [&](char** m) {
        return p->Upload("/a", handle, static_cast<ICacheIO*>(&cache), &file, m);
    });
    run("TestConnect", [&](char** m) { return p->TestConnect(m); });

    for (auto& [name, result] : results) {
        SCOPED_TRACE(name);
        EXPECT_NE(result, SUCCESS);
        EXPECT_STRNE(GetAERRORA(static_cast<AERROR>(result)), "Unknown") << result;
    }
    EXPECT_EQ(handle.use_count(), 1);
    EXPECT_TRUE(sink.files.empty());
    EXPECT_TRUE(fetch.blocks.empty());
    host_abi::Result connect = results.back().second;
    if (connect != NOT_SUPPORTED) {
        EXPECT_EQ(connect, FAILED);
    }
}

}  // namespace
