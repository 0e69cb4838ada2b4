// The connection test: verdicts, the learnt authentication scheme, its log
// lines and messages, and the one-time fallback after a failed TLS handshake.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/logstate.h"
#include "idle_pool.h"
#include "raw_listener.h"
#include "support/host_doubles.h"
#include "support/real_server.h"
#include "support/scripted_server.h"
#include "webdav/protocol.h"

namespace {

const int kTrace = LOG_TRACE | LOG_PROTOCOL;  // 1025
const int kError = LOG_ERROR | LOG_PROTOCOL;  // 1032

const char kListing[] =
    "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/dav/</D:href>"
    "<D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop>"
    "</D:propstat></D:response></D:multistatus>";

class ConnectTest : public ::testing::Test {
protected:
    void SetUp() override { logger.store(&log); }
    void TearDown() override { logger.store(nullptr); }

    std::string Take(Protocol& protocol, char*& message) {
        std::string text = message ? message : "<null>";
        protocol.FreeMsg(message);
        message = nullptr;
        return text;
    }
    // Lines the test itself wrote (the transport logs at other levels).
    std::vector<std::string> TestLines() {
        std::vector<std::string> lines;
        for (auto& line : log.Lines())
            if ((line.level == kTrace || line.level == kError) &&
                line.text.find("TestConnect") != std::string::npos)
                lines.push_back(std::to_string(line.level) + " " + line.text);
        return lines;
    }

    IdlePoolSetAside fresh;  // no authentication state left by other tests
    RecordingLogger log;
    ScriptedServer server;
};

TEST_F(ConnectTest, SuccessLearnsTheOfferedScheme) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    protocol.SetOpt("user", "alice");
    protocol.SetOpt("password", "secret");
    protocol.authType = 2;  // whatever was learnt before is forgotten first
    server.Respond(401, "", {{"WWW-Authenticate", "Basic realm=\"r\""}});
    server.Respond(207, kListing, {{"Content-Type", "application/xml"}});
    char* message = nullptr;
    EXPECT_EQ(protocol.TestConnect(&message), SUCCESS);
    EXPECT_EQ(Take(protocol, message), "207 Multi-Status");
    EXPECT_EQ(protocol.authType.load(), 1);
    EXPECT_EQ(TestLines(), std::vector<std::string>{"1025 TestConnect WebDAV auth type : [1]"});

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "PROPFIND");
    EXPECT_EQ(requests[0].target, "/dav");
    EXPECT_EQ(requests[0].Header("Depth"), "1");
    EXPECT_EQ(requests[1].Header("Authorization"), "Basic YWxpY2U6c2VjcmV0");
}

TEST_F(ConnectTest, NoAuthenticationNeededKeepsEveryScheme) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    server.Respond(207, kListing);
    EXPECT_EQ(protocol.TestConnect(nullptr), SUCCESS);
    EXPECT_EQ(protocol.authType.load(), WEBDAV_CURLAUTH_ANY);
    EXPECT_EQ(TestLines(),
              std::vector<std::string>{"1025 TestConnect WebDAV auth type : [FFFFFFEF]"});
    EXPECT_TRUE(log.Has(kError, "do_propfind Got auth type but not support"));
}

TEST_F(ConnectTest, RefusalForgetsTheLearntScheme) {
    Protocol protocol((server.url() + "/dav").c_str(), nullptr);
    server.Respond(401, "", {{"WWW-Authenticate", "Basic realm=\"r\""}});
    server.Respond(207, kListing);
    ASSERT_EQ(protocol.TestConnect(nullptr), SUCCESS);
    ASSERT_EQ(protocol.authType.load(), 1);
    log.Clear();

    // libcurl may try the (empty) credentials once more before giving up.
    for (int i = 0; i < 2; ++i)
        server.Respond(401, "", {{"WWW-Authenticate", "Basic realm=\"r\""}});
    char* message = nullptr;
    EXPECT_EQ(protocol.TestConnect(&message), ACCESS_DENIED);
    EXPECT_EQ(Take(protocol, message), "401 Unauthorized");
    EXPECT_EQ(protocol.authType.load(), WEBDAV_CURLAUTH_ANY);
    EXPECT_TRUE(TestLines().empty()) << log.Dump();  // HTTP failures are not logged here
}

TEST_F(ConnectTest, HttpFailuresMapToResults) {
    struct Case {
        int status;
        AERROR verdict;
        const char* message;
    };
    for (Case c :
         {Case{403, ACCESS_DENIED, "403 Forbidden"}, Case{404, PATH_NOT_FOUND, "404 Not Found"},
          Case{500, FAILED, "500 Internal Server Error"},
          Case{405, FAILED, "405 Method Not Allowed"}}) {
        ScriptedServer one;
        Protocol protocol((one.url() + "/dav").c_str(), nullptr);
        protocol.authType = 1;
        one.Respond(c.status, "");
        char* message = nullptr;
        EXPECT_EQ(protocol.TestConnect(&message), c.verdict) << c.status;
        EXPECT_EQ(Take(protocol, message), c.message);
        EXPECT_EQ(protocol.authType.load(), WEBDAV_CURLAUTH_ANY);
        EXPECT_TRUE(one.Failures().empty());
    }
    EXPECT_TRUE(TestLines().empty()) << log.Dump();
}

TEST_F(ConnectTest, NoServerListening) {
    int port;
    {
        ScriptedServer gone;
        port = gone.port();
    }
    Protocol protocol(("http://127.0.0.1:" + std::to_string(port) + "/dav").c_str(), nullptr);
    char* message = nullptr;
    EXPECT_EQ(protocol.TestConnect(&message), FAILED);
    std::string text = Take(protocol, message);
    EXPECT_NE(text.find("127.0.0.1"), std::string::npos) << text;
    EXPECT_EQ(TestLines(),
              std::vector<std::string>{"1032 TestConnect TestConnect , curl error: [7]"});
    EXPECT_EQ(protocol.tlsFallback.load(), 0);
}

TEST_F(ConnectTest, FailedHandshakeFallsBackOnceAndOnlyOnce) {
    RawListener plain(RawListener::PlainTextAnswer());
    Protocol protocol(("https://127.0.0.1:" + std::to_string(plain.port()) + "/dav").c_str(),
                      nullptr);
    char* message = nullptr;
    EXPECT_EQ(protocol.TestConnect(&message), FAILED);
    EXPECT_FALSE(Take(protocol, message).empty());
    EXPECT_EQ(protocol.tlsFallback.load(), 1);
    EXPECT_EQ(plain.Connections(), 2);
    EXPECT_EQ(TestLines(), (std::vector<std::string>{
                               "1032 TestConnect TestConnect , curl error: [35]",
                               "1032 TestConnect retry to TestConnect for SSLv3",
                               "1032 TestConnect TestConnect , curl error: [35]",
                           }));

    // A later test does not retry.
    log.Clear();
    EXPECT_EQ(protocol.TestConnect(nullptr), FAILED);
    EXPECT_EQ(plain.Connections(), 3);
    EXPECT_EQ(TestLines(),
              std::vector<std::string>{"1032 TestConnect TestConnect , curl error: [35]"});
}

TEST_F(ConnectTest, FallbackAttemptCanSucceed) {
    RealServer tls("lighttpd", {"none", true});
    ASSERT_TRUE(tls.ok()) << tls.error();
    std::string tlsPort = tls.url().substr(tls.url().rfind(':') + 1);
    tlsPort = tlsPort.substr(0, tlsPort.find('/'));
    // The first handshake meets plain text, the second reaches the server.
    RawListener front(RawListener::PlainThenForward(1, std::stoi(tlsPort)));
    Protocol protocol(("https://127.0.0.1:" + std::to_string(front.port()) + "/dav").c_str(),
                      nullptr);
    char* message = nullptr;
    EXPECT_EQ(protocol.TestConnect(&message), SUCCESS) << log.Dump();
    EXPECT_EQ(Take(protocol, message), "207 Multi-status");  // lighttpd's spelling
    EXPECT_EQ(protocol.tlsFallback.load(), 1);
    EXPECT_EQ(TestLines(), (std::vector<std::string>{
                               "1032 TestConnect TestConnect , curl error: [35]",
                               "1032 TestConnect retry to TestConnect for SSLv3",
                               "1025 TestConnect WebDAV auth type : [FFFFFFEF]",
                           }));
}

}  // namespace
