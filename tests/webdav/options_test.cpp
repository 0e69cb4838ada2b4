// Connection options: what SetOpt stores, and what each request carries on
// the wire, also when connections with different settings take turns on one
// pooled request object.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/logstate.h"
#include "idle_pool.h"
#include "raw_listener.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"
#include "webdav/protocol.h"

namespace {

const char kListing[] =
    "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/dav/</D:href>"
    "<D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop>"
    "</D:propstat></D:response></D:multistatus>";

// --- SetOpt --------------------------------------------------------------

class SetOptTest : public ::testing::Test {
protected:
    Protocol protocol{"http://127.0.0.1/dav", nullptr};
};

TEST_F(SetOptTest, NamedOptions) {
    EXPECT_TRUE(protocol.gzip);
    EXPECT_EQ(protocol.SetOpt("GZIP", "TRUE"), SUCCESS);
    EXPECT_TRUE(protocol.gzip);
    EXPECT_EQ(protocol.SetOpt("gzip", "1"), SUCCESS);
    EXPECT_FALSE(protocol.gzip);
    EXPECT_EQ(protocol.SetOpt("Ssl", "tRuE"), SUCCESS);
    EXPECT_TRUE(protocol.ssl);
    EXPECT_EQ(protocol.SetOpt("ssl", "yes"), SUCCESS);
    EXPECT_FALSE(protocol.ssl);
    EXPECT_EQ(protocol.SetOpt("USER", "bob"), SUCCESS);
    EXPECT_EQ(protocol.SetOpt("Password", "p w"), SUCCESS);
    EXPECT_EQ(protocol.SetOpt("user_agent", "Agent/1"), SUCCESS);
    EXPECT_EQ(protocol.user, "bob");
    EXPECT_EQ(protocol.password, "p w");
    EXPECT_EQ(protocol.userAgent, "Agent/1");

    EXPECT_EQ(protocol.SetOpt("speedlimit", "102400"), SUCCESS);
    EXPECT_EQ(protocol.speedLimit, 102400);
    EXPECT_EQ(protocol.SetOpt("SpeedLimit", "  -5kb"), SUCCESS);
    EXPECT_EQ(protocol.speedLimit, -5);
    EXPECT_EQ(protocol.SetOpt("speedlimit", "abc"), SUCCESS);
    EXPECT_EQ(protocol.speedLimit, 0);
    EXPECT_EQ(protocol.SetOpt("speedlimit", "8589934592"), SUCCESS);
    EXPECT_EQ(protocol.speedLimit, 8589934592LL);

    // Unknown names are accepted and change nothing.
    EXPECT_EQ(protocol.SetOpt("proxy_host", "p"), SUCCESS);
    EXPECT_EQ(protocol.proxyHost, "");
    // Missing texts are refused.
    EXPECT_EQ(protocol.SetOpt(nullptr, "x"), INVALID_PARAMETER);
    EXPECT_EQ(protocol.SetOpt("user", nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol.user, "bob");
}

TEST_F(SetOptTest, ExInfoSetsOnlyThePathsItHolds) {
    const std::string everything = R"({"data":{"user":"u","pwd":"p","user_agent":"ua",
        "proxy_host":"proxy","proxy_type":3,"proxy_user":"pu","proxy_pwd":"pp",
        "proxy_port":3128}})";
    EXPECT_EQ(protocol.SetOpt("ex_info", everything.c_str()), SUCCESS);
    EXPECT_EQ(protocol.exInfo, everything);
    EXPECT_EQ(protocol.user, "u");
    EXPECT_EQ(protocol.password, "p");
    EXPECT_EQ(protocol.userAgent, "ua");
    EXPECT_EQ(protocol.proxyHost, "proxy");
    EXPECT_EQ(protocol.proxyType, 3);
    EXPECT_EQ(protocol.proxyUser, "pu");
    EXPECT_EQ(protocol.proxyPassword, "pp");
    EXPECT_EQ(protocol.proxyPort, 3128);
    EXPECT_EQ(protocol.features, static_cast<PT_FEATURE>(0x120));

    EXPECT_EQ(protocol.SetOpt("EX_INFO", R"({"data":{"user":"v"}})"), SUCCESS);
    EXPECT_EQ(protocol.user, "v");
    EXPECT_EQ(protocol.password, "p");
    EXPECT_EQ(protocol.proxyHost, "proxy");
    EXPECT_EQ(protocol.SetOpt("ex_info", R"({"data":{"pwd":"q"}})"), SUCCESS);
    EXPECT_EQ(protocol.user, "v");
    EXPECT_EQ(protocol.password, "q");

    // Integers that are not JSON integers read as 0.
    EXPECT_EQ(protocol.SetOpt("ex_info", R"({"data":{"proxy_port":"8080","proxy_type":2.0}})"),
              SUCCESS);
    EXPECT_EQ(protocol.proxyPort, 0);
    EXPECT_EQ(protocol.proxyType, 0);

    // No data object: only exInfo changes.
    EXPECT_EQ(protocol.SetOpt("ex_info", R"({"user":"w","data":1})"), SUCCESS);
    EXPECT_EQ(protocol.exInfo, R"({"user":"w","data":1})");
    EXPECT_EQ(protocol.user, "v");
}

TEST_F(SetOptTest, ExInfoOptionBits) {
    auto option = [&](int bits) {
        std::string text = "{\"data\":{\"option\":" + std::to_string(bits) + "}}";
        EXPECT_EQ(protocol.SetOpt("ex_info", text.c_str()), SUCCESS);
    };
    option(0x60);
    EXPECT_EQ(protocol.features, static_cast<PT_FEATURE>(0x128));
    EXPECT_TRUE(protocol.markFiles);
    option(0x40);
    EXPECT_EQ(protocol.features, static_cast<PT_FEATURE>(0x128));
    EXPECT_FALSE(protocol.markFiles);  // bit 0x20 clear: off again
    option(0x0);
    EXPECT_EQ(protocol.features, static_cast<PT_FEATURE>(0x128));
    EXPECT_FALSE(protocol.convertNames);
    option(0xC0);
    EXPECT_EQ(protocol.features, static_cast<PT_FEATURE>(0x800));
    option(0x800);
    EXPECT_TRUE(protocol.convertNames);
    option(0x0);
    EXPECT_TRUE(protocol.convertNames);  // only ever switched on
    EXPECT_EQ(protocol.GetFeature(), static_cast<PT_FEATURE>(0x800));
    // A document without the option leaves the bits' fields alone.
    option(0x20);
    EXPECT_EQ(protocol.SetOpt("ex_info", R"({"data":{"user":"x"}})"), SUCCESS);
    EXPECT_TRUE(protocol.markFiles);
}

TEST_F(SetOptTest, ExInfoThatIsNotJsonThrowsTheBareParseError) {
    ASSERT_EQ(protocol.SetOpt("ex_info", R"({"data":{"user":"kept","proxy_host":"h"}})"), SUCCESS);
    for (const char* bad : {"", "{", "{\"data\":", "not json", "{\"data\":{\"user\":\"x\"}} x"}) {
        AERROR thrown = SUCCESS;
        try {
            protocol.SetOpt("ex_info", bad);
        } catch (AERROR e) {
            thrown = e;
        }
        EXPECT_EQ(thrown, JSON_PARSE_ERROR) << bad;
        EXPECT_EQ(protocol.exInfo, bad);
        EXPECT_EQ(protocol.user, "kept");
        EXPECT_EQ(protocol.proxyHost, "h");
    }
}

// --- What requests carry -----------------------------------------------

class WireTest : public ::testing::Test {
protected:
    void SetUp() override { logger.store(&log); }
    void TearDown() override { logger.store(nullptr); }

    AERROR List(Protocol& protocol) {
        ListSink sink;
        return protocol.GetFileList(nullptr, &sink, nullptr);
    }

    IdlePoolSetAside fresh;  // one new request object, shared by every call below
    RecordingLogger log;
    ScriptedServer origin;
};

TEST_F(WireTest, UserAgentOfEachConnection) {
    Protocol custom((origin.url() + "/dav").c_str(), nullptr);
    custom.SetOpt("user_agent", "AgentA/1.0");
    Protocol plain((origin.url() + "/dav").c_str(), nullptr);
    Protocol viaJson((origin.url() + "/dav").c_str(), nullptr);
    viaJson.SetOpt("ex_info", R"({"data":{"user_agent":"AgentJ"}})");

    for (int i = 0; i < 4; ++i) origin.Respond(207, kListing);
    EXPECT_EQ(List(custom), SUCCESS);
    EXPECT_EQ(List(plain), SUCCESS);
    EXPECT_EQ(List(viaJson), SUCCESS);
    EXPECT_EQ(List(plain), SUCCESS);
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].Header("User-Agent"), "AgentA/1.0");
    EXPECT_EQ(requests[1].Header("User-Agent"), "Tessaryn(gzip)");
    EXPECT_EQ(requests[2].Header("User-Agent"), "AgentJ");
    EXPECT_EQ(requests[3].Header("User-Agent"), "Tessaryn(gzip)");
    EXPECT_EQ(origin.ConnectionCount(), 1);  // one request object, one kept-alive connection
}

TEST_F(WireTest, CredentialsOfEachConnection) {
    Protocol alice((origin.url() + "/dav").c_str(), nullptr);
    alice.SetOpt("user", "alice");
    alice.SetOpt("password", "secret");
    alice.authType = 1;  // Basic, as a connection test would have learnt
    Protocol anonymous((origin.url() + "/dav").c_str(), nullptr);
    Protocol bob((origin.url() + "/dav").c_str(), nullptr);
    bob.SetOpt("ex_info", R"({"data":{"user":"bob","pwd":"pw"}})");
    bob.authType = 1;

    for (int i = 0; i < 3; ++i) origin.Respond(207, kListing);
    EXPECT_EQ(List(alice), SUCCESS);
    EXPECT_EQ(List(anonymous), SUCCESS);
    EXPECT_EQ(List(bob), SUCCESS);
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Authorization"), "Basic YWxpY2U6c2VjcmV0");
    // libcurl may still say "Basic" from the last exchange, but only with this
    // connection's own (empty) credentials.
    std::string anonymousAuth = requests[1].Header("Authorization");
    EXPECT_TRUE(anonymousAuth.empty() || anonymousAuth == "Basic Og==") << anonymousAuth;
    EXPECT_EQ(requests[2].Header("Authorization"), "Basic Ym9iOnB3");
}

TEST_F(WireTest, ProxyOfEachConnection) {
    ScriptedServer proxy;
    const std::string proxyPort = std::to_string(proxy.port());
    Protocol proxied((origin.url() + "/dav").c_str(), nullptr);
    proxied.SetOpt("ex_info",
                   ("{\"data\":{\"proxy_host\":\"127.0.0.1\",\"proxy_port\":" + proxyPort +
                    ",\"proxy_type\":4,\"proxy_user\":\"pu\",\"proxy_pwd\":\"pp\"}}")
                       .c_str());
    Protocol direct((origin.url() + "/dav").c_str(), nullptr);
    // Proxy fields without a host mean no proxy.
    direct.SetOpt("ex_info", ("{\"data\":{\"proxy_port\":" + proxyPort +
                              ",\"proxy_type\":3,\"proxy_user\":\"x\",\"proxy_pwd\":\"y\"}}")
                                 .c_str());

    proxy.Respond(207, kListing);
    origin.Respond(207, kListing);
    proxy.Respond(207, kListing);
    EXPECT_EQ(List(proxied), SUCCESS);
    EXPECT_EQ(List(direct), SUCCESS);
    EXPECT_EQ(List(proxied), SUCCESS);

    auto viaProxy = proxy.Requests();
    ASSERT_EQ(viaProxy.size(), 2u);
    for (auto& request : viaProxy) {
        EXPECT_EQ(request.method, "PROPFIND");
        EXPECT_EQ(request.target, origin.url() + "/dav");  // absolute form: a plain proxy
        EXPECT_EQ(request.Header("Proxy-Authorization"), "Basic cHU6cHA=");
    }
    auto toOrigin = origin.Requests();
    ASSERT_EQ(toOrigin.size(), 1u);
    EXPECT_EQ(toOrigin[0].target, "/dav");
    EXPECT_FALSE(toOrigin[0].HasHeader("Proxy-Authorization"));
    EXPECT_FALSE(toOrigin[0].HasHeader("Proxy-Connection"));
}

TEST_F(WireTest, ProxyKindsAndTunnelDoNotCarryOver) {
    ScriptedServer proxy;
    RawListener socks(RawListener::Capture());
    auto proxyJson = [](int port, int type) {
        return "{\"data\":{\"proxy_host\":\"127.0.0.1\",\"proxy_port\":" + std::to_string(port) +
               ",\"proxy_type\":" + std::to_string(type) + "}}";
    };
    Protocol tunnel((origin.url() + "/dav").c_str(), nullptr);
    tunnel.SetOpt("ex_info", proxyJson(proxy.port(), 3).c_str());
    Protocol plainHttp((origin.url() + "/dav").c_str(), nullptr);
    plainHttp.SetOpt("ex_info", proxyJson(proxy.port(), 0).c_str());
    Protocol socks5((origin.url() + "/dav").c_str(), nullptr);
    socks5.SetOpt("ex_info", proxyJson(socks.port(), 2).c_str());
    Protocol socks4a((origin.url() + "/dav").c_str(), nullptr);
    socks4a.SetOpt("ex_info", proxyJson(socks.port(), 1).c_str());
    Protocol direct((origin.url() + "/dav").c_str(), nullptr);

    proxy.Respond(403, "");  // the tunnel is refused
    EXPECT_EQ(List(tunnel), FAILED);
    proxy.Respond(207, kListing);
    EXPECT_EQ(List(plainHttp), SUCCESS);
    EXPECT_EQ(List(socks5), FAILED);
    EXPECT_EQ(List(socks4a), FAILED);
    proxy.Respond(207, kListing);
    EXPECT_EQ(List(plainHttp), SUCCESS);
    origin.Respond(207, kListing);
    EXPECT_EQ(List(direct), SUCCESS);

    auto viaProxy = proxy.Requests();
    ASSERT_EQ(viaProxy.size(), 3u);
    EXPECT_EQ(viaProxy[0].method, "CONNECT");
    EXPECT_EQ(viaProxy[0].target, origin.url().substr(7));  // "127.0.0.1:port"
    EXPECT_EQ(viaProxy[1].method, "PROPFIND");
    EXPECT_EQ(viaProxy[1].target, origin.url() + "/dav");
    EXPECT_EQ(viaProxy[2].method, "PROPFIND");
    EXPECT_EQ(viaProxy[2].target, origin.url() + "/dav");

    auto greetings = socks.Received();
    ASSERT_EQ(greetings.size(), 2u);
    ASSERT_FALSE(greetings[0].empty());
    ASSERT_FALSE(greetings[1].empty());
    EXPECT_EQ(greetings[0][0], '\x05');  // SOCKS5
    EXPECT_EQ(greetings[1][0], '\x04');  // SOCKS4a
    ASSERT_EQ(origin.Requests().size(), 1u);
    EXPECT_EQ(origin.Requests()[0].target, "/dav");
}

TEST_F(WireTest, NoProxyMeansNoneEvenFromTheEnvironment) {
    ScriptedServer envProxy;
    std::string proxyUrl = envProxy.url();
    setenv("http_proxy", proxyUrl.c_str(), 1);
    setenv("HTTP_PROXY", proxyUrl.c_str(), 1);
    setenv("ALL_PROXY", proxyUrl.c_str(), 1);
    Protocol direct((origin.url() + "/dav").c_str(), nullptr);
    origin.Respond(207, kListing);
    envProxy.Respond(207, kListing);
    EXPECT_EQ(List(direct), SUCCESS);
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    unsetenv("ALL_PROXY");
    EXPECT_EQ(origin.Requests().size(), 1u);
    EXPECT_TRUE(envProxy.Requests().empty());
}

// Cipher suites offered by a TLS ClientHello (record and handshake headers
// as TLS 1.2 and 1.3 clients send them).
std::vector<int> OfferedCipherSuites(const std::string& hello) {
    std::vector<int> suites;
    const auto* b = reinterpret_cast<const unsigned char*>(hello.data());
    if (hello.size() < 44 || b[0] != 0x16 || b[5] != 0x01) return suites;
    size_t at = 43;   // 5 record + 4 handshake + 2 version + 32 random
    at += 1 + b[at];  // session id
    if (at + 2 > hello.size()) return suites;
    size_t length = (b[at] << 8) | b[at + 1];
    at += 2;
    for (size_t i = 0; i + 1 < length && at + i + 1 < hello.size(); i += 2)
        suites.push_back((b[at + i] << 8) | b[at + i + 1]);
    return suites;
}

bool Offers(const std::vector<int>& suites, int suite) {
    for (int s : suites)
        if (s == suite) return true;
    return false;
}

TEST_F(WireTest, TlsFallbackCipherListStaysWithItsConnection) {
    RawListener capture(RawListener::Capture());
    const std::string url = "https://127.0.0.1:" + std::to_string(capture.port()) + "/dav";
    Protocol fallback(url.c_str(), nullptr);
    fallback.tlsFallback = 1;
    Protocol modern(url.c_str(), nullptr);
    Protocol sslOff(url.c_str(), nullptr);
    sslOff.tlsFallback = 1;
    sslOff.SetOpt("ssl", "false");  // the URL still selects TLS, but no old ciphers

    EXPECT_EQ(List(fallback), FAILED);
    EXPECT_EQ(List(modern), FAILED);
    EXPECT_EQ(List(sslOff), FAILED);
    EXPECT_EQ(List(fallback), FAILED);

    auto hellos = capture.Received();
    ASSERT_EQ(hellos.size(), 4u);
    std::vector<std::vector<int>> suites;
    for (auto& hello : hellos) suites.push_back(OfferedCipherSuites(hello));
    const int kGcm = 0xC02F;  // ECDHE-RSA-AES128-GCM-SHA256, not a TLSv1 cipher
    const int kCbc = 0xC013;  // ECDHE-RSA-AES128-SHA, a TLSv1 cipher
    for (auto& offered : suites) ASSERT_TRUE(Offers(offered, kCbc));
    EXPECT_FALSE(Offers(suites[0], kGcm));
    EXPECT_TRUE(Offers(suites[1], kGcm));
    EXPECT_TRUE(Offers(suites[2], kGcm));
    EXPECT_FALSE(Offers(suites[3], kGcm));
}

}  // namespace
