// Listing and stat against the scripted server: the PROPFIND on the wire, the
// result codes, messages and log lines, and what reaches the host's records.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/logstate.h"
#include "idle_pool.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"
#include "webdav/protocol.h"

namespace {

const int kTrace = LOG_TRACE | LOG_PROTOCOL;  // 1025
const int kError = LOG_ERROR | LOG_PROTOCOL;  // 1032

const char kBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:propfind xmlns:D=\"DAV:\"><D:prop>"
    "<D:resourcetype /><D:getcontentlength /><D:creationdate /><D:lastaccessed />"
    "<D:getlastmodified /></D:prop></D:propfind>";

std::string Entry(const std::string& href, bool folder, int size = 0,
                  const std::string& modified = "Tue, 15 Nov 1994 12:45:26 GMT") {
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" +
           (folder ? "<D:resourcetype><D:collection/></D:resourcetype>"
                   : "<D:resourcetype/><D:getcontentlength>" + std::to_string(size) +
                         "</D:getcontentlength>") +
           "<D:getlastmodified>" + modified +
           "</D:getlastmodified></D:prop><D:status>HTTP/1.1 200 OK</D:status>"
           "</D:propstat></D:response>";
}

std::string Multistatus(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">" + entries +
           "</D:multistatus>";
}

const std::vector<std::pair<std::string, std::string>> kXml = {
    {"Content-Type", "application/xml; charset=utf-8"}};

// Header lines spelled exactly so (case-sensitive), as sent.
std::vector<std::string> ExactHeader(const RecordedRequest& request, const std::string& name) {
    std::vector<std::string> values;
    for (auto& header : request.headers)
        if (header.first == name) values.push_back(header.second);
    return values;
}

class PropfindTest : public ::testing::Test {
protected:
    void SetUp() override { logger.store(&log); }
    void TearDown() override { logger.store(nullptr); }

    // The message as the host gets it; "<null>" for none.
    std::string Take(Protocol& protocol, char*& message) {
        std::string text = message ? message : "<null>";
        protocol.FreeMsg(message);
        message = nullptr;
        return text;
    }

    RecordingLogger log;
    ScriptedServer server;
};

TEST_F(PropfindTest, FullUrlsEncodeThePath) {
    Protocol protocol((server.url() + "/my dav").c_str(), nullptr);
    const std::string base = server.url() + "/my%20dav";
    EXPECT_EQ(protocol.get_fullurl(nullptr), base);
    EXPECT_EQ(protocol.get_fullurl(""), base);
    EXPECT_EQ(protocol.get_fullurl("a b/c"), base + "/a%20b/c");
    EXPECT_EQ(protocol.get_fullurl("/x~y"), base + "/x%7Ey");
    EXPECT_EQ(protocol.get_fullurl("/Sub/"), base + "/Sub/");
    EXPECT_EQ(protocol.get_fullurl("/#1%+&ü"), base + "/%231%25%2B%26%C3%BC");
}

TEST_F(PropfindTest, ListingSendsTheDocumentedRequest) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    server.Respond(207, Multistatus(Entry("/dav/a%20b/", true)), kXml);
    char* message = nullptr;
    ListSink sink;
    EXPECT_EQ(protocol.GetFileList("/a b", &sink, &message), SUCCESS);
    EXPECT_EQ(Take(protocol, message), "207 Multi-Status");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.method, "PROPFIND");
    EXPECT_EQ(request.target, "/dav/a%20b");
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(ExactHeader(request, "Depth"), std::vector<std::string>{"1"});
    EXPECT_EQ(ExactHeader(request, "Accept-encoding"), std::vector<std::string>{"gzip"});
    EXPECT_EQ(ExactHeader(request, "Content-Type"), std::vector<std::string>{"text/xml"});
    EXPECT_EQ(request.Header("User-Agent"), "Tessaryn(gzip)");
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(sizeof(kBody) - 1));
    EXPECT_EQ(request.body, kBody);
    EXPECT_FALSE(request.HasHeader("Authorization"));
    EXPECT_TRUE(server.Failures().empty());
}

TEST_F(PropfindTest, StatUsesDepthZeroAndGzipOffDropsOurAcceptEncoding) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    ASSERT_EQ(protocol.SetOpt("gzip", "false"), SUCCESS);
    server.Respond(207, Multistatus(Entry("/dav/f.txt", false, 3)), kXml);
    _FS_FILE file;
    EXPECT_EQ(protocol.GetFileInfo("/f.txt", &file, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/dav/f.txt");
    EXPECT_EQ(ExactHeader(requests[0], "Depth"), std::vector<std::string>{"0"});
    EXPECT_TRUE(ExactHeader(requests[0], "Accept-encoding").empty());
    // What libcurl itself advertises is not ours to remove.
    EXPECT_NE(requests[0].Header("Accept-Encoding"), "gzip");
    EXPECT_EQ(ExactHeader(requests[0], "Content-Type"), std::vector<std::string>{"text/xml"});
    EXPECT_EQ(requests[0].body, kBody);
}

TEST_F(PropfindTest, GzipAnswersAreDecoded) {
    // A one-entry multistatus (/dav/z.txt, 9 bytes), gzip-compressed.
    static const char compressed[] =
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x65\x8e\x41\x0a\x83\x30"
        "\x10\x45\xaf\x22\x39\x80\xd3\x2e\x1b\x62\xa4\x90\x33\x74\x2f\x76"
        "\xaa\x42\x9c\x84\x64\x22\xb6\xa7\xaf\x43\x2d\x58\xba\xfb\xbc\x3f"
        "\xf3\xf8\xa6\x5d\x67\x5f\x2d\x98\xf2\x14\xa8\x51\xe7\xfa\xa4\x5a"
        "\x6b\x9c\x9e\x8b\xe7\x29\x73\xc7\x25\x57\xdb\x05\x65\xed\x1a\xe5"
        "\xae\x37\xad\xa4\x4d\x98\x63\xa0\x8c\x92\xc7\x84\x0f\x0b\xf7\x6e"
        "\x81\x57\xcd\x2b\x1b\xd8\xd1\x56\xc5\x14\xa2\x38\xbe\x79\x7f\x0d"
        "\x25\xf5\xc8\xcf\x88\x20\x60\x40\xee\x03\x31\x12\x7b\xa4\x81\x47"
        "\x7b\x11\xc5\x1f\x15\xf8\x71\xc0\x51\x0c\xc7\x31\xf0\xb3\xdb\xbe"
        "\x01\x35\x22\xff\x4a\xdc\x00\x00\x00";
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    server.Respond(207, std::string(compressed, sizeof(compressed) - 1),
                   {{"Content-Type", "application/xml"}, {"Content-Encoding", "gzip"}});
    ListSink sink;
    EXPECT_EQ(protocol.GetFileList(nullptr, &sink, nullptr), SUCCESS);
    ASSERT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.files[0].id, "/z.txt");
    EXPECT_EQ(sink.files[0].size, 9);
}

TEST_F(PropfindTest, ListingDeliversChildrenOnlyInServerOrder) {
    Protocol protocol((server.url() + "/root").c_str(), nullptr);
    server.Respond(207,
                   Multistatus(Entry("/root/Docs/", true) + Entry("/root/Docs/a.txt", false, 5) +
                               Entry("/root/Docs/Sub/", true) + Entry("/elsewhere/x", false, 1) +
                               Entry("/root/Docs/b%23%25.txt", false, 7)),
                   kXml);
    ListSink sink;
    EXPECT_EQ(protocol.GetFileList("/Docs", &sink, nullptr), SUCCESS);
    ASSERT_EQ(sink.files.size(), 3u);
    EXPECT_EQ(sink.files[0].id, "/Docs/a.txt");
    EXPECT_EQ(sink.files[0].name, "a.txt");
    EXPECT_EQ(sink.files[0].attributes, FA_FILE);
    EXPECT_EQ(sink.files[0].size, 5);
    EXPECT_EQ(sink.files[1].id, "/Docs/Sub");
    EXPECT_EQ(sink.files[1].attributes, FA_DIRECTORY);
    EXPECT_EQ(sink.files[2].id, "/Docs/b#%.txt");
    EXPECT_EQ(sink.files[2].name, "b#%.txt");
    EXPECT_TRUE(log.Has(kTrace, "GetFileList id: [/Docs]"));

    // A trailing "/" in the caller's path lets the folder's own entry through.
    server.Respond(207, Multistatus(Entry("/root/Docs/", true) + Entry("/root/Docs/a", false)),
                   kXml);
    ListSink withSlash;
    EXPECT_EQ(protocol.GetFileList("/Docs/", &withSlash, nullptr), SUCCESS);
    ASSERT_EQ(withSlash.files.size(), 2u);
    EXPECT_EQ(withSlash.files[0].id, "/Docs");
}

TEST_F(PropfindTest, ListingTheRootNeverDeliversTheRoot) {
    Protocol protocol((server.url() + "/dav/").c_str(), nullptr);
    server.Respond(207, Multistatus(Entry("/dav/", true) + Entry("/dav/one", false, 1)), kXml);
    ListSink sink;
    EXPECT_EQ(protocol.GetFileList(nullptr, &sink, nullptr), SUCCESS);
    ASSERT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.files[0].id, "/one");
    EXPECT_EQ(server.Requests().at(0).target, "/dav");
    EXPECT_TRUE(log.Has(kTrace, "GetFileList id: []"));

    // Only the folder itself: no call at all. A null sink is allowed.
    server.Respond(207, Multistatus(Entry("/dav/", true)), kXml);
    ListSink empty;
    EXPECT_EQ(protocol.GetFileList("", &empty, nullptr), SUCCESS);
    EXPECT_TRUE(empty.files.empty());
    server.Respond(207, Multistatus(Entry("/dav/", true) + Entry("/dav/one", false)), kXml);
    EXPECT_EQ(protocol.GetFileList(nullptr, nullptr, nullptr), SUCCESS);
}

TEST_F(PropfindTest, ListingFailures) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    ListSink sink;
    char* message = nullptr;

    // libcurl answers the challenge once, with the (empty) credentials.
    server.Respond(401, "no", {{"WWW-Authenticate", "Basic realm=\"x\""}});
    server.Respond(401, "no", {{"WWW-Authenticate", "Basic realm=\"x\""}});
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), ACCESS_DENIED);
    EXPECT_EQ(Take(protocol, message), "401 Unauthorized");
    server.Respond(403, "no");
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), ACCESS_DENIED);
    EXPECT_EQ(Take(protocol, message), "403 Forbidden");
    EXPECT_TRUE(log.Find(kError, "").empty()) << log.Dump();

    server.Respond(404, "gone");
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "404 Not Found");
    EXPECT_EQ(log.Find(kError, "GetFileList"),
              std::vector<std::string>{"GetFileList id: [/a] , exec error: [0, 404]"});

    server.Respond(301, "", {{"Location", "/elsewhere"}, {"Content-Length", "0"}});
    server.Respond(302, "", {{"Location", "/dav/a"}, {"Content-Length", "0"}});
    server.Respond(503, "busy");
    log.Clear();
    EXPECT_EQ(protocol.GetFileList(nullptr, &sink, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "503 Service Unavailable");
    EXPECT_TRUE(log.Has(kError, "GetFileList id: [] , exec error: [0, 503]"));

    // A 2xx answer that is not a usable document: FAILED, no error line.
    log.Clear();
    server.Respond(207, "<html>oops", kXml);
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "207 Multi-Status");
    server.Respond(200, "");
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "200 OK");
    server.Respond(207,
                   "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY e \"x\">]>" +
                       Multistatus(Entry("/dav/a/&e;", false)).substr(21),
                   kXml);
    EXPECT_EQ(protocol.GetFileList("/a", &sink, &message), FAILED);
    protocol.FreeMsg(message);
    EXPECT_TRUE(log.Find(kError, "").empty()) << log.Dump();

    // A well-formed document that is not a multistatus: nothing, but success.
    server.Respond(207, "<?xml version=\"1.0\"?><D:error xmlns:D=\"DAV:\"/>", kXml);
    EXPECT_EQ(protocol.GetFileList("/a", &sink, nullptr), SUCCESS);
    EXPECT_TRUE(sink.files.empty());
    EXPECT_TRUE(server.Failures().empty());
}

// Big answers are read while they arrive. Only the final answer's body counts
// (a refused round's body is never taken for the listing), and records made
// early never reach the host when the document later turns out broken.
TEST_F(PropfindTest, ListingReadsTheAnswerWhileItArrives) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    protocol.SetOpt("user", "u");
    protocol.SetOpt("pass", "p");
    std::string entries = Entry("/dav/", true);
    for (int i = 0; i < 200; ++i) entries += Entry("/dav/f" + std::to_string(i), false, i);
    ScriptedResponse answer;
    answer.status = 207;
    answer.body = Multistatus(entries);
    answer.headers = {{"Transfer-Encoding", "chunked"}};
    answer.chunkSize = 100;
    std::string decoy = Multistatus(Entry("/dav/decoy", false, 1));
    server.Respond(401, decoy, {{"WWW-Authenticate", "Basic realm=\"x\""}});
    server.Enqueue(answer);

    ListSink sink;
    ASSERT_EQ(protocol.GetFileList(nullptr, &sink, nullptr), SUCCESS);
    ASSERT_EQ(sink.files.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(sink.files[i].id, "/f" + std::to_string(i));
        EXPECT_EQ(sink.files[i].size, i);
    }

    // Broken near the end, after most responses were read.
    ScriptedResponse broken = answer;
    broken.body = Multistatus(entries + "<D:response><D:href>/dav/x</D:href></D:respons>");
    server.Enqueue(broken);
    ListSink none;
    EXPECT_EQ(protocol.GetFileList(nullptr, &none, nullptr), FAILED);
    EXPECT_TRUE(none.files.empty());

    // Cut off by the server: the transport's failure, and nothing delivered.
    ScriptedResponse cut = answer;
    cut.headers.clear();
    cut.chunkSize = 0;
    cut.closeAfterBodyBytes = static_cast<long long>(answer.body.size() / 2);
    server.Enqueue(cut);
    EXPECT_EQ(protocol.GetFileList(nullptr, &none, nullptr), FAILED);
    EXPECT_TRUE(none.files.empty());
    EXPECT_TRUE(server.Failures().empty());
}

TEST_F(PropfindTest, TransportFailureIsFailedWithTheTransportText) {
    int port;
    {
        ScriptedServer gone;  // take a port nobody listens on afterwards
        port = gone.port();
    }
    Protocol protocol(("http://127.0.0.1:" + std::to_string(port) + "/dav").c_str(), nullptr);
    char* message = nullptr;
    EXPECT_EQ(protocol.GetFileList("/x", nullptr, &message), FAILED);
    std::string text = Take(protocol, message);
    EXPECT_NE(text.find("onnect"), std::string::npos) << text;
    EXPECT_EQ(text.find(';'), std::string::npos);
    EXPECT_EQ(log.Find(kError, "GetFileList"),
              std::vector<std::string>{"GetFileList id: [/x] , exec error: [7, 0]"});

    _FS_FILE file;
    file.id = "untouched";
    EXPECT_EQ(protocol.GetFileInfo("/x", &file, &message), FAILED);
    EXPECT_FALSE(Take(protocol, message).empty());
    EXPECT_EQ(file.id, "untouched");
    EXPECT_EQ(log.Find(kError, "GetFileInfo"),
              std::vector<std::string>{"GetFileInfo id: [/x] , exec error: [0]"});
}

TEST_F(PropfindTest, StatFillsTheCallersRecord) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    server.Respond(
        207,
        Multistatus("<D:response><D:href>http://server/dav/Sub%20Dir/f%2B1.txt</D:href>"
                    "<D:propstat><D:prop><D:resourcetype/>"
                    "<D:getcontentlength>1234567890123</D:getcontentlength>"
                    "<D:creationdate>1994-11-06T08:49:37Z</D:creationdate>"
                    "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>"
                    "</D:prop></D:propstat></D:response>"),
        kXml);
    _FS_FILE file;
    file.name = "old";
    char* message = nullptr;
    EXPECT_EQ(protocol.GetFileInfo("/Sub Dir/f+1.txt", &file, &message), SUCCESS);
    EXPECT_EQ(Take(protocol, message), "207 Multi-Status");
    EXPECT_EQ(server.Requests().at(0).target, "/dav/Sub%20Dir/f%2B1.txt");
    EXPECT_EQ(file.id, "/Sub Dir/f+1.txt");
    EXPECT_EQ(file.name, "f+1.txt");
    EXPECT_EQ(file.attributes, FA_FILE);
    EXPECT_EQ(file.size, 1234567890123LL);
    EXPECT_EQ(file.creationTime, "1994-11-06T08:49:37.000Z");
    EXPECT_EQ(file.modifiedTime, "1994-11-15T12:45:26.000Z");
    EXPECT_EQ(file.accessTime, "1994-11-15T12:45:26.000Z");
    EXPECT_TRUE(log.Has(kTrace, "GetFileInfo id: [/Sub Dir/f+1.txt]"));

    // Several entries: the last one wins. None: the record stays as it was.
    server.Respond(207, Multistatus(Entry("/dav/a", false, 1) + Entry("/dav/b", true)), kXml);
    EXPECT_EQ(protocol.GetFileInfo("/a", &file, nullptr), SUCCESS);
    EXPECT_EQ(file.id, "/b");
    EXPECT_EQ(file.attributes, FA_DIRECTORY);
    EXPECT_EQ(file.size, 0);
    server.Respond(207, Multistatus(""), kXml);
    EXPECT_EQ(protocol.GetFileInfo("/a", &file, nullptr), SUCCESS);
    EXPECT_EQ(file.id, "/b");
    server.Respond(207, Multistatus(Entry("/dav/a", false, 1)), kXml);
    EXPECT_EQ(protocol.GetFileInfo("/a", nullptr, nullptr), SUCCESS);
}

TEST_F(PropfindTest, StatFailures) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    _FS_FILE file;
    char* message = nullptr;
    server.Respond(403, "");
    EXPECT_EQ(protocol.GetFileInfo("/s", &file, &message), ACCESS_DENIED);
    EXPECT_EQ(Take(protocol, message), "403 Forbidden");
    EXPECT_TRUE(log.Find(kError, "").empty());

    server.Respond(404, "");
    EXPECT_EQ(protocol.GetFileInfo("/s", &file, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "404 Not Found");
    EXPECT_EQ(log.Find(kError, ""),
              std::vector<std::string>{"GetFileInfo id: [/s] , exec error: [404]"});

    log.Clear();
    server.Respond(207, "not xml", kXml);
    EXPECT_EQ(protocol.GetFileInfo(nullptr, &file, &message), FAILED);
    EXPECT_EQ(Take(protocol, message), "207 Multi-Status");
    EXPECT_EQ(log.Find(kError, ""),
              std::vector<std::string>{"GetFileInfo id: [] , exec error: [207]"});
}

TEST_F(PropfindTest, OfferedAuthenticationScheme) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    protocol.SetOpt("user", "alice");
    protocol.SetOpt("password", "secret");
    long offered = 0;

    // Digest only: the server's scheme is reported as it is.
    server.Respond(401, "",
                   {{"WWW-Authenticate", "Digest realm=\"r\", nonce=\"abc\", qop=\"auth\""}});
    server.Respond(207, Multistatus(""), kXml);
    protocol.do_propfind(nullptr, WEBDAV_CURLAUTH_ANY, "1", &offered);
    EXPECT_EQ(offered, 2);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Authorization").rfind("Digest ", 0), 0u);
    EXPECT_EQ(requests[1].body, kBody);  // the body is sent again after the challenge
    EXPECT_TRUE(log.Find(kError, "do_propfind").empty());

    // No authentication asked: every scheme, with a note in the log.
    server.Respond(207, Multistatus(""), kXml);
    protocol.do_propfind(nullptr, WEBDAV_CURLAUTH_ANY, "1", &offered);
    EXPECT_EQ(offered, -17);
    EXPECT_EQ(log.Find(kError, "do_propfind"),
              std::vector<std::string>{"do_propfind Got auth type but not support"});

    // Two schemes offered: every scheme as well.
    log.Clear();
    ScriptedResponse both;
    both.status = 401;
    both.headers = {{"WWW-Authenticate", "Basic realm=\"r\""},
                    {"WWW-Authenticate", "Digest realm=\"r\", nonce=\"abc\""}};
    server.Enqueue(both);
    server.Respond(207, Multistatus(""), kXml);
    protocol.do_propfind(nullptr, WEBDAV_CURLAUTH_ANY, "1", &offered);
    EXPECT_EQ(offered, -17);
    EXPECT_TRUE(log.Has(kError, "do_propfind Got auth type but not support"));
    EXPECT_TRUE(server.Failures().empty());
}

TEST_F(PropfindTest, LearntBasicSchemeSendsCredentialsAtOnce) {
    IdlePoolSetAside fresh;  // no authentication state left by earlier tests
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    protocol.SetOpt("ex_info", R"({"data":{"user":"alice","pwd":"s3cr:t"}})");
    server.Respond(401, "", {{"WWW-Authenticate", "Basic realm=\"r\""}});
    server.Respond(207, Multistatus(Entry("/dav/", true)), kXml);
    ASSERT_EQ(protocol.TestConnect(nullptr), SUCCESS);
    EXPECT_EQ(protocol.authType.load(), 1);

    server.Respond(207, Multistatus(Entry("/dav/", true)), kXml);
    ListSink sink;
    EXPECT_EQ(protocol.GetFileList(nullptr, &sink, nullptr), SUCCESS);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    // "alice:s3cr:t" in base64.
    EXPECT_EQ(requests[1].Header("Authorization"), "Basic YWxpY2U6czNjcjp0");
    EXPECT_EQ(requests[2].Header("Authorization"), "Basic YWxpY2U6czNjcjp0");
}

TEST_F(PropfindTest, ConcurrentListingsShareThePool) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    const int threads = 4, each = 5;
    for (int i = 0; i < threads * each; ++i)
        server.Respond(
            207,
            Multistatus(Entry("/dav/", true) + Entry("/dav/a", false, 1) + Entry("/dav/b", true)),
            kXml);
    std::atomic<int> good{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < each; ++i) {
                ListSink sink;
                char* message = nullptr;
                if (protocol.GetFileList(nullptr, &sink, &message) == SUCCESS &&
                    sink.files.size() == 2 && sink.files[0].id == "/a" && sink.files[1].id == "/b")
                    ++good;
                protocol.FreeMsg(message);
            }
        });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(good.load(), threads * each);
    EXPECT_TRUE(server.Failures().empty());
}

TEST_F(PropfindTest, GetChangesDoesNothing) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    char* message = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(protocol.GetChanges(nullptr, &message), SUCCESS);
    EXPECT_EQ(message, reinterpret_cast<char*>(0x1));
    EXPECT_TRUE(server.Requests().empty());
}

}  // namespace

// rclone answers a PROPFIND of a folder without its trailing "/" with a 308 to
// the "/" form: the same PROPFIND, body included, goes to the new place.
TEST_F(PropfindTest, ListingFollowsAPermanentRedirectWithItsBody) {
    Protocol protocol((server.url() + "/root").c_str(), nullptr);
    server.Respond(308, "", {{"Location", "/root/"}});
    server.Respond(207, Multistatus(Entry("/root/", true) + Entry("/root/a.txt", false, 3)), kXml);
    ListSink sink;

    EXPECT_EQ(protocol.GetFileList(nullptr, &sink, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "PROPFIND");
    EXPECT_EQ(requests[1].target, "/root/");
    EXPECT_EQ(requests[1].body, kBody);
    ASSERT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.files[0].id, "/a.txt");
    EXPECT_EQ(sink.files[0].size, 3);
}
