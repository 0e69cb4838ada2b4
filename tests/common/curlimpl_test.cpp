// The request object and its logging subclass: the wire, the record and the host's log.
#include "common/curlimpl.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "common/curllogger.h"
#include "common/curlqueue.h"
#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"

enum How { Get, ToCallback, Post, PostQuery, Sized };
constexpr int Creds = 1, Listing = 2, Limited = 4, Upload = 8, Query = 16, ClearFirst = 32,
              Slow = 64, NoCurl = 128;

struct Handleless : CURLLogger {
    Handleless() : CURLLogger(NoHandle{}) {}
};

// What the callbacks of one request saw; progress: the last report, "+" if one was short.
struct Seen {
    std::string body, received{}, tapped{}, progress{};
    bool hostThrows = false;  // the host's progress function throws
    size_t largest = 0;
    _BUFREADCTX cursor{body.data(), 0, static_cast<int64_t>(body.size())};
    std::shared_ptr<_FS_HANDLE> handle = std::make_shared<_FS_HANDLE>();
};

size_t Collect(char* data, size_t size, size_t count, void* seen) {
    auto* s = static_cast<Seen*>(seen);
    s->largest = std::max(s->largest, size * count);
    return s->received.append(data, size * count), size * count;
}
bool Tap(long, const char* data, size_t size, void* seen) {
    return static_cast<Seen*>(seen)->tapped.append(data, size), true;
}
void Progress(long total, long sent, void* seen, double) {
    if (static_cast<Seen*>(seen)->hostThrows) throw std::runtime_error("host failure");
    std::string& last = static_cast<Seen*>(seen)->progress;
    bool waiting = sent < total || (!last.empty() && last.back() == '+');
    last = std::to_string(total) + "/" + std::to_string(sent) + (waiting ? "+" : "");
}
int Seek(void* cursor, curl_off_t offset, int origin) {
    return read_callback_buf_seek_func(cursor, offset, origin);
}
std::string Text(const std::shared_ptr<char>& block, int32_t size) {
    return block ? std::string(block.get(), static_cast<size_t>(size)) : "";
}

// Describes a request as the protocol's operations do, with the mount's credentials: a listing
// with a tap, a ranged read under a speed limit (libcurl reads up to 101 pieces in a burst), an
// upload with progress and rewind; then performs it the way `how` says.
_CURLRTN Perform(CURLLogger& r, const std::string& url, How how, int flags, Seen& s) {
    if (flags & ClearFirst) r.SetSeekFunction(&Seek, &s.cursor), r.Clear();
    curl_easy_setopt(r.GetCURL(), CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    if (flags & Creds) curl_easy_setopt(r.GetCURL(), CURLOPT_USERPWD, "user:secret");
    r.SetURL(url.c_str());
    const char* methods[] = {"DELETE", "", "PUT", "PUT", "PUT"};  // by how
    r.SetRequest(flags & Listing ? "PROPFIND" : flags & Query ? "" : methods[how]);
    if (flags & Listing) r.AddHeader("Depth", "0"), r.AddHeader("depth", "1");
    if (flags & Listing) r.AddHeader("Depth", "1"), r.SetBodyTap(&Tap, &s);  // replaces "Depth"
    if (flags & (Query | Listing)) r.AddQuery("q", std::string("a b"));
    if (flags & Limited) r.AddHeader("Range", "bytes=0-"), r.SetSpeedLimit(1 << 20);
    if (flags & Slow) r.SetSpeedLimit(64 << 20), r.SetLowSpeedTimeout(1);
    if (flags & Upload) {  // an empty value suppresses libcurl's own header
        s.handle->progressFn = &Progress, s.handle->progressContext = &s;
        r.BindHandle(s.handle), r.AddHeader("Content-Type", ""), r.SetPostFileSize(s.cursor.size);
        r.SetSendBuffer(), r.SetSeekFunction(&Seek, &s.cursor);
    }
    void* read = reinterpret_cast<void*>(&read_callback_buf_func);
    return how == Get          ? r.PerformGet(nullptr, nullptr)
           : how == ToCallback ? r.PerformGet(reinterpret_cast<void*>(&Collect), &s)
           : how == Post       ? r.PerformPost(s.body)
           : how == PostQuery  ? r.PerformPost(nullptr, nullptr, -1)
                               : r.PerformPost(read, &s.cursor, s.cursor.size);
}

// Per request: method, target, body and the number of headers, libcurl's defaults included.
std::string Wire(const std::vector<RecordedRequest>& requests, size_t from = 0) {
    std::string wire;
    for (auto r = requests.begin() + from; r < requests.end(); ++r) {
        EXPECT_EQ(r->Header("User-Agent"), "Tessaryn(gzip)");
        wire += r->method + ' ' + r->target + ' ' + r->body + ' ' +
                std::to_string(r->headers.size()) + '|';
    }
    return wire;
}

// One row per request shape and per answer; each runs on a fresh object, then those that
// succeed run in several orders on one pooled object, which must give the same every time.
TEST(CURLImplWire, EachShapeGivesItsWireRecordAndLogFreshOrPooled) {
    ScriptedResponse no{401, "", {{"WWW-Authenticate", "Basic"}}, "refused", true, ""};
    ScriptedResponse listed{207, "", {{"Transfer-Encoding", "chunked"}}, "<m/>", true, ""};
    ScriptedResponse ok{200, "", {}, "<b/>.", true, ""},
        big{206, "", {}, std::string(300000, 'r'), true, ""};
    ScriptedResponse stall{200, "", {}, "late", true, ""};
    stall.delayMs = 120000;  // ended when the server stops
    const std::string list = "PROPFIND /%66?q=a%20b body ", put = "PUT /%66 body ";
    // Script, how, flags; then the code, the wire and the statuses of the header blocks.
    std::tuple<std::vector<ScriptedResponse>, How, int, CURLcode, std::string, std::string> rows[] =
        {{{no, listed}, Post, Creds | Listing, CURLE_OK, list + "8|" + list + "9|", "401 207 "},
         {{ok}, Get, 0, CURLE_OK, "DELETE /%66  4|", ""},
         {{big}, ToCallback, Limited, CURLE_OK, "GET /%66  5|", ""},
         {{no, ok}, Sized, Creds | Upload, CURLE_OK, put + "5|" + put + "6|", "401 200 "},
         {{no}, Sized, Creds | ClearFirst, CURLE_SEND_FAIL_REWIND, put + "6|", ""},
         {{stall}, Get, Slow, CURLE_OPERATION_TIMEDOUT, "DELETE /%66  4|", ""},
         {{}, Get, NoCurl, CURLE_FAILED_INIT, "", ""}};
    ScriptedServer shared;
    RecordingLogger rec;
    logger.store(&rec);
    CURLQueue<CURLLogger> pool(0), spent(0);
    for (int pass = 0, n = std::size(rows); pass < 4; ++pass) {
        for (int i = 0; i < n; ++i) {
            int row = pass % 2 ? n - 1 - i : (i * 5 + pass) % n;  // orders of the rows
            auto& [script, how, flags, code, wire, heads] = rows[row];
            if (pass > 0 && code != CURLE_OK) continue;
            SCOPED_TRACE("pass " + std::to_string(pass) + ", row " + std::to_string(row));
            auto server = pass ? nullptr : std::make_unique<ScriptedServer>();
            ScriptedServer& s = server ? *server : shared;
            size_t before = s.Requests().size();
            for (auto& answer : script) s.Enqueue(answer);
            std::string url = s.url() + "/%66", answer = code ? "" : script.back().body;
            std::shared_ptr<CURLLogger> request(flags & NoCurl ? new Handleless : new CURLLogger);
            if (pass) request = pool.GetCURL();
            AutoPutCURL<CURLLogger> guard(request, pass ? &pool : &spent);
            Seen seen{"body"};
            rec.Clear();
            rec.mask = pass % 2 ? 0x7ffffffe : 0x7fffffff;  // the host's trace off, or on
            _CURLRTN r = Perform(*request, url, how, flags, seen);
            std::string body = how == ToCallback ? seen.received : Text(r.body, r.body_size);
            std::string headers = Text(r.headers, r.headers ? r.headers_size + 1 : 0), blocks;
            for (size_t at = 0; (at = headers.find("HTTP/1.1 ", at)) != std::string::npos; at += 9)
                blocks += headers.substr(at + 9, 4);
            EXPECT_EQ(r.code, code) << r.message;
            EXPECT_EQ(r.message.empty(), code == CURLE_OK || (flags & NoCurl)) << r.message;
            EXPECT_EQ(r.http_status, code ? 0 : script.back().status);
            EXPECT_EQ(Wire(s.Requests(), before), wire);
            EXPECT_EQ(body + std::to_string(r.body == nullptr),
                      answer + std::to_string(how == ToCallback || answer.empty()));
            EXPECT_EQ(seen.tapped, flags & Listing ? answer : "");  // the final body only
            EXPECT_EQ(seen.progress, flags & Upload ? "4/4+" : "");
            EXPECT_EQ(seen.largest > 0 && seen.largest <= (1 << 20) / 101, (flags & Limited) != 0);
            // Every response's header block, whole, then a NUL.
            EXPECT_EQ(blocks + (headers.empty() ? "" : headers.substr(headers.size() - 5)),
                      heads + (heads.empty() ? "" : std::string("\r\n\r\n", 5)));
            // A throughput line (two for a string post: its cursor form runs inside it) with the
            // bytes sent as given and received, speeds left out; the other lines are the trace.
            std::string n = " / " + std::to_string(r.body_size) + " bytes)\n", up = "U" + url + "(";
            const std::string expected[] = {"D" + url + "(" + n.substr(3),
                                            up + "-1" + n + up + "4" + n, up + "-1" + n,
                                            up + "4" + n};
            std::string lines, trace;
            for (auto& l : rec.Lines())
                (l.level == (LOG_TRACE | LOG_TRANSFER) ? lines : trace) +=
                    l.text[0] + l.text.substr(l.text.find(" : ") + 3) + "\n";
            EXPECT_EQ(lines, expected[how < Post ? 0 : how - Post + 1]);
            EXPECT_EQ(trace.empty(), pass % 2 || (flags & NoCurl));
            EXPECT_EQ(request->GetLastURL(), s.url() + (flags & Listing ? "/f?q=a b" : "/f"));
        }
    }
    logger.store(nullptr);
    EXPECT_EQ(shared.ConnectionCount(), 1);  // one pooled object, with its connection
}

// One object performing several requests without Clear() in between, as an operation that
// stats after a change does: each sends its own body only, and reads its answer only.
TEST(CURLImplWire, SuccessivePerformsDoNotInheritEachOthersBodyNorCallbacksLeaveTheirs) {
    ScriptedServer server;
    for (const char* answer : {"1", "2", "3"}) server.Respond(200, answer);
    server.Respond(401, "", {{"WWW-Authenticate", "Basic"}});
    CURLLogger request;
    std::string results;
    for (How how : {PostQuery, Get, Post, Sized}) {
        Seen seen{"body"};
        _CURLRTN result = Perform(request, server.url() + "/f", how, Query | Creds, seen);
        results += Text(result.body, result.body_size) + std::to_string(result.code) + " ";
    }
    EXPECT_EQ(results, "10 20 30 65 ");  // the last body is not rewound with an old cursor
    EXPECT_EQ(Wire(server.Requests()),
              "POST /f q=a%20b 6|GET /f?q=a%20b  4|POST /f?q=a%20b body 6|POST /f?q=a%20b body 6|");
    // The read cursor stays within its body; progress reports need a function to go to.
    _BUFREADCTX cursor{"0123456789", 0, 10};
    std::string out(4, ' ');
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, -3, SEEK_END), CURL_SEEKFUNC_OK);
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, -8, SEEK_CUR), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(out.substr(0, read_callback_buf_func(&out[0], 1, 4, &cursor)), "789");
    CURLImpl::ProgressBinding unbound;
    unbound.handle = reinterpret_cast<void*>(0x1);  // must not be queried
    EXPECT_EQ(_CURL_PROGRESS(&unbound, 0, 0, 10, 5) + _CURL_PROGRESS(nullptr, 0, 0, 10, 5), 0);
}

// Redirected bodies reach the new place whole, whatever the status; an answer past the limit,
// a header line libcurl refuses and a host callback that throws each end the transfer with a
// message instead of a truncated success or an exception through libcurl.
TEST(CURLImplFaults, RedirectsKeepTheBodyAndBadAnswersEndWithAMessage) {
    for (int status : {301, 302, 303, 307, 308}) {
        for (How how : {Post, Sized}) {
            ScriptedServer server;
            server.Respond(status, "", {{"Location", server.url() + "/g"}});
            server.Respond(201, "done");
            CURLLogger request;
            Seen seen{"body"};
            _CURLRTN r =
                Perform(request, server.url() + "/f", how, how == Sized ? Upload : 0, seen);
            std::vector<RecordedRequest> sent = server.Requests();
            ASSERT_EQ(sent.size(), 2u) << status;
            EXPECT_EQ(sent[1].method + sent[1].target + sent[1].body, "PUT/gbody") << status;
            EXPECT_EQ(r.http_status, 201) << status;
        }
    }
    ScriptedServer server;
    server.Respond(200, std::string(5000, 'x'));
    server.Respond(200, "x", {{"X-Long", std::string(1 << 20, 'a')}});
    server.Respond(401, "", {{"WWW-Authenticate", "Basic"}});
    CURLLogger request;
    request.SetAnswerLimit(1000);
    Seen seen{"body"};
    _CURLRTN r = Perform(request, server.url() + "/f", Get, 0, seen);
    EXPECT_EQ(r.code, CURLE_FILESIZE_EXCEEDED);
    EXPECT_NE(r.message.find("limit of 1000 bytes"), std::string::npos) << r.message;
    request.Clear();
    for (int flags : {0, Upload | Creds}) {
        seen.hostThrows = flags != 0;
        r = Perform(request, server.url() + "/f", flags ? Sized : Get, flags, seen);
        EXPECT_NE(r.code, CURLE_OK);
        EXPECT_FALSE(r.message.empty());
    }
}

TEST(CURLImplResult, AnswersThatDoNotFitTheRecordFail) {
    const long long max = INT32_MAX, rows[] = {10, 50, max + 9, 9, max + 9, 8, max + 6, max + 1};
    std::string kept;  // for bytes collected with header bytes among them: the sizes kept
    for (size_t i = 0; i < std::size(rows); i += 2) {
        int32_t h = -1, b = -1, code = fit_response_sizes(rows[i], rows[i + 1], h, b);
        kept += std::to_string(code) + ":" + std::to_string(h) + "/" + std::to_string(b) + " ";
    }
    EXPECT_EQ(kept, "0:10/0 0:9/2147483647 63:0/0 63:0/0 ");
}
