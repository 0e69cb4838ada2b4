// The request object against the scripted server: what goes on the wire for a
// description, and what comes back in the result record.
#include "common/curlimpl.h"

#include <event2/buffer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/callbacks.h"
#include "common/curllogger.h"
#include "support/scripted_server.h"

namespace {

std::vector<std::string> ListLines(curl_slist* list) {
    std::vector<std::string> lines;
    for (curl_slist* item = list; item; item = item->next) lines.push_back(item->data);
    return lines;
}

std::vector<std::string> HeaderNames(const RecordedRequest& request) {
    std::vector<std::string> names;
    for (auto& h : request.headers) names.push_back(h.first);
    return names;
}

std::string Text(const std::shared_ptr<char>& block, int32_t size) {
    return block ? std::string(block.get(), static_cast<size_t>(size)) : std::string();
}

// A request object whose easy handle could not be created.
class Handleless : public CURLLogger {
public:
    Handleless() : CURLLogger(NoHandle{}) {}
};

TEST(CURLImplText, QueryStringsAndHeaderLists) {
    CURLLogger request;
    EXPECT_EQ(request.BuildQueryString(true), "");
    EXPECT_EQ(request.BuildHeader(), nullptr);

    request.AddQuery("a", std::string("x y"));
    request.AddQuery("b", std::string("1/2"));
    std::string escaped = request.BuildQueryString(true);
    std::string plain = request.BuildQueryString(false);
    EXPECT_TRUE(escaped == "a=x%20y&b=1%2F2" || escaped == "b=1%2F2&a=x%20y") << escaped;
    EXPECT_EQ(plain, escaped[0] == 'a' ? "a=x y&b=1/2" : "b=1/2&a=x y");

    CURLLogger named;
    named.AddQuery("my name", std::string("~-._"));
    EXPECT_EQ(named.BuildQueryString(true), "my name=~-._");

    CURLLogger headers;
    headers.AddHeader("Depth", "1");
    headers.AddHeader("Depth", std::string("0"));
    headers.AddHeader("depth", 1);
    headers.AddHeader("Expect", "");
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> list(headers.BuildHeader(),
                                                            curl_slist_free_all);
    auto lines = ListLines(list.get());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"Depth: 0", "Expect: ", "depth: 1"}));

    // Absent text is no text, never a crash, and never a suppressed header.
    const char* none = nullptr;
    headers.AddHeader("Depth", none);
    headers.AddHeader("X-None", none);
    EXPECT_EQ(headers.GetHeader().size(), 3u);
    EXPECT_EQ(headers.GetHeader()["Depth"], "0");
    request.SetURL(nullptr);
    request.SetRequest(nullptr);
    EXPECT_EQ(request.GetURL(), "");
    EXPECT_EQ(request.GetRequest(), "");
    EXPECT_EQ(request.Escape(nullptr), "");
    EXPECT_EQ(request.Unescape(nullptr), "");

    EXPECT_EQ(request.Escape("a b/ü"), "a%20b%2F%C3%BC");
    EXPECT_EQ(request.Unescape("a%20b%00tail"), "a b");
}

TEST(CURLImplWire, BlankObjectSendsOnlyLibcurlDefaults) {
    ScriptedServer server;
    server.Respond(200, "hello");
    CURLLogger request;
    request.SetURL((server.url() + "/plain/path").c_str());
    _CURLRTN result = request.PerformGet(nullptr, nullptr);
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(result.http_status, 200);
    EXPECT_EQ(Text(result.body, result.body_size), "hello");
    EXPECT_EQ(result.headers, nullptr);
    EXPECT_EQ(result.message, "");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/plain/path");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(HeaderNames(requests[0]),
              (std::vector<std::string>{"Host", "User-Agent", "Accept", "Accept-Encoding"}));
    EXPECT_EQ(requests[0].Header("User-Agent"), "Tessaryn(gzip)");
    EXPECT_EQ(requests[0].body, "");
}

TEST(CURLImplWire, HeaderMapReplacesKeepsExactNamesAndSuppresses) {
    ScriptedServer server;
    server.Respond(207, "<d:multistatus/>");
    CURLLogger request;
    request.SetURL(server.url().c_str());
    request.SetRequest("PROPFIND");
    request.AddHeader("Depth", "1");
    request.AddHeader("Depth", "0");
    request.AddHeader("X-Case", "upper");
    request.AddHeader("x-case", "lower");
    request.AddHeader("Accept", "");  // libcurl's own "Accept: */*" must go
    request.AddHeader("Content-Type", "text/xml");
    _CURLRTN result = request.PerformPost(std::string("<propfind/>"));
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(result.http_status, 207);

    auto sent = server.Requests().at(0);
    EXPECT_EQ(sent.method, "PROPFIND");
    EXPECT_EQ(sent.body, "<propfind/>");
    int depth = 0;
    std::vector<std::string> cases;
    for (auto& h : sent.headers) {
        if (h.first == "Depth") {
            ++depth;
            EXPECT_EQ(h.second, "0");
        }
        if (h.first == "X-Case" || h.first == "x-case") cases.push_back(h.first + "=" + h.second);
    }
    EXPECT_EQ(depth, 1);
    std::sort(cases.begin(), cases.end());
    EXPECT_EQ(cases, (std::vector<std::string>{"X-Case=upper", "x-case=lower"}));
    EXPECT_FALSE(sent.HasHeader("Accept"));
    EXPECT_EQ(sent.Header("Content-Type"), "text/xml");
    EXPECT_EQ(sent.Header("Content-Length"), "11");
}

TEST(CURLImplWire, QueryJoinsAnExistingQueryOrStartsOne) {
    ScriptedServer server;
    server.Respond(200);
    server.Respond(200);
    server.Respond(204);
    CURLLogger with;
    with.SetURL((server.url() + "/p?x=1").c_str());
    with.AddQuery("y", std::string("2"));
    EXPECT_EQ(with.PerformGet(nullptr, nullptr).code, CURLE_OK);
    CURLLogger without;
    without.SetURL((server.url() + "/p").c_str());
    without.AddQuery("y", std::string("a b"));
    EXPECT_EQ(without.PerformGet(nullptr, nullptr).code, CURLE_OK);
    EXPECT_EQ(without.GetLastURL(), server.url() + "/p?y=a b");
    CURLLogger remove;
    remove.SetURL((server.url() + "/gone").c_str());
    remove.SetRequest("DELETE");
    _CURLRTN result = remove.PerformGet(nullptr, nullptr);
    EXPECT_EQ(result.http_status, 204);
    EXPECT_EQ(result.body, nullptr);
    EXPECT_EQ(result.body_size, 0);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/p?x=1&y=2");
    EXPECT_EQ(requests[1].target, "/p?y=a%20b");
    EXPECT_EQ(requests[2].method, "DELETE");
    EXPECT_FALSE(requests[2].HasHeader("Content-Length"));
}

TEST(CURLImplWire, QueryBecomesTheBodyWithoutReadCallback) {
    ScriptedServer server;
    server.Respond(200, "ok");
    CURLLogger request;
    request.SetURL((server.url() + "/form").c_str());
    request.AddQuery("a", std::string("b c"));
    _CURLRTN result = request.PerformPost(nullptr, nullptr, -1);
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    auto sent = server.Requests().at(0);
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, "/form");
    EXPECT_EQ(sent.body, "a=b%20c");
    EXPECT_EQ(sent.Header("Content-Length"), "7");
}

// The server first refuses, so libcurl must rewind the body and send it again.
void ScriptAuthenticationRetry(ScriptedServer& server) {
    server.Respond(401, "denied", {{"WWW-Authenticate", "Basic realm=\"dav\""}});
    server.Respond(201, "done");
}

void ExpectBodySentTwice(ScriptedServer& server, const std::string& body, const _CURLRTN& result) {
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(result.http_status, 201);
    EXPECT_EQ(Text(result.body, result.body_size), "done");
    std::string headers(result.headers.get());
    EXPECT_EQ(headers.size(), static_cast<size_t>(result.headers_size));
    EXPECT_EQ(headers.find("HTTP/1.1 401"), 0u) << headers;
    EXPECT_NE(headers.find("HTTP/1.1 201"), std::string::npos);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    EXPECT_EQ(requests[1].Header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");  // user:secret
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[1].body, body);
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_TRUE(server.Failures().empty());
}

void UseBasicCredentials(CURLImpl& request) {
    curl_easy_setopt(request.GetCURL(), CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    curl_easy_setopt(request.GetCURL(), CURLOPT_USERNAME, "user");
    curl_easy_setopt(request.GetCURL(), CURLOPT_PASSWORD, "secret");
}

TEST(CURLImplWire, StringPostIsRewoundForAnAuthenticationRetry) {
    ScriptedServer server;
    ScriptAuthenticationRetry(server);
    CURLLogger request;
    UseBasicCredentials(request);
    request.SetURL((server.url() + "/file").c_str());
    request.SetRequest("PUT");
    std::string body(3000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    ExpectBodySentTwice(server, body, request.PerformPost(body));
}

TEST(CURLImplWire, CallerCursorIsRewoundForAnAuthenticationRetry) {
    ScriptedServer server;
    ScriptAuthenticationRetry(server);
    CURLLogger request;
    UseBasicCredentials(request);
    request.SetURL((server.url() + "/file").c_str());
    request.SetRequest("PUT");
    std::string body = "caller's own body bytes";
    _BUFREADCTX cursor;
    cursor.data = body.data();
    cursor.size = static_cast<int64_t>(body.size());
    _CURLRTN result =
        request.PerformPost(reinterpret_cast<void*>(&read_callback_buf_func), &cursor, -1);
    ExpectBodySentTwice(server, body, result);
}

int SeekCursor(void* cursor, curl_off_t offset, int origin) {
    return read_callback_buf_seek_func(cursor, offset, origin);
}

// A caller that announces the size itself brings its own rewind; Clear() forgets it,
// so a later borrower's body can never be rewound through this caller's cursor.
TEST(CURLImplWire, CallersSeekFunctionRewindsASizedBodyUntilClear) {
    ScriptedServer server;
    ScriptAuthenticationRetry(server);
    server.Respond(401, "denied", {{"WWW-Authenticate", "Basic realm=\"dav\""}});
    CURLLogger request;
    std::string body = "sized body, rewound by the caller";
    _BUFREADCTX cursor;
    cursor.data = body.data();
    cursor.size = static_cast<int64_t>(body.size());
    auto put = [&] {
        UseBasicCredentials(request);
        request.SetURL((server.url() + "/file").c_str());
        request.SetRequest("PUT");
        cursor.pos = 0;
        return request.PerformPost(reinterpret_cast<void*>(&read_callback_buf_func), &cursor,
                                   static_cast<long long>(body.size()));
    };

    request.SetSeekFunction(&SeekCursor, &cursor);
    ExpectBodySentTwice(server, body, put());

    request.Clear();
    EXPECT_EQ(put().code, CURLE_SEND_FAIL_REWIND);
}

TEST(CURLImplWire, PostSplitsHeadersFromBody) {
    ScriptedServer server;
    // Three lines and the blank line: 17 + 21 + 40 + 2 = 80 header bytes.
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 500\r\nX-Pad: " + std::string(31, 'p') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 80u);
    std::string body(500, 'b');
    body[0] = '<';
    body[499] = '>';
    ScriptedResponse split;
    split.raw = head + body;
    server.Enqueue(split);
    server.Respond(204);

    CURLLogger request;
    request.SetURL(server.url().c_str());
    _CURLRTN result = request.PerformPost(std::string(120, 'x'));
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(result.headers_size, 80);
    EXPECT_EQ(std::string(result.headers.get(), 81), head + std::string(1, '\0'));
    EXPECT_EQ(result.body_size, 500);
    EXPECT_EQ(Text(result.body, result.body_size), body);

    // Only headers: no body block, headers kept.
    _CURLRTN empty = request.PerformPost(std::string("x"));
    ASSERT_EQ(empty.code, CURLE_OK);
    EXPECT_EQ(empty.http_status, 204);
    EXPECT_EQ(empty.body, nullptr);
    EXPECT_EQ(empty.body_size, 0);
    ASSERT_NE(empty.headers, nullptr);
    EXPECT_EQ(std::string(empty.headers.get()).find("HTTP/1.1 204"), 0u);
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

TEST(CURLImplWire, BodiesGoToTheCallersCallbackOrToMemory) {
    ScriptedServer server;
    ScriptedResponse paced;
    paced.body = std::string(100000, 'z');
    paced.headers = {{"Transfer-Encoding", "chunked"}};
    paced.chunkSize = 16384;
    paced.chunkDelayMs = 2;
    server.Enqueue(paced);
    server.Enqueue(paced);
    server.Respond(200);

    CURLLogger request;
    request.SetURL(server.url().c_str());
    std::string received;
    _CURLRTN toCaller = request.PerformGet(reinterpret_cast<void*>(&Collect), &received);
    ASSERT_EQ(toCaller.code, CURLE_OK) << toCaller.message;
    EXPECT_EQ(received, paced.body);
    EXPECT_EQ(toCaller.body, nullptr);
    EXPECT_EQ(toCaller.body_size, 0);

    _CURLRTN inMemory = request.PerformGet(nullptr, nullptr);
    EXPECT_EQ(Text(inMemory.body, inMemory.body_size), paced.body);

    _CURLRTN empty = request.PerformGet(nullptr, nullptr);
    EXPECT_EQ(empty.code, CURLE_OK);
    EXPECT_EQ(empty.http_status, 200);
    EXPECT_EQ(empty.body, nullptr);
    EXPECT_EQ(empty.body_size, 0);
}

struct TapRecord {
    std::vector<long> statuses;
    std::string body;
};

void Tap(long status, const char* data, size_t size, void* record) {
    auto* to = static_cast<TapRecord*>(record);
    if (to->statuses.empty() || to->statuses.back() != status) to->statuses.push_back(status);
    to->body.append(data, size);
}

// A tapped post shows the final answer's body, as it arrives, and still
// collects headers and body exactly as an untapped one; the refused first
// round's body never reaches the tap.
TEST(CURLImplWire, BodyTapSeesTheFinalBodyWhileTheRecordStaysTheSame) {
    ScriptedServer server;
    ScriptedResponse answer;
    answer.status = 207;
    for (int i = 0; answer.body.size() < 100000; ++i)
        answer.body += "<response n=\"" + std::to_string(i) + "\"/>";
    answer.headers = {{"Transfer-Encoding", "chunked"}};
    answer.chunkSize = 7000;
    answer.chunkDelayMs = 1;
    auto script = [&] {
        server.Respond(401, "refused body", {{"WWW-Authenticate", "Basic realm=\"dav\""}});
        server.Enqueue(answer);
    };
    auto post = [&](CURLLogger& request) {
        UseBasicCredentials(request);
        request.SetURL((server.url() + "/dir/").c_str());
        request.SetRequest("PROPFIND");
        return request.PerformPost(std::string("<propfind/>"));
    };

    script();
    CURLLogger plain;
    _CURLRTN expected = post(plain);
    ASSERT_EQ(expected.code, CURLE_OK) << expected.message;

    script();
    CURLLogger tapped;
    TapRecord seen;
    tapped.SetBodyTap(&Tap, &seen);
    _CURLRTN result = post(tapped);
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(seen.statuses, std::vector<long>{207});
    EXPECT_EQ(seen.body, answer.body);
    EXPECT_EQ(result.http_status, 207);
    EXPECT_EQ(Text(result.body, result.body_size), answer.body);
    ASSERT_EQ(result.headers_size, expected.headers_size);
    std::string headers(result.headers.get());
    EXPECT_EQ(headers, std::string(expected.headers.get()));
    EXPECT_EQ(headers.find("HTTP/1.1 401"), 0u);
    EXPECT_NE(headers.find("HTTP/1.1 207"), std::string::npos);

    // The handle keeps nothing of the tap: a get on the same object, then a
    // post after Clear(), leave it alone.
    server.Respond(200, "plain get");
    _CURLRTN get = tapped.PerformGet(nullptr, nullptr);
    EXPECT_EQ(Text(get.body, get.body_size), "plain get");
    tapped.Clear();
    script();
    seen = TapRecord();
    ASSERT_EQ(post(tapped).code, CURLE_OK);
    EXPECT_TRUE(seen.statuses.empty());
    EXPECT_TRUE(server.Failures().empty());
}

// One object performing several requests without Clear() in between, as an
// operation that stats after a change does.
TEST(CURLImplWire, SuccessivePerformsDoNotInheritEachOthersBodySettings) {
    ScriptedServer server;
    server.Respond(200, "first");
    server.Respond(200, "second");
    server.Respond(200, "third");
    ScriptAuthenticationRetry(server);
    CURLLogger request;
    request.SetURL(server.url().c_str());
    request.AddQuery("k", std::string("v"));
    ASSERT_EQ(request.PerformPost(nullptr, nullptr, -1).code, CURLE_OK);  // query as fields
    _CURLRTN get = request.PerformGet(nullptr, nullptr);
    EXPECT_EQ(Text(get.body, get.body_size), "second");  // no header bytes in the body
    ASSERT_EQ(request.PerformPost(std::string("fresh")).code, CURLE_OK);

    // A post without a cursor must not rewind with the previous post's cursor.
    UseBasicCredentials(request);
    request.SetRequest("PUT");
    std::string body = "no cursor";
    _BUFREADCTX own;
    own.data = body.data();
    own.size = static_cast<int64_t>(body.size());
    _CURLRTN put = request.PerformPost(reinterpret_cast<void*>(&read_callback_buf_func), &own,
                                       static_cast<long long>(body.size()));
    EXPECT_EQ(put.code, CURLE_SEND_FAIL_REWIND);

    auto requests = server.Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0].body, "k=v");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[2].body, "fresh");
    EXPECT_EQ(requests[2].target, "/?k=v");
    EXPECT_EQ(requests[3].body, body);
}

TEST(CURLImplWire, TransportFailuresCarryLibcurlsCodeAndText) {
    std::string deadUrl;
    {
        ScriptedServer gone;
        deadUrl = gone.url();
    }
    CURLLogger refused;
    refused.SetURL(deadUrl.c_str());
    _CURLRTN result = refused.PerformGet(nullptr, nullptr);
    EXPECT_EQ(result.code, CURLE_COULDNT_CONNECT);
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(result.http_status, 0);

    ScriptedServer server;
    ScriptedResponse cut;
    cut.body = std::string(1000, 'c');
    cut.closeAfterBodyBytes = 100;
    server.Enqueue(cut);
    server.Enqueue(cut);
    CURLLogger request;
    request.SetURL(server.url().c_str());
    _CURLRTN get = request.PerformGet(nullptr, nullptr);
    EXPECT_EQ(get.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(get.body, nullptr);
    EXPECT_EQ(get.body_size, 0);
    EXPECT_NE(get.message.find("bytes remaining"), std::string::npos) << get.message;
    _CURLRTN post = request.PerformPost(std::string("x"));
    EXPECT_EQ(post.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(post.headers, nullptr);
    EXPECT_EQ(post.headers_size, 0);
    EXPECT_EQ(post.upload_speed, 0.0);
}

TEST(CURLImplWire, ObjectWithoutHandleNeverReachesTheNetwork) {
    ScriptedServer server;
    Handleless request;
    EXPECT_EQ(request.GetCURL(), nullptr);
    request.SetURL(server.url().c_str());
    request.AddHeader("Depth", "1");
    request.AddQuery("q", std::string("v"));
    request.SetSpeedLimit(1000);
    auto h = std::make_shared<_FS_HANDLE>();
    request.BindHandle(h);
    for (_CURLRTN result : {request.PerformGet(nullptr, nullptr), request.PerformPost("body"),
                            request.PerformPost(nullptr, nullptr, -1)}) {
        EXPECT_EQ(result.code, CURLE_FAILED_INIT);
        EXPECT_EQ(result.message, "");
        EXPECT_EQ(result.body, nullptr);
        EXPECT_EQ(result.http_status, 0);
    }
    request.Clear();
    EXPECT_EQ(request.GetURL(), "");
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST(CURLImplResult, SizesThatDoNotFitThe32BitFieldsFail) {
    int32_t headers = -1;
    int32_t body = -1;
    EXPECT_EQ(fit_response_sizes(580, 80, headers, body), CURLE_OK);
    EXPECT_EQ(headers, 80);
    EXPECT_EQ(body, 500);
    EXPECT_EQ(fit_response_sizes(INT32_MAX, -1, headers, body), CURLE_OK);
    EXPECT_EQ(body, INT32_MAX);
    EXPECT_EQ(fit_response_sizes(size_t{INT32_MAX} + 1, -1, headers, body),
              CURLE_FILESIZE_EXCEEDED);
    EXPECT_EQ(body, 0);
    EXPECT_EQ(fit_response_sizes(size_t{INT32_MAX} + 100, 99, headers, body),
              CURLE_FILESIZE_EXCEEDED);
    EXPECT_EQ(fit_response_sizes(size_t{INT32_MAX} + 100, 100, headers, body), CURLE_OK);
    EXPECT_EQ(headers, 100);
    EXPECT_EQ(body, INT32_MAX);
    EXPECT_EQ(fit_response_sizes(size_t{INT32_MAX} * 2 + 2, size_t{INT32_MAX} + 1, headers, body),
              CURLE_FILESIZE_EXCEEDED);
    // More header bytes counted than collected never yields a negative body.
    EXPECT_EQ(fit_response_sizes(10, 50, headers, body), CURLE_OK);
    EXPECT_EQ(headers, 10);
    EXPECT_EQ(body, 0);
}

TEST(CURLImplResult, BlockThatCannotBeAllocatedFailsTheRecord) {
    std::unique_ptr<evbuffer, void (*)(evbuffer*)> buffer(evbuffer_new(), evbuffer_free);
    evbuffer_add(buffer.get(), "HEAD\r\n\r\nbody", 12);
    _CURLRTN result;
    result.http_status = 200;
    result.download_speed = 5.0;
    auto noMemory = [](size_t, size_t) -> void* { return nullptr; };
    EXPECT_EQ(take_response(buffer.get(), 8, result, noMemory), CURLE_OUT_OF_MEMORY);
    EXPECT_EQ(result.http_status, 0);
    EXPECT_EQ(result.download_speed, 0.0);
    EXPECT_EQ(result.body, nullptr);
    EXPECT_EQ(result.body_size, 0);
    EXPECT_EQ(result.headers, nullptr);
    EXPECT_FALSE(result.message.empty());

    _CURLRTN good;
    ASSERT_EQ(take_response(buffer.get(), 8, good), CURLE_OK);
    EXPECT_EQ(std::string(good.headers.get()), "HEAD\r\n\r\n");
    EXPECT_EQ(Text(good.body, good.body_size), "body");
    _CURLRTN copy = good;
    EXPECT_EQ(copy.body.get(), good.body.get());
    EXPECT_EQ(good.body.use_count(), 2);
}

TEST(CURLImplCallbacks, ReadCursorServesSeeksAndStops) {
    std::string body = "0123456789";
    _BUFREADCTX cursor;
    cursor.data = body.data();
    cursor.size = 10;
    char out[16];
    EXPECT_EQ(read_callback_buf_func(out, 1, 4, &cursor), 4u);
    EXPECT_EQ(read_callback_buf_func(out, 2, 8, &cursor), 6u);
    EXPECT_EQ(std::string(out, 6), "456789");
    EXPECT_EQ(read_callback_buf_func(out, 1, 16, &cursor), 0u);
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, 0, SEEK_SET), CURL_SEEKFUNC_OK);
    EXPECT_EQ(read_callback_buf_func(out, 1, 3, &cursor), 3u);
    EXPECT_EQ(std::string(out, 3), "012");
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, -2, SEEK_END), CURL_SEEKFUNC_OK);
    EXPECT_EQ(read_callback_buf_func(out, 1, 16, &cursor), 2u);
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, 5, SEEK_END), CURL_SEEKFUNC_OK);
    EXPECT_EQ(read_callback_buf_func(out, 1, 16, &cursor), 0u);
    EXPECT_EQ(read_callback_buf_seek_func(&cursor, -100, SEEK_CUR), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(cursor.pos, 15);
    EXPECT_EQ(read_callback_buf_seek_func(nullptr, 0, SEEK_SET), CURL_SEEKFUNC_FAIL);
    EXPECT_EQ(read_callback_buf_func(out, 0, 16, &cursor), 0u);

    CURLImpl::ProgressBinding unbound;
    unbound.handle = reinterpret_cast<void*>(0x1);  // must not be queried
    EXPECT_EQ(_CURL_PROGRESS(&unbound, 0, 0, 10, 5), 0);
    EXPECT_EQ(_CURL_PROGRESS(nullptr, 0, 0, 10, 5), 0);
}

struct ProgressLog {
    long total = 0;
    long last = 0;
    int calls = 0;
};

void OnProgress(long total, long now, void* context, double speed) {
    auto* log = static_cast<ProgressLog*>(context);
    log->total = total;
    log->last = now;
    ++log->calls;
    EXPECT_GE(speed, 0.0);
}

TEST(CURLImplWire, UploadReportsProgressAndSendBufferOptionIsHarmless) {
    ScriptedServer server;
    server.Respond(201);
    CURLLogger request;
    request.SetURL((server.url() + "/up").c_str());
    request.SetRequest("PUT");
    request.SetSendBuffer();
    request.SetSpeedLimit(100 * 1024 * 1024);
    request.SetLowSpeedTimeout(5);
    ProgressLog log;
    auto handle = std::make_shared<_FS_HANDLE>();
    handle->progressFn = &OnProgress;
    handle->progressContext = &log;
    request.BindHandle(handle);
    std::string body(200000, 'u');
    _CURLRTN result = request.PerformPost(body);
    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_GT(log.calls, 0);
    EXPECT_EQ(log.total, 200000);
    EXPECT_EQ(log.last, 200000);
    EXPECT_EQ(server.Requests().at(0).body.size(), body.size());
}

struct Pieces {
    std::string data;
    size_t largest = 0;
};

size_t CollectPieces(char* data, size_t size, size_t count, void* target) {
    auto* pieces = static_cast<Pieces*>(target);
    pieces->data.append(data, size * count);
    pieces->largest = std::max(pieces->largest, size * count);
    return size * count;
}

// libcurl's receive limiter reads up to 101 buffer fills in one go and only then
// pauses. Under a limit each piece must be small enough that such a burst stays
// under a second's worth of the limit; lifting the limit or clearing the object
// brings libcurl's own buffer back.
TEST(CURLImplWire, SpeedLimitKeepsReceivedPiecesSmallUntilLiftedOrCleared) {
    ScriptedServer server;
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    for (int i = 0; i < 4; ++i) server.Respond(200, body);
    CURLLogger request;
    auto largestPiece = [&] {
        request.SetURL(server.url().c_str());
        Pieces pieces;
        _CURLRTN result = request.PerformGet(reinterpret_cast<void*>(&CollectPieces), &pieces);
        EXPECT_EQ(result.code, CURLE_OK) << result.message;
        EXPECT_TRUE(pieces.data == body);
        return static_cast<long long>(pieces.largest);
    };
    const long long limit = 1024 * 1024;
    const long long burstBound = limit / 101;

    request.SetSpeedLimit(limit);
    EXPECT_LE(largestPiece(), burstBound);
    request.SetSpeedLimit(0);
    EXPECT_GT(largestPiece(), burstBound);
    request.SetSpeedLimit(limit);
    EXPECT_LE(largestPiece(), burstBound);
    request.Clear();
    EXPECT_GT(largestPiece(), burstBound);
}

// The stall window grows by the longest pause the limiter can impose, but a server
// that stops sending is still given up.
TEST(CURLImplWire, StalledServerIsGivenUpUnderASpeedLimit) {
    ScriptedServer server;
    ScriptedResponse stall;
    stall.body = "never sent";
    stall.delayMs = 120000;  // far beyond any window; ended when the server stops
    server.Enqueue(stall);
    CURLLogger request;
    request.SetURL(server.url().c_str());
    request.SetLowSpeedTimeout(1);
    request.SetSpeedLimit(64 * 1024 * 1024);
    _CURLRTN result = request.PerformGet(nullptr, nullptr);
    EXPECT_EQ(result.code, CURLE_OPERATION_TIMEDOUT) << result.message;
    EXPECT_NE(result.message.find("too slow"), std::string::npos) << result.message;
}

}  // namespace
