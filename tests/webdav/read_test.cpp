// Ranged reads: the GET on the wire, the blocks the host receives for each
// shape of answer, and stops.

#include <thread>

#include "support/dataops_fixture.h"

namespace {

const std::string kFile = Pattern(400000);

// Bytes first..last of the file in pieces of `piece` bytes: a 206 with their Content-Range
// (or the header given), or with status 200 (the whole file) without it.
ScriptedResponse Bytes(long long first, long long last, size_t piece = 0, int status = 206,
                       std::vector<std::pair<std::string, std::string>> headers = {}) {
    std::string range = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/400000";
    if (status == 206 && headers.empty()) headers = {{"Content-Range", range}};
    ScriptedResponse r = Answer(status, kFile.substr(first, last - first + 1), headers);
    r.chunkSize = piece;
    return r;
}

using ReadTest = DataOpsTest;

TEST_F(ReadTest, AnswerShapes) {
    ScriptedResponse cut = Bytes(0, 199999), silent = Bytes(0, 99);
    cut.closeAfterBodyBytes = 100000;
    silent.delayMs = 60000;
    const ScriptedResponse whole = Bytes(0, 399999, 50000, 200),
                           moved = Bytes(0, 9, 0, 302, {{"Location", "/dav/b"}}),
                           before = Bytes(99, 99, 0, 206, {{"Content-Range", "bytes 99-99/*"}}),
                           unusable = Bytes(0, 99, 0, 206, {{"Content-Range", "bytes */400000"}}),
                           multipart =
                               Bytes(0, 99, 0, 206, {{"Content-Type", "multipart/byteranges"}}),
                           zipped = Bytes(0, 99, 0, 206,
                                          {{"Content-Encoding", "gzip"},
                                           {"Content-Range", "bytes 0-99/400000"}});
    const AERROR kFailed = FILE_READ_FAILED, kCanceled = READ_CANCELED;
    // the answers, the range asked for, how the host stops it ('x': before, 'o': in the
    // second OnData, 's': while the server is silent, 't': its first OnData throws; 'p': no
    // path); the result and the blocks it receives (offset+length)
    using Row =
        std::tuple<std::vector<ScriptedResponse>, long long, long long, char, AERROR, std::string>;
    // clang-format off
    const Row rows[] = {
        {{Bytes(0, 99999, 7000)}, 0, 100000, 0, SUCCESS, "0+65536 65536+34464 "},  // small pieces
        {{Bytes(0, 65535, 1000)}, 0, 65536, 0, SUCCESS, "0+65536 "},
        {{Bytes(350000, 399999)}, 350000, 100000, 0, SUCCESS, "350000+50000 "},  // the file ends
        {{Bytes(0, 119999, 30000)}, 0, 100000, 0, SUCCESS, "0+65536 65536+34464 "},  // overlong
        {{whole}, 0, 65536, 0, SUCCESS, "0+65536 "},  // a Range ignored: skipped to the offset
        {{whole}, 70000, 100000, 0, SUCCESS, "70000+65536 135536+34464 "},
        {{Bytes(0, 2999)}, 1000, 2000, 0, SUCCESS, "1000+2000 "},
        {{Bytes(300, 399, 0, 206, {{"Content-Type", "text/plain"}})}, 300, 100, 0, SUCCESS,
         "300+100 "},  // no Content-Range
        {{before}, 100, 10, 0, SUCCESS, ""},  // a server's answer to a range past the end
        // short answers while the file goes on: the rest is asked for, in the same blocks
        {{Bytes(0, 65535), Bytes(65536, 131071), Bytes(131072, 199999)}, 0, 200000, 0, SUCCESS,
         "0+65536 65536+65536 131072+65536 196608+3392 "},
        {{Bytes(0, 99, 0, 206, {{"Content-Range", "bytes 0-99/*"}}), Answer(416)}, 0, 200, 0,
         SUCCESS, "0+100 "},  // the size unknown: a 416 tells the end
        {{moved, Bytes(10, 109)}, 10, 100, 0, SUCCESS, "10+100 "},  // a redirect's page: no data
        // not the bytes asked for
        {{Bytes(1500, 2999)}, 1000, 2000, 0, kFailed, ""},
        {{zipped}, 0, 100, 0, kFailed, ""}, {{multipart}, 0, 100, 0, kFailed, ""},
        {{unusable}, 0, 100, 0, kFailed, ""}, {{cut}, 0, 200000, 0, kFailed, "0+65536 "},
        // nothing to read; stops
        {{}, 0, 10, 'p', SUCCESS, ""}, {{}, 0, 0, 0, SUCCESS, ""}, {{}, 0, 10, 'x', kCanceled, ""},
        {{Bytes(0, 299999, 16384)}, 0, 300000, 'o', kCanceled, "0+65536 65536+65536 "},
        {{silent}, 0, 100, 's', kCanceled, ""},
        {{Bytes(0, 99999)}, 0, 100000, 't', kFailed, "0+65536 "},
    };
    // clang-format on
    for (auto& [answers, offset, length, stop, result, blocks] : rows) {
        SCOPED_TRACE(blocks);
        size_t first = server.Requests().size();
        for (auto& a : answers) server.Enqueue(a);
        auto handle = std::make_shared<_FS_HANDLE>();
        handle->state = stop == 'x' ? FS_HANDLE_STOP : 0;
        MemoryFetch sink;
        sink.onData = [&](size_t count) {
            if (stop == 't') throw std::runtime_error("disk full");
            handle->state = stop == 'o' && count == 2 ? 4 : 0;
        };
        std::thread host([&] {
            if (stop == 's' && server.WaitForRequests(first + 1, 10000))
                handle->state = FS_HANDLE_STOP;
        });
        EXPECT_EQ(
            protocol->Read(stop == 'p' ? nullptr : "/a b", offset, length, handle, &sink, nullptr),
            result);
        host.join();
        std::string delivered;
        for (auto& b : sink.blocks)
            delivered += std::to_string(b.offset) + "+" + std::to_string(b.length) + " ";
        EXPECT_EQ(delivered, blocks);
        EXPECT_TRUE(sink.blocks.empty() ||
                    sink.data() == kFile.substr(sink.blocks[0].offset, sink.data().size()));
        std::string expected;  // the redirected request keeps the range, the next one goes on
        for (size_t i = 0, from = offset; i < answers.size(); ++i) {
            expected +=
                std::string(i && answers[i - 1].status != 206 ? " GET /dav/b" : " GET /dav/a%20b") +
                " Range=bytes=" + std::to_string(from) + "-" + std::to_string(offset + length - 1) +
                " Accept-Encoding=identity;";
            from += answers[i].status == 206 ? answers[i].body.size() : 0;
        }
        EXPECT_EQ(Wire(server.Requests(), first, {"Range", "Accept-Encoding"}), expected);
    }
}

// The block that completes the range goes to the host at once, not when the transfer ends.
TEST(ReadCallback, TheLastBlockOfTheRangeGoesOutAtOnce) {
    MemoryFetch sink;
    std::unique_ptr<Protocol::_RAWRITECTX> context(new Protocol::_RAWRITECTX());
    std::tie(context->remaining, context->callback, context->judged, context->deliver) =
        std::make_tuple(70000, &sink, true, true);
    std::string data = kFile.substr(0, 70000);
    EXPECT_EQ(write_callback_cache_func(&data[0], 1, data.size(), context.get()), data.size());
    EXPECT_EQ(sink.blocks.size(), 2u);
}

}  // namespace
