// Ranged reads against the scripted server: the request, block sizes and offsets
// handed to the host, what an answer that does not match the range does,
// cancellation, result codes and log lines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/dataops_fixture.h"

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

class ReadTest : public DataOpsTest {
protected:
    std::shared_ptr<_FS_HANDLE> handle = std::make_shared<_FS_HANDLE>();
    MemoryFetch sink;

    // A correct 206 answer for [offset, offset + length) of file.
    ScriptedResponse Partial(const std::string& file, long long offset, long long length) {
        ScriptedResponse r;
        r.status = 206;
        long long last = std::min<long long>(offset + length, file.size()) - 1;
        r.headers = {{"Content-Range", "bytes " + std::to_string(offset) + "-" +
                                           std::to_string(last) + "/" +
                                           std::to_string(file.size())}};
        r.body = file.substr(static_cast<size_t>(offset), static_cast<size_t>(last - offset + 1));
        return r;
    }
    AERROR Read(const char* path, long long offset, long long length, char** message = nullptr) {
        return protocol->Read(path, offset, length, handle, &sink, message);
    }
    void ExpectBlocks(std::vector<std::pair<long long, long long>> expected) {
        ASSERT_EQ(sink.blocks.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(sink.blocks[i].offset, expected[i].first) << "block " << i;
            EXPECT_EQ(sink.blocks[i].length, expected[i].second) << "block " << i;
        }
        EXPECT_EQ(sink.flagsSeen, 0);
    }
};

// webdav-server answers a range that starts past the end with 206 and the last
// byte ("bytes 99-99/*"): that byte lies before the range, so nothing is delivered.
TEST_F(ReadTest, RangePastTheEndAnsweredWithTheLastByteDeliversNothing) {
    ScriptedResponse r;
    r.status = 206;
    r.headers = {{"Content-Range", "bytes 99-99/*"}};
    r.body = "z";
    server.Enqueue(r);

    EXPECT_EQ(Read("/f", 100, 10), SUCCESS);

    EXPECT_TRUE(sink.blocks.empty());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=100-109");
}

// ---- Requests that are not sent ---------------------------------------------

TEST_F(ReadTest, NothingToReadSendsNothing) {
    char* message = nullptr;
    EXPECT_EQ(Read(nullptr, 0, 10, &message), SUCCESS);
    EXPECT_EQ(Read("", 0, 10, &message), SUCCESS);
    EXPECT_EQ(Read("/f", 0, 0, &message), SUCCESS);
    EXPECT_EQ(Read("/f", 0, -5, &message), SUCCESS);
    EXPECT_EQ(message, nullptr);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(sink.blocks.empty());
    EXPECT_FALSE(log.Has(0, "Read ["));
}

TEST_F(ReadTest, InvalidRangesAndMissingSinkAreRefused) {
    char* message = nullptr;
    EXPECT_EQ(Read("/f", -1, 10, &message), INVALID_PARAMETER);
    EXPECT_NE(Take(message), "(null)");
    EXPECT_EQ(Read("/f", INT64_MAX - 5, 10), INVALID_PARAMETER);
    EXPECT_EQ(protocol->Read("/f", 0, 10, handle, nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ReadTest, StoppedHandleReadsNothing) {
    handle->state = FS_HANDLE_STOP;
    EXPECT_EQ(Read("/f", 0, 10), READ_CANCELED);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(sink.blocks.empty());
    EXPECT_TRUE(log.Has(kErrorProtocol, "Read id: [/f] , exec error: [0]"));
}

// ---- The request ------------------------------------------------------------

TEST_F(ReadTest, OneByteRangeRequest) {
    std::string file = Pattern(2000);
    server.Enqueue(Partial(file, 1000, 1));
    char* message = nullptr;

    EXPECT_EQ(Read("/dir/a b.bin", 1000, 1, &message), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/dav/dir/a%20b.bin");
    EXPECT_EQ(requests[0].Header("Range"), "bytes=1000-1000");
    // Exactly one Accept-Encoding, asking for the bytes as stored.
    int encodings = 0;
    for (auto& h : requests[0].headers)
        if (strcasecmp(h.first.c_str(), "Accept-Encoding") == 0) ++encodings;
    EXPECT_EQ(encodings, 1);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "identity");
    EXPECT_TRUE(requests[0].body.empty());
    ExpectBlocks({{1000, 1}});
    EXPECT_EQ(sink.data(), file.substr(1000, 1));
    EXPECT_TRUE(log.Has(kTraceProtocol, "Read [/dir/a b.bin] offset 1000, length 1"));
    EXPECT_NE(Take(message).find("206"), std::string::npos);
}

TEST_F(ReadTest, TheNextRequestOnThePooledObjectIsUntouched) {
    std::string file = Pattern(5000);
    server.Enqueue(Partial(file, 0, 100));
    server.Respond(200, "plain");
    ASSERT_EQ(Read("/f", 0, 100), SUCCESS);

    // The pool lends the object just returned: its header callback is gone (the
    // headers reach the result again) and compressed answers are welcome again.
    std::shared_ptr<CURLLogger> request = cq.GetCURL();
    AutoPutCURL<CURLLogger> guard(request, &cq);
    request->SetRequest("PROPFIND");
    request->SetURL((server.url() + "/dav/").c_str());
    _CURLRTN result = request->PerformPost(std::string("<x/>"));
    EXPECT_EQ(result.code, 0);
    ASSERT_GT(result.headers_size, 0);
    EXPECT_NE(std::string(result.headers.get()).find("HTTP/1.1 200"), std::string::npos);
    ASSERT_EQ(server.Requests().size(), 2u);
    std::string encoding = server.Requests()[1].Header("Accept-Encoding");
    EXPECT_NE(encoding.find("gzip"), std::string::npos) << encoding;
}

// ---- Blocks -----------------------------------------------------------------

TEST_F(ReadTest, BlocksAreWholeStagingBuffersWhateverThePieceSizes) {
    std::string file = Pattern(300000);
    for (size_t piece : {7000u, 65536u, 100000u}) {
        ScriptedResponse r = Partial(file, 0, 100000);
        r.chunkSize = piece;
        server.Enqueue(r);
        sink = MemoryFetch();
        ASSERT_EQ(Read("/f", 0, 100000), SUCCESS) << piece;
        ExpectBlocks({{0, 65536}, {65536, 34464}});
        EXPECT_TRUE(sink.data() == file.substr(0, 100000)) << piece;
    }
}

TEST_F(ReadTest, BlocksCarryTheirFileOffsets) {
    std::string file = Pattern(400000);
    server.Enqueue(Partial(file, 123457, 150000));
    ASSERT_EQ(Read("/f", 123457, 150000), SUCCESS);
    ExpectBlocks({{123457, 65536}, {123457 + 65536, 65536}, {123457 + 131072, 18928}});
    EXPECT_TRUE(sink.data() == file.substr(123457, 150000));
}

TEST_F(ReadTest, AFullBlockIsDeliveredAloneAndOnlyOnce) {
    std::string file = Pattern(65536);
    ScriptedResponse r = Partial(file, 0, 65536);
    r.chunkSize = 1000;
    server.Enqueue(r);
    ASSERT_EQ(Read("/f", 0, 65536), SUCCESS);
    ExpectBlocks({{0, 65536}});
}

TEST_F(ReadTest, ShortAnswerDeliversEveryByteReceived) {
    std::string file = Pattern(170000);
    // End of file: asked 100,000 bytes from 100,000, the file has 70,000 more.
    server.Enqueue(Partial(file, 100000, 100000));
    char* message = nullptr;
    ASSERT_EQ(Read("/f", 100000, 100000, &message), SUCCESS);
    ExpectBlocks({{100000, 65536}, {165536, 4464}});
    EXPECT_TRUE(sink.data() == file.substr(100000));
    EXPECT_NE(Take(message).find("206"), std::string::npos);

    // Less than one block.
    server.Enqueue(Partial(file, 169000, 5000));
    sink = MemoryFetch();
    ASSERT_EQ(Read("/f", 169000, 5000), SUCCESS);
    ExpectBlocks({{169000, 1000}});
}

TEST_F(ReadTest, PartialAnswerLongerThanAskedIsCutAtTheRange) {
    std::string file = Pattern(200000);
    ScriptedResponse r = Partial(file, 0, 120000);  // the server sends 20,000 too many
    r.chunkSize = 30000;
    server.Enqueue(r);
    ASSERT_EQ(Read("/f", 0, 100000), SUCCESS);
    ExpectBlocks({{0, 65536}, {65536, 34464}});
    EXPECT_TRUE(sink.data() == file.substr(0, 100000));
}

// ---- Answers that ignored or bent the range ----------------------------------

TEST_F(ReadTest, WholeFileAnswerIsSkippedToTheRequestedOffset) {
    std::string file = Pattern(400000);
    ScriptedResponse r;
    r.status = 200;  // Range ignored: the whole file
    r.body = file;
    r.chunkSize = 50000;
    server.Enqueue(r);
    char* message = nullptr;

    ASSERT_EQ(Read("/f", 70000, 100000, &message), SUCCESS);

    ExpectBlocks({{70000, 65536}, {135536, 34464}});
    EXPECT_TRUE(sink.data() == file.substr(70000, 100000));
    EXPECT_EQ(Take(message), "200");
    EXPECT_FALSE(log.Has(kErrorProtocol, "Read id:"));
}

TEST_F(ReadTest, WholeFileAnswerAtOffsetZeroAndBeyondItsEnd) {
    std::string file = Pattern(90000);
    server.Respond(200, file);
    ASSERT_EQ(Read("/f", 0, 65536), SUCCESS);
    ExpectBlocks({{0, 65536}});
    EXPECT_TRUE(sink.data() == file.substr(0, 65536));

    // Asked past the end of a file the server sent whole: nothing to deliver.
    server.Respond(200, file);
    sink = MemoryFetch();
    ASSERT_EQ(Read("/f", 95000, 1000), SUCCESS);
    EXPECT_TRUE(sink.blocks.empty());
}

TEST_F(ReadTest, PartialAnswerStartingEarlierIsSkippedLaterIsRefused) {
    std::string file = Pattern(10000);
    ScriptedResponse early = Partial(file, 0, 3000);  // starts 1000 bytes before the range
    server.Enqueue(early);
    ASSERT_EQ(Read("/f", 1000, 2000), SUCCESS);
    ExpectBlocks({{1000, 2000}});
    EXPECT_TRUE(sink.data() == file.substr(1000, 2000));

    ScriptedResponse late = Partial(file, 1500, 1500);  // starts after the range begins
    server.Enqueue(late);
    sink = MemoryFetch();
    char* message = nullptr;
    EXPECT_EQ(Read("/f", 1000, 2000, &message), FILE_READ_FAILED);
    EXPECT_TRUE(sink.blocks.empty());
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Read id: [/f] , exec error: [206]"));
}

TEST_F(ReadTest, PartialAnswersThatAreNotTheBytesAskedForAreRefused) {
    std::string file = Pattern(10000);
    ScriptedResponse gz = Partial(file, 0, 100);
    gz.headers.push_back({"Content-Encoding", "gzip"});
    ScriptedResponse multi = Partial(file, 0, 100);
    multi.headers = {{"Content-Type", "multipart/byteranges; boundary=XYZ"}};
    ScriptedResponse unusable = Partial(file, 0, 100);
    unusable.headers = {{"Content-Range", "bytes */10000"}};
    for (auto& r : {gz, multi, unusable}) {
        server.Enqueue(r);
        sink = MemoryFetch();
        EXPECT_EQ(Read("/f", 0, 100), FILE_READ_FAILED);
        EXPECT_TRUE(sink.blocks.empty());
    }
    // libcurl itself may already refuse a body that is not the encoding it claims.
    EXPECT_EQ(log.Find(kErrorProtocol, "Read id: [/f] , exec error: [").size(), 3u);
    EXPECT_GE(log.Find(kErrorProtocol, "Read id: [/f] , exec error: [206]").size(), 2u);

    // Without Content-Range a single-part answer is taken as the range asked for.
    ScriptedResponse bare = Partial(file, 300, 100);
    bare.headers.clear();
    server.Enqueue(bare);
    sink = MemoryFetch();
    EXPECT_EQ(Read("/f", 300, 100), SUCCESS);
    EXPECT_TRUE(sink.data() == file.substr(300, 100));
}

TEST_F(ReadTest, RedirectBodyIsNotFileData) {
    std::string file = Pattern(5000);
    server.Respond(302, "<html>moved</html>", {{"Location", "/dav/other"}});
    server.Enqueue(Partial(file, 10, 100));
    ASSERT_EQ(Read("/f", 10, 100), SUCCESS);
    EXPECT_TRUE(sink.data() == file.substr(10, 100));
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/dav/other");
    EXPECT_EQ(requests[1].Header("Range"), "bytes=10-109");
}

// ---- Failures -----------------------------------------------------------------

TEST_F(ReadTest, ErrorAnswers) {
    server.Respond(416, "<html>range not satisfiable</html>");
    server.Respond(404, "<html>not here</html>");
    server.Respond(403, "<html>forbidden</html>");
    server.Respond(401, "<html>who are you</html>");
    char* message = nullptr;

    EXPECT_EQ(Read("/f", 100, 10, &message), FILE_READ_FAILED);
    EXPECT_NE(Take(message).find("416"), std::string::npos);
    EXPECT_EQ(Read("/f", 100, 10), FILE_READ_FAILED);
    EXPECT_EQ(Read("/f", 100, 10, &message), ACCESS_DENIED);
    EXPECT_NE(Take(message).find("403"), std::string::npos);
    EXPECT_EQ(Read("/f", 100, 10), ACCESS_DENIED);

    // An error page is never handed over as file data.
    EXPECT_TRUE(sink.blocks.empty());
    auto errors = log.Find(kErrorProtocol, "Read id:");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Read id: [/f] , exec error: [416]");
    EXPECT_EQ(errors[1], "Read id: [/f] , exec error: [404]");
}

TEST_F(ReadTest, NoServer) {
    Protocol dead((DeadURL() + "/dav").c_str(), nullptr);
    char* message = nullptr;
    EXPECT_EQ(dead.Read("/f", 0, 10, handle, &sink, &message), FILE_READ_FAILED);
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Read id: [/f] , exec error: [0]"));
}

TEST_F(ReadTest, ConnectionCutMidBodyFailsAfterDeliveringWholeBlocksOnly) {
    std::string file = Pattern(200000);
    ScriptedResponse r = Partial(file, 0, 200000);
    r.closeAfterBodyBytes = 100000;
    server.Enqueue(r);
    EXPECT_EQ(Read("/f", 0, 200000), FILE_READ_FAILED);
    ExpectBlocks({{0, 65536}});
    EXPECT_TRUE(log.Has(kErrorProtocol, "Read id: [/f] , exec error: [0]"));
}

// ---- Cancellation -------------------------------------------------------------

TEST_F(ReadTest, CancelFromInsideOnData) {
    std::string file = Pattern(300000);
    ScriptedResponse r = Partial(file, 0, 300000);
    r.chunkSize = 16384;
    server.Enqueue(r);
    sink.onData = [&](size_t count) {
        if (count == 2) handle->state = FS_HANDLE_STOP;
    };
    char* message = nullptr;

    EXPECT_EQ(Read("/f", 0, 300000, &message), READ_CANCELED);

    ExpectBlocks({{0, 65536}, {65536, 65536}});
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Read id: [/f] , exec error: [0]"));
}

TEST_F(ReadTest, CancelFromAnotherThreadWhileDataFlows) {
    std::string file = Pattern(32 * 65536);  // about 3 s to send: ample time to cancel
    ScriptedResponse r = Partial(file, 0, file.size());
    r.chunkSize = 65536;
    r.chunkDelayMs = 100;
    server.Enqueue(r);
    std::atomic<size_t> delivered{0};
    sink.onData = [&](size_t count) { delivered = count; };
    std::thread host([&] {
        while (delivered.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        handle->state = FS_HANDLE_STOP;
    });

    EXPECT_EQ(Read("/f", 0, file.size()), READ_CANCELED);
    host.join();

    ASSERT_FALSE(sink.blocks.empty());
    EXPECT_LT(sink.blocks.size(), 32u);
    for (size_t i = 0; i < sink.blocks.size(); ++i) EXPECT_EQ(sink.blocks[i].offset, 65536LL * i);
    EXPECT_TRUE(sink.data() == file.substr(0, sink.data().size()));
}

TEST_F(ReadTest, CancelWhileTheServerIsSilent) {
    // The answer would come after the transfer's stall limit; a cancel must not wait
    // for it.
    ScriptedResponse r = Partial(Pattern(100), 0, 100);
    r.delayMs = 60000;
    server.Enqueue(r);
    std::thread host([&] {
        server.WaitForRequests(1, 10000);
        handle->state = FS_HANDLE_STOP;
    });

    EXPECT_EQ(Read("/f", 0, 100), READ_CANCELED);
    host.join();
    EXPECT_TRUE(sink.blocks.empty());
}

TEST_F(ReadTest, ReadsWithoutAHandleAreNeverCanceled) {
    std::string file = Pattern(1000);
    server.Enqueue(Partial(file, 0, 1000));
    EXPECT_EQ(protocol->Read("/f", 0, 1000, nullptr, &sink, nullptr), SUCCESS);
    EXPECT_TRUE(sink.data() == file);
}

// ---- The callbacks on their own ------------------------------------------------

TEST(ReadCallbacks, WriteCallbackStagesAndStopsAtTheRange) {
    MemoryFetch sink;
    std::unique_ptr<Protocol::_RAWRITECTX> ctx(new Protocol::_RAWRITECTX());
    ctx->offset = 10;
    ctx->remaining = 70000;
    ctx->callback = &sink;
    std::string data = Pattern(80000);

    EXPECT_EQ(write_callback_cache_func(&data[0], 1, 60000, ctx.get()), 60000u);
    EXPECT_TRUE(sink.blocks.empty());
    EXPECT_EQ(ctx->fill, 60000);
    EXPECT_EQ(write_callback_cache_func(&data[60000], 1, 6000, ctx.get()), 6000u);
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(ctx->offset, 10 + 65536);
    EXPECT_EQ(ctx->remaining, 70000 - 65536);
    // The rest of the range plus bytes beyond it: the range is completed, then the
    // transfer is stopped.
    EXPECT_EQ(write_callback_cache_func(&data[66000], 1, 14000, ctx.get()), 0u);
    ASSERT_EQ(sink.blocks.size(), 2u);
    EXPECT_EQ(sink.blocks[1].offset, 10 + 65536);
    EXPECT_EQ(sink.blocks[1].length, 70000 - 65536);
    EXPECT_TRUE(ctx->complete);
    EXPECT_FALSE(ctx->canceled);
    EXPECT_TRUE(sink.data() == data.substr(0, 70000));
}

TEST(ReadCallbacks, HeaderCallbackFollowsEachAnswer) {
    std::unique_ptr<Protocol::_RAWRITECTX> ctx(new Protocol::_RAWRITECTX());
    auto feed = [&](std::string line) {
        return header_callback_range_func(&line[0], 1, line.size(), ctx.get());
    };
    EXPECT_EQ(feed("HTTP/1.1 206 Partial Content\r\n"), 30u);
    feed("content-range: bytes 42-99/100\r\n");
    feed("Content-Encoding: identity\r\n");
    EXPECT_EQ(ctx->status, 206);
    EXPECT_EQ(ctx->rangeStart, 42);
    EXPECT_FALSE(ctx->encoded);
    feed("Content-Encoding: br\r\n");
    EXPECT_TRUE(ctx->encoded);
    feed("Content-Type: multipart/byteranges; boundary=a\r\n");
    EXPECT_TRUE(ctx->multipart);
    // A new answer forgets what the last one said.
    feed("HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(ctx->status, 200);
    EXPECT_EQ(ctx->rangeStart, -1);
    EXPECT_FALSE(ctx->encoded);
    EXPECT_FALSE(ctx->multipart);
    feed("Content-Range: bytes x-1/2\r\n");
    EXPECT_EQ(ctx->rangeStart, -2);
}

}  // namespace
