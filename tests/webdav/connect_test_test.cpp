// The connection test: its verdicts, the authentication scheme it learns or
// forgets, and the one fallback to old TLS ciphers after a failed handshake.

#include "raw_listener.h"
#include "support/dataops_fixture.h"

namespace {

using ConnectTest = DataOpsTest;

TEST_F(ConnectTest, VerdictsAndTheLearntScheme) {
    // the answers (none: nothing listens) and the schemes each 401 offers; the verdict, the
    // scheme then used (any other outcome than success forgets what was learnt), the message,
    // whether the scheme was logged, and each request's Depth and the scheme it answered with
    using Row = std::tuple<std::vector<int>, std::string, std::string>;
    // clang-format off
    const std::string once = " PROPFIND /dav 1;", again = once + " PROPFIND /dav 1 ";
    const Row rows[] = {
        {{401, 207}, "Basic", "0 1 207 Multi-Status logged;" + again + "Basic;"},
        {{401, 207}, "Digest", "0 2 207 Multi-Status logged;" + again + "Digest;"},
        {{401, 207}, "Basic Digest", "0 FFFFFFEF 207 Multi-Status logged;" + again + "Digest;"},
        {{207}, "", "0 FFFFFFEF 207 Multi-Status logged;" + once},
        {{401, 401}, "Basic", "23 FFFFFFEF 401 Unauthorized;" + again + "Basic;"},
        {{403}, "", "23 FFFFFFEF 403 Forbidden;" + once},
        {{404}, "", "19 FFFFFFEF 404 Not Found;" + once},
        {{500}, "", "1 FFFFFFEF 500 Internal Server Error;" + once},
        {{}, "", "1 FFFFFFEF Failed;"},
    };
    // clang-format on
    for (auto& [statuses, schemes, expected] : rows) {
        size_t before = server.Requests().size();
        std::vector<std::pair<std::string, std::string>> offers;
        for (std::string scheme : {"Basic", "Digest"})
            if (schemes.find(scheme) != std::string::npos)
                offers.push_back({"WWW-Authenticate", scheme + " realm=\"r\", nonce=\"n\""});
        for (int status : statuses)
            server.Respond(status, Multistatus({{"/dav/", -1}}),
                           status == 401 ? offers : decltype(offers){});
        Protocol p(((statuses.empty() ? ClosedLoopbackUrl() : server.url()) + "/dav").c_str(),
                   nullptr);
        p.SetOpt("ex_info", R"({"data":{"user":"alice","pwd":"secret"}})");
        p.authType = 8;  // learnt by an earlier test
        log.Clear();
        char *message = nullptr, scheme[16];
        AERROR verdict = p.TestConnect(&message);
        snprintf(scheme, sizeof scheme, "%X", p.authType.load());
        std::string text = Take(message);
        std::string outcome =
            std::to_string(verdict) + " " + scheme + " " + text.substr(0, text.find(" to "));
        if (log.Has(kTraceProtocol, std::string("TestConnect WebDAV auth type : [") + scheme + "]"))
            outcome += " logged";
        outcome += ";";
        auto sent = server.Requests();
        for (size_t i = before; i < sent.size(); ++i) {
            std::string answered = sent[i].Header("Authorization");
            outcome += " " + sent[i].method + " " + sent[i].target + " " + sent[i].Header("Depth") +
                       (answered.empty() ? "" : " " + answered.substr(0, answered.find(' '))) + ";";
        }
        EXPECT_EQ(outcome, expected);
    }
}

// Whether a TLS ClientHello offers the cipher suite (two bytes).
bool Offers(const std::string& hello, const char* suite) {
    auto byte = [&](size_t i) { return static_cast<size_t>(static_cast<uint8_t>(hello.at(i))); };
    size_t at = 44 + byte(43);  // record, handshake, version, random and session id
    for (size_t i = at + 2; i < at + 2 + (byte(at) << 8 | byte(at + 1)); i += 2)
        if (hello.compare(i, 2, suite) == 0) return true;
    return false;
}

TEST_F(ConnectTest, AFailedHandshakeFallsBackOnceAndForThatObjectOnly) {
    auto hellos = FirstBytes([](int port) {
        const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/dav";
        Protocol once(url.c_str(), nullptr), modern(url.c_str(), nullptr),
            off(url.c_str(), nullptr);
        off.tlsFallback = 1;
        off.SetOpt("ssl", "false");  // the URL still selects TLS, but not the old ciphers
        EXPECT_EQ(once.TestConnect(nullptr), FAILED);
        EXPECT_EQ(once.tlsFallback.load(), 1);
        EXPECT_EQ(once.TestConnect(nullptr), FAILED);  // the fallback is not taken twice
        EXPECT_EQ(modern.GetFileList(nullptr, nullptr, nullptr), FAILED);  // same pooled handle
        EXPECT_EQ(off.GetFileList(nullptr, nullptr, nullptr), FAILED);
    });
    ASSERT_EQ(hellos.size(), 5u);
    const bool modernSuites[] = {true, false, false, true, true};
    for (size_t i = 0; i < hellos.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(Offers(hellos[i], "\xC0\x13"));  // ECDHE-RSA-AES128-SHA, a TLSv1 cipher
        EXPECT_EQ(Offers(hellos[i], "\xC0\x2F"), modernSuites[i]);  // its GCM successor
    }
}

}  // namespace
