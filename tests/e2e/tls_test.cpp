// The TLS choices of "ex_info" against lighttpd and Apache serving a certificate of a private CA
// made at test time: each check does what it says, a refusal is FAILED with libcurl's reason and
// no fallback, and mounts that take turns on one pooled handle keep their own settings.
#include <gtest/gtest.h>

#include <list>
#include <memory>

#include "support/host_doubles.h"
#include "support/real_server.h"
#include "webdav/protocol.h"

namespace {

const char* const kWrongPin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

struct Row {
    const char* name;
    bool clientCertificate;  // against Apache requiring one; else against lighttpd and Apache
    std::string data;        // "data" members: "@" is the certificates' folder, PIN the server's
    AERROR verdict;
    const char* reason;   // start of the message
    bool byName = false;  // the URL names "localhost", which the certificate does not
};

const Row rows[] = {
    {"nothing asked: no checks, as documented", false, "", SUCCESS, "207"},
    {"the system's CAs do not know ours", false, R"("verify_tls":true)", FAILED,
     "SSL certificate problem: unable to get local issuer certificate"},
    {"the right CA", false, R"("ca_file":"@ca.pem")", SUCCESS, "207"},
    {"a CA that did not sign it, verify_tls false", false,
     R"("verify_tls":false,"ca_file":"@other-ca.pem")", FAILED, "SSL certificate problem"},
    {"the right CA for another host name", false, R"("ca_file":"@ca.pem")", FAILED,
     "SSL: no alternative certificate subject name matches", true},
    {"the server's pin, no chain check", false, R"("pinned_pubkey":"PIN")", SUCCESS, "207"},
    {"a wrong pin", false, R"("pinned_pubkey":")" + std::string(kWrongPin) + "\"", FAILED,
     "SSL: public key does not match pinned public key"},
    {"the pin among others, and the right CA", false,
     R"("ca_file":"@ca.pem","pinned_pubkey":")" + std::string(kWrongPin) + ";PIN\"", SUCCESS,
     "207"},
    {"the pin does not excuse an unknown CA", false, R"("verify_tls":true,"pinned_pubkey":"PIN")",
     FAILED, "SSL certificate problem"},
    {"a client certificate", true,
     R"("ca_file":"@ca.pem","client_cert":"@client.pem","client_key":"@client.key")", SUCCESS,
     "207"},
    {"no client certificate", true, R"("ca_file":"@ca.pem")", FAILED, ""},
};

class Tls : public testing::Test {
protected:
    static void SetUpTestSuite() {
        certs = std::make_unique<TestCertificates>();
        RealServerOptions options;
        options.cert = (*certs)("server.pem"), options.key = (*certs)("server.key");
        servers.emplace_back("lighttpd", options);
        servers.emplace_back("apache", options);
        options.clientCa = (*certs)("client-ca.pem");
        servers.emplace_back("apache", options);
    }
    static void TearDownTestSuite() {
        servers.clear();
        certs.reset();
    }
    // A mount of server with these "data" members; its connection test's result and message.
    static std::pair<AERROR, std::string> Connect(const RealServer& server, std::string data,
                                                  bool byName, bool list = false) {
        for (size_t at; (at = data.find('@')) != std::string::npos;)
            data.replace(at, 1, (*certs)(""));
        if (size_t at = data.find("PIN"); at != std::string::npos)
            data.replace(at, 3, certs->Pin());
        std::string url = server.url();
        if (byName) url.replace(url.find("127.0.0.1"), 9, "localhost");
        Protocol p(url.c_str(), nullptr);
        p.SetOpt("user", "alice");
        p.SetOpt("password", "secret");
        EXPECT_EQ(p.SetOpt("ex_info", ("{\"data\":{" + data + "}}").c_str()), SUCCESS);
        char* message = nullptr;
        ListSink sink;
        AERROR result = list ? p.GetFileList("", &sink, &message) : p.TestConnect(&message);
        std::string text = message ? message : "";
        p.FreeMsg(message);
        EXPECT_EQ(p.tlsFallback.load(), 0) << "retried with old ciphers";
        return {result, text};
    }
    static inline std::unique_ptr<TestCertificates> certs;
    static inline std::list<RealServer> servers;
};

// Before and after each row, a mount without checks (on the client-certificate server: with
// only the certificate) leaves a live connection on the same pooled handle (the pool lends the
// one last returned): the row must neither reuse it nor leave anything behind.
TEST_F(Tls, EachChoiceChecksWhatItSaysAndStaysWithItsMount) {
    for (auto& server : servers) ASSERT_TRUE(server.ok()) << server.error();
    const std::string plain = R"("client_cert":"@client.pem","client_key":"@client.key")";
    for (const Row& row : rows) {
        for (auto it = servers.begin(); it != servers.end(); ++it) {
            const bool clientServer = std::next(it) == servers.end();
            if (clientServer != row.clientCertificate) continue;
            SCOPED_TRACE(std::string(row.name) + " on " + it->url());
            std::string companion = clientServer ? plain : "";
            EXPECT_EQ(Connect(*it, companion, false).first, SUCCESS);
            for (bool list : {false, true}) {
                auto [result, message] = Connect(*it, row.data, row.byName, list);
                EXPECT_EQ(result, row.verdict) << message;
                EXPECT_EQ(message.rfind(row.reason, 0), 0u) << message;
                EXPECT_FALSE(message.empty());
            }
            EXPECT_EQ(Connect(*it, companion, false).first, SUCCESS);
        }
    }
}

}  // namespace
