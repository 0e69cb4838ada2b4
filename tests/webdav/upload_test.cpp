// Uploads against the scripted server: the PUT on the wire, the body pulled from
// the cache, position and progress, the Expect switch, cancellation, result codes
// and log lines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "support/dataops_fixture.h"

namespace {

struct ProgressCall {
    long total;
    long now;
};

void RecordProgress(long total, long now, void* context, double) {
    static_cast<std::vector<ProgressCall>*>(context)->push_back({total, now});
}

class UploadTest : public DataOpsTest {
protected:
    std::shared_ptr<_FS_HANDLE> handle = std::make_shared<_FS_HANDLE>();

    _FS_FILE File(const std::string& name, size_t size) {
        _FS_FILE file;
        file.name = name;
        file.size = static_cast<int64_t>(size);
        return file;
    }
    // A PUT answered 201 followed by the stat of the new file.
    void Accept(const std::string& href, size_t size) {
        server.Respond(201);
        server.Respond(207, StatAnswer(href, static_cast<long long>(size)));
    }
    std::vector<RecordedRequest> Puts() {
        std::vector<RecordedRequest> puts;
        for (auto& r : server.Requests())
            if (r.method == "PUT") puts.push_back(r);
        return puts;
    }
    bool CutShort() {
        for (auto& f : server.Failures())
            if (f.find("cut short") != std::string::npos) return true;
        return false;
    }
};

// ---- The request ------------------------------------------------------------

TEST_F(UploadTest, EmptyFileIntoAFolder) {
    Accept("/dav/docs/f.bin", 0);
    MemoryCache cache("");
    _FS_FILE file = File("f.bin", 0);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].target, "/dav/docs/f.bin");
    EXPECT_EQ(requests[0].Header("Content-Length"), "0");
    EXPECT_FALSE(requests[0].HasHeader("Content-Type"));
    EXPECT_FALSE(requests[0].HasHeader("Expect"));
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_EQ(requests[1].method, "PROPFIND");
    EXPECT_EQ(requests[1].target, "/dav/docs/f.bin");
    EXPECT_EQ(file.id, "/docs/f.bin");
    EXPECT_EQ(file.attributes, FA_FILE);
    EXPECT_NE(Take(message).find("201"), std::string::npos);
    EXPECT_TRUE(log.Has(kTraceProtocol, "Upload id [/docs], name [f.bin]"));
    EXPECT_FALSE(log.Has(kErrorProtocol, "Upload"));
}

TEST_F(UploadTest, NullOrEmptyFolderUploadsUnderTheRoot) {
    MemoryCache cache("abc");
    for (const char* id : {static_cast<const char*>(nullptr), ""}) {
        Accept("/dav/n%20m.txt", 3);
        _FS_FILE file = File("n m.txt", 3);
        EXPECT_EQ(protocol->Upload(id, handle, &cache, &file, nullptr), SUCCESS);
    }
    auto puts = Puts();
    ASSERT_EQ(puts.size(), 2u);
    for (auto& put : puts) {
        EXPECT_EQ(put.target, "/dav/n%20m.txt");
        EXPECT_EQ(put.body, "abc");
    }
    EXPECT_EQ(log.Find(kTraceProtocol, "Upload id [], name [n m.txt]").size(), 2u);
}

TEST_F(UploadTest, BodyComesFromTheCacheInOrderWithPositionAndProgress) {
    const size_t size = 150000;
    std::string content = Pattern(size);
    Accept("/dav/docs/big.bin", size);
    MemoryCache cache(content);
    struct Piece {
        int64_t offset, end, positionOnEntry;
    };
    std::vector<Piece> pieces;
    cache.onRead = [&](_READDATA& r) {
        pieces.push_back({r.offset, r.offset + r.bytesRead, handle->position.load()});
        EXPECT_EQ(r.totalSize, static_cast<int64_t>(size));
        EXPECT_EQ(r.handle, handle);
        EXPECT_EQ(r.reserved1, 0);
        EXPECT_EQ(r.reserved2, 0);
        EXPECT_LE(static_cast<int64_t>(r.capacity), static_cast<int64_t>(size) - r.offset);
    };
    std::vector<ProgressCall> progress;
    handle->progressFn = RecordProgress;
    handle->progressContext = &progress;
    _FS_FILE file = File("big.bin", size);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), SUCCESS);

    auto puts = Puts();
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_TRUE(puts[0].body == content);
    EXPECT_EQ(puts[0].Header("Content-Length"), std::to_string(size));
    ASSERT_GE(pieces.size(), 2u);
    // Each piece starts where the last ended, and position was written after each.
    int64_t expected = 0;
    for (auto& piece : pieces) {
        EXPECT_EQ(piece.offset, expected);
        EXPECT_EQ(piece.positionOnEntry, expected);
        expected = piece.end;
    }
    EXPECT_EQ(expected, static_cast<int64_t>(size));
    EXPECT_EQ(handle->position.load(), static_cast<int64_t>(size));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().total, static_cast<long>(size));
    EXPECT_EQ(progress.back().now, static_cast<long>(size));
    EXPECT_EQ(file.size, static_cast<int64_t>(size));
}

// ---- Expect: 100-continue --------------------------------------------------

TEST_F(UploadTest, A417IsRetriedOnceWithoutExpectAndTheSwitchStaysOff) {
    const size_t size = 2 * 1024 * 1024;  // large enough for libcurl to ask for 100-continue
    std::string content = Pattern(size);
    MemoryCache cache(content);
    std::vector<int64_t> offsets;
    cache.onRead = [&](_READDATA& r) { offsets.push_back(r.offset); };
    server.Respond(417);  // after 100 Continue and the whole body
    Accept("/dav/docs/f.bin", size);
    _FS_FILE file = File("f.bin", size);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), SUCCESS);

    auto puts = Puts();
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[0].Header("Expect"), "100-continue");
    EXPECT_FALSE(puts[1].HasHeader("Expect"));
    EXPECT_TRUE(puts[0].body == content);
    EXPECT_TRUE(puts[1].body == content);
    // The second PUT read the file again from its first byte.
    int restarts = 0;
    for (int64_t o : offsets) restarts += o == 0;
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(handle->position.load(), static_cast<int64_t>(size));
    EXPECT_FALSE(protocol->useExpect);
    EXPECT_NE(Take(message).find("201"), std::string::npos);
    auto lines = log.Find(kErrorProtocol, "417");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Upload http 417 error, retry without Expect. upath: [/docs/f.bin] ");

    // Every later PUT of this object goes without Expect.
    Accept("/dav/docs/g.bin", size);
    file = File("g.bin", size);
    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), SUCCESS);
    puts = Puts();
    ASSERT_EQ(puts.size(), 3u);
    EXPECT_FALSE(puts[2].HasHeader("Expect"));
}

TEST_F(UploadTest, A417WhenTheSwitchIsAlreadyOffIsFinal) {
    protocol->useExpect = false;
    server.Respond(417);
    MemoryCache cache("data");
    _FS_FILE file = File("f.bin", 4);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), FILE_WRITE_FAILED);

    ASSERT_EQ(Puts().size(), 1u);
    EXPECT_FALSE(log.Has(kErrorProtocol, "retry without Expect"));
    EXPECT_TRUE(
        log.Has(kErrorProtocol, "Upload upath: [/docs/f.bin] , code :[0], exec error: [417]"));
}

TEST_F(UploadTest, A417BeforeTheBodyIsRetriedWithoutExpect) {
    // Refused while libcurl still waits for 100 Continue, on a connection the server
    // closes: no body byte went out, and the repeat carries the whole file.
    const size_t size = 2 * 1024 * 1024;
    std::string content = Pattern(size);
    MemoryCache cache(content);
    ScriptedResponse refuse;
    refuse.status = 417;
    refuse.expect = ScriptedResponse::ExpectMode::FinalNoBody;
    refuse.headers = {{"Connection", "close"}};
    server.Enqueue(refuse);
    Accept("/dav/f.bin", size);
    _FS_FILE file = File("f.bin", size);

    EXPECT_EQ(protocol->Upload("", handle, &cache, &file, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Expect"), "100-continue");
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_FALSE(requests[1].HasHeader("Expect"));
    EXPECT_TRUE(requests[1].body == content);
    EXPECT_EQ(requests[2].method, "PROPFIND");
    EXPECT_FALSE(protocol->useExpect);
    EXPECT_TRUE(log.Has(kErrorProtocol, "Upload http 417 error, retry without Expect."));
}

// ---- Sending the body again ---------------------------------------------------

// Each piece the cache handed over, with the position the handle showed when it was asked.
struct CachePiece {
    int64_t offset, end, positionOnEntry;
};

// The cache was read in passes, each from the first byte on, piece after piece, with
// the position following; the last pass reached the end.
void ExpectPasses(const std::vector<CachePiece>& pieces, int passes, int64_t size) {
    int started = 0;
    int64_t expected = 0;
    for (auto& piece : pieces) {
        if (piece.offset == 0) {  // rewound: position must have gone back with it
            expected = 0;
            ++started;
        }
        EXPECT_EQ(piece.offset, expected);
        EXPECT_EQ(piece.positionOnEntry, expected);
        expected = piece.end;
    }
    EXPECT_EQ(started, passes);
    EXPECT_EQ(expected, size);
}

TEST_F(UploadTest, AuthenticationRoundSendsTheWholeBodyAgain) {
    protocol->SetOpt("user", "user");
    protocol->SetOpt("password", "secret");
    const size_t size = 150000;  // several pieces, so the rewind starts from mid-body
    std::string content = Pattern(size);
    MemoryCache cache(content);
    std::vector<CachePiece> pieces;
    cache.onRead = [&](_READDATA& r) {
        pieces.push_back({r.offset, r.offset + r.bytesRead, handle->position.load()});
    };
    server.Respond(401, "denied", {{"WWW-Authenticate", "Basic realm=\"x\""}});
    Accept("/dav/docs/f.bin", size);
    _FS_FILE file = File("f.bin", size);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), SUCCESS);

    auto puts = Puts();
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_FALSE(puts[0].HasHeader("Authorization"));
    EXPECT_EQ(puts[1].Header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");  // user:secret
    for (auto& put : puts) {
        EXPECT_EQ(put.target, "/dav/docs/f.bin");
        EXPECT_EQ(put.Header("Content-Length"), std::to_string(size));
        EXPECT_TRUE(put.body == content);
    }
    ExpectPasses(pieces, 2, static_cast<int64_t>(size));
    EXPECT_EQ(handle->position.load(), static_cast<int64_t>(size));
    EXPECT_NE(Take(message).find("201"), std::string::npos);
    EXPECT_FALSE(log.Has(kErrorProtocol, "Upload"));
}

TEST_F(UploadTest, RedirectedPutCarriesTheWholeBody) {
    const size_t size = 150000;
    std::string content = Pattern(size, 11);
    MemoryCache cache(content);
    std::vector<CachePiece> pieces;
    cache.onRead = [&](_READDATA& r) {
        pieces.push_back({r.offset, r.offset + r.bytesRead, handle->position.load()});
    };
    server.Respond(307, "", {{"Location", "/dav/elsewhere/f.bin"}});
    Accept("/dav/docs/f.bin", size);
    _FS_FILE file = File("f.bin", size);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), SUCCESS);

    auto puts = Puts();
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[0].target, "/dav/docs/f.bin");
    EXPECT_EQ(puts[1].target, "/dav/elsewhere/f.bin");
    EXPECT_EQ(puts[1].Header("Content-Length"), std::to_string(size));
    EXPECT_TRUE(puts[1].body == content);
    ExpectPasses(pieces, 2, static_cast<int64_t>(size));
    EXPECT_EQ(handle->position.load(), static_cast<int64_t>(size));
}

// A kept-alive connection the server dropped is only found dead once the PUT
// went out on it; libcurl then sends it again on a fresh connection, which
// needs the body from its first byte once more.
TEST_F(UploadTest, PutOnADroppedKeptAliveConnectionIsSentAgain) {
    const size_t size = 1000;  // below libcurl's threshold for "Expect: 100-continue"
    std::string content = Pattern(size, 5);
    MemoryCache cache(content);
    std::vector<CachePiece> pieces;
    cache.onRead = [&](_READDATA& r) {
        pieces.push_back({r.offset, r.offset + r.bytesRead, handle->position.load()});
    };
    _FS_FILE before;
    server.Respond(207, StatAnswer("/dav/docs/", 0));
    ASSERT_EQ(protocol->GetFileInfo("/docs", &before, nullptr), SUCCESS);
    ScriptedResponse dropped;
    dropped.hangUp = true;
    server.Enqueue(dropped);
    Accept("/dav/docs/f.bin", size);
    _FS_FILE file = File("f.bin", size);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), SUCCESS);

    auto puts = Puts();
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[0].connection, server.Requests().at(0).connection);  // the reused one
    EXPECT_NE(puts[1].connection, puts[0].connection);
    for (auto& put : puts) EXPECT_TRUE(put.body == content);
    ExpectPasses(pieces, 2, static_cast<int64_t>(size));
    EXPECT_EQ(handle->position.load(), static_cast<int64_t>(size));
    EXPECT_TRUE(server.Failures().empty());
}

// ---- Failures -----------------------------------------------------------------

TEST_F(UploadTest, ErrorAnswers) {
    server.Respond(507);
    server.Respond(409);
    server.Respond(403);
    server.Respond(401);
    MemoryCache cache("data");
    _FS_FILE file = File("f.bin", 4);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), FILE_WRITE_FAILED);
    EXPECT_NE(Take(message).find("507"), std::string::npos);
    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), FILE_WRITE_FAILED);
    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), ACCESS_DENIED);
    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), ACCESS_DENIED);

    auto errors = log.Find(kErrorProtocol, "Upload upath:");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Upload upath: [/docs/f.bin] , code :[0], exec error: [507]");
    EXPECT_EQ(errors[1], "Upload upath: [/docs/f.bin] , code :[0], exec error: [409]");
    EXPECT_EQ(Puts().size(), 4u);
}

TEST_F(UploadTest, StatFailureAfterAStoredFileIsTheResult) {
    server.Respond(201);
    server.Respond(500);
    MemoryCache cache("data");
    _FS_FILE file = File("f.bin", 4);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), FAILED);
    EXPECT_NE(Take(message).find("201"), std::string::npos);
    EXPECT_FALSE(log.Has(kErrorProtocol, "Upload upath:"));
}

TEST_F(UploadTest, NoServer) {
    Protocol dead((DeadURL() + "/dav").c_str(), nullptr);
    MemoryCache cache("data");
    _FS_FILE file = File("f.bin", 4);
    char* message = nullptr;

    EXPECT_EQ(dead.Upload("/docs", handle, &cache, &file, &message), FILE_WRITE_FAILED);
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(
        log.Has(kErrorProtocol, "Upload upath: [/docs/f.bin] , code :[7], exec error: [0]"));
}

TEST_F(UploadTest, CacheEndingEarlyStopsAtOnce) {
    checkFailures = false;  // the server sees a body cut short, which is the point
    const size_t size = 150000;
    server.Respond(201);  // never reached by a complete body
    MemoryCache cache(Pattern(size));
    cache.available = 1000;
    _FS_FILE file = File("f.bin", size);
    char* message = nullptr;

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, &message), FILE_WRITE_FAILED);

    EXPECT_EQ(Take(message), "the cache ended the file at byte 1000 of 150000");
    EXPECT_EQ(handle->position.load(), 1000);
    EXPECT_TRUE(
        log.Has(kErrorProtocol, "Upload upath: [/docs/f.bin] , code :[42], exec error: [0]"));
    EXPECT_TRUE(Puts().empty());
}

TEST_F(UploadTest, InvalidRequestsAreRefused) {
    MemoryCache cache("x");
    _FS_FILE file = File("f.bin", 1);
    EXPECT_EQ(protocol->Upload("/d", handle, &cache, nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->Upload("/d", handle, nullptr, &file, nullptr), INVALID_PARAMETER);
    file.size = -1;
    EXPECT_EQ(protocol->Upload("/d", handle, &cache, &file, nullptr), INVALID_PARAMETER);
    EXPECT_TRUE(server.Requests().empty());
}

// ---- Cancellation -------------------------------------------------------------

TEST_F(UploadTest, StoppedHandleSendsNothing) {
    handle->state = FS_HANDLE_STOP;
    MemoryCache cache("data");
    _FS_FILE file = File("f.bin", 4);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), FILE_WRITE_FAILED);
    EXPECT_EQ(cache.calls, 0);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(
        log.Has(kErrorProtocol, "Upload upath: [/docs/f.bin] , code :[42], exec error: [0]"));
}

TEST_F(UploadTest, CancelInsideReadDataStopsAtThatPiece) {
    checkFailures = false;
    const size_t size = 500000;
    server.Respond(201);
    MemoryCache cache(Pattern(size));
    int64_t firstEnd = -1;
    cache.onRead = [&](_READDATA& r) {
        if (cache.calls == 1) firstEnd = r.offset + r.bytesRead;
        if (cache.calls == 2) handle->state = FS_HANDLE_STOP;
    };
    _FS_FILE file = File("f.bin", size);

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), FILE_WRITE_FAILED);

    EXPECT_EQ(cache.calls, 2);
    EXPECT_EQ(handle->position.load(), firstEnd);
    EXPECT_TRUE(
        log.Has(kErrorProtocol, "Upload upath: [/docs/f.bin] , code :[42], exec error: [0]"));
}

TEST_F(UploadTest, CancelFromAnotherThreadDuringASlowUpload) {
    checkFailures = false;
    const size_t size = 1024 * 1024;
    protocol->speedLimit = 128 * 1024;  // about 8 s for the whole file
    server.Respond(201);
    MemoryCache cache(Pattern(size));
    _FS_FILE file = File("f.bin", size);
    std::thread host([&] {
        while (handle->position.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        handle->state = FS_HANDLE_STOP;
    });

    EXPECT_EQ(protocol->Upload("/docs", handle, &cache, &file, nullptr), FILE_WRITE_FAILED);
    host.join();

    EXPECT_GT(handle->position.load(), 0);
    EXPECT_LT(handle->position.load(), static_cast<int64_t>(size));
    EXPECT_TRUE(Puts().empty());  // the server never saw a whole body
}

// ---- The read callback on its own ----------------------------------------------

TEST(UploadCallbacks, ReadCallbackGuardsTheAnnouncedLength) {
    auto handle = std::make_shared<_FS_HANDLE>();
    MemoryCache cache(Pattern(100));
    Protocol::_UPLOADCTX ctx;
    ctx.handle = handle;
    ctx.cache = &cache;
    ctx.size = 60;  // the cache holds more than the announced size
    char buffer[256];

    EXPECT_EQ(read_callback_cache_func(buffer, 1, sizeof buffer, &ctx), 60u);
    EXPECT_EQ(ctx.offset, 60);
    EXPECT_EQ(handle->position.load(), 60);
    EXPECT_EQ(read_callback_cache_func(buffer, 1, sizeof buffer, &ctx), 0u);  // end of body
    EXPECT_EQ(cache.calls, 1);

    // A cache that claims more bytes than it had room for is not believed.
    class Liar : public ICacheIO {
    public:
        AERROR ReadData(_READDATA* r) override {
            r->bytesRead = static_cast<int64_t>(r->capacity) + 1;
            return SUCCESS;
        }
    } liar;
    Protocol::_UPLOADCTX lied;
    lied.cache = &liar;
    lied.size = 1000;
    EXPECT_EQ(read_callback_cache_func(buffer, 1, 100, &lied),
              static_cast<size_t>(CURL_READFUNC_ABORT));
}

TEST(UploadCallbacks, SeekCallbackMovesOffsetAndPositionWithinTheBody) {
    auto handle = std::make_shared<_FS_HANDLE>();
    MemoryCache cache(Pattern(100));
    Protocol::_UPLOADCTX ctx;
    ctx.handle = handle;
    ctx.cache = &cache;
    ctx.size = 100;
    ctx.offset = 70;
    handle->position = 70;

    EXPECT_EQ(seek_callback_cache_func(&ctx, 0, SEEK_SET), CURL_SEEKFUNC_OK);
    EXPECT_EQ(ctx.offset, 0);
    EXPECT_EQ(handle->position.load(), 0);
    EXPECT_EQ(seek_callback_cache_func(&ctx, 30, SEEK_CUR), CURL_SEEKFUNC_OK);
    EXPECT_EQ(seek_callback_cache_func(&ctx, -10, SEEK_CUR), CURL_SEEKFUNC_OK);
    EXPECT_EQ(ctx.offset, 20);
    EXPECT_EQ(handle->position.load(), 20);
    EXPECT_EQ(seek_callback_cache_func(&ctx, -5, SEEK_END), CURL_SEEKFUNC_OK);
    EXPECT_EQ(ctx.offset, 95);
    EXPECT_EQ(seek_callback_cache_func(&ctx, 0, SEEK_END), CURL_SEEKFUNC_OK);
    EXPECT_EQ(ctx.offset, 100);

    // The next read after a rewind serves the bytes at the new offset.
    ASSERT_EQ(seek_callback_cache_func(&ctx, 40, SEEK_SET), CURL_SEEKFUNC_OK);
    char buffer[10];
    ASSERT_EQ(read_callback_cache_func(buffer, 1, sizeof buffer, &ctx), sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), cache.content.substr(40, 10));
    EXPECT_EQ(handle->position.load(), 50);

    // Outside the body, or from nowhere: refused, nothing moves.
    EXPECT_EQ(seek_callback_cache_func(&ctx, -1, SEEK_SET), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, 101, SEEK_SET), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, -51, SEEK_CUR), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, 1, SEEK_END), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, INT64_MIN, SEEK_END), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, INT64_MAX, SEEK_CUR), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(seek_callback_cache_func(&ctx, 0, 42), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(ctx.offset, 50);
    EXPECT_EQ(handle->position.load(), 50);
    EXPECT_EQ(seek_callback_cache_func(nullptr, 0, SEEK_SET), CURL_SEEKFUNC_FAIL);

    // Without a handle only the offset moves.
    Protocol::_UPLOADCTX bare;
    bare.size = 10;
    bare.offset = 10;
    EXPECT_EQ(seek_callback_cache_func(&bare, 0, SEEK_SET), CURL_SEEKFUNC_OK);
    EXPECT_EQ(bare.offset, 0);
}

}  // namespace
