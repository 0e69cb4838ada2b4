// Connection options: what SetOpt stores, and what each request carries on the
// wire when connections with different settings take turns on one pooled
// request object (the TLS fallback's cipher list: connect_test_test).

#include "raw_listener.h"
#include "support/dataops_fixture.h"

namespace {

std::string Fields(const Protocol& p) {
    char text[512];
    snprintf(text, sizeof text,
             " gzip=%d ssl=%d %s:%s ua=%s proxy=%s:%d/%d %s:%s speed=%lld %x mark=%d names=%d ",
             p.gzip, p.ssl, p.user.c_str(), p.password.c_str(), p.userAgent.c_str(),
             p.proxyHost.c_str(), p.proxyPort, p.proxyType, p.proxyUser.c_str(),
             p.proxyPassword.c_str(), p.speedLimit, static_cast<unsigned>(p.features), p.markFiles,
             p.convertNames);
    return text;
}

TEST(Options, NamedOptionsAndExInfoPathsAndBits) {
    // applied in turn to one object: the name, the value, and fields it then holds
    // clang-format off
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"GZIP", "TRUE", "gzip=1"}, {"gzip", "1", "gzip=0"}, {"Ssl", "tRuE", "ssl=1"},
        {"ssl", "yes", "ssl=0"}, {"USER", "bob", "bob:"}, {"Password", "pw", "bob:pw"},
        {"user_agent", "A/1", "ua=A/1"}, {"speedlimit", "102400", "speed=102400"},
        {"SpeedLimit", "abc", "speed=0"}, {"proxy_host", "p", "proxy=:0/0"},  // not a name
        {"ex_info", R"({"data":{"user":"u","pwd":"p","user_agent":"ua","proxy_host":"h",)"
                    R"("proxy_type":3,"proxy_user":"pu","proxy_pwd":"pp","proxy_port":3128}})",
         "u:p ua=ua proxy=h:3128/3 pu:pp"},
        {"EX_INFO", R"({"data":{"user":"v"}})", "v:p ua=ua proxy=h:3128/3 pu:pp"},
        {"ex_info", R"({"data":{"proxy_port":"1","proxy_type":2.0}})", "proxy=h:0/0"},  // no ints
        {"ex_info", R"({"data":{"option":96}})", "128 mark=1 names=0"},
        {"ex_info", R"({"data":{"option":64}})", "128 mark=0 names=0"},
        {"ex_info", R"({"data":{"option":2048}})", "128 mark=0 names=1"},
        {"ex_info", R"({"data":{"option":224}})", "800 mark=1 names=1"},
        {"ex_info", R"({"data":{"option":0}})", "800 mark=0 names=1"},
        {"ex_info", "", "threw 6001 stored"}, {"ex_info", R"({"data":)", "threw 6001 stored"}};
    // clang-format on
    Protocol p("http://127.0.0.1/dav", nullptr);
    for (auto& [name, value, fields] : rows) {
        std::string before = Fields(p), outcome;
        try {
            outcome = std::to_string(p.SetOpt(name, value));
            outcome += Fields(p);
        } catch (AERROR e) {  // the bare parse error goes to the host, and nothing else changes
            bool stored = before == Fields(p) && p.exInfo == value;
            outcome = " threw " + std::to_string(e) + (stored ? " stored " : " ");
        }
        EXPECT_NE(outcome.find(std::string(" ") + fields + " "), std::string::npos) << outcome;
    }
}

// Connections with their own settings take turns on the one request object the
// pool lends again and again (a proxy in the environment must not be used either).
TEST(Options, WhatEachConnectionSendsOnOnePooledHandle) {
    ScriptedServer origin, proxy;
    setenv("http_proxy", proxy.url().c_str(), 1);
    const int any = WEBDAV_CURLAUTH_ANY;
    // the members of the ex_info data object (%P: the proxy's port, %S: the SOCKS port), the
    // scheme a connection test would have learnt; what the origin (o) or HTTP proxy (p) got
    // (%o: the origin), or the version byte of the SOCKS greeting (s)
    using Row = std::tuple<std::string, int, char, std::string>;
    const std::string host = R"("proxy_host":"127.0.0.1",)";
    // clang-format off
    const Row rows[] = {
        {R"("user_agent":"A/1","user":"alice","pwd":"secret")", 1, 'o',
         " PROPFIND /dav User-Agent=A/1 Authorization=Basic YWxpY2U6c2VjcmV0;"},
        {host + R"("proxy_port":%P,"proxy_type":4,"proxy_user":"pu","proxy_pwd":"pp",)"
                R"("user":"bob","pwd":"pw")", 1, 'p',
         " PROPFIND http://%o/dav User-Agent=Tessaryn(gzip) Authorization=Basic Ym9iOnB3"
         " Proxy-Authorization=Basic cHU6cHA=;"},
        {R"("user_agent":"J","proxy_port":%P,"proxy_type":4,"proxy_user":"pu")", any, 'o',
         " PROPFIND /dav User-Agent=J;"},  // no host, no proxy
        {host + R"("proxy_port":%P,"proxy_type":3,"proxy_user":"cu","proxy_pwd":"cp")", any, 'p',
         " CONNECT %o User-Agent=Tessaryn(gzip) Proxy-Authorization=Basic Y3U6Y3A=;"},
        {host + R"("proxy_port":%S,"proxy_type":2)", any, 's', "\x05"},
        {host + R"("proxy_port":%S,"proxy_type":1)", any, 's', "\x04"},
        {host + R"("proxy_port":%P,"proxy_user":"du","proxy_pwd":"dp")", any, 'p',
         " PROPFIND http://%o/dav User-Agent=Tessaryn(gzip) Proxy-Authorization=Basic ZHU6ZHA=;"},
        {"", any, 'o', " PROPFIND /dav User-Agent=Tessaryn(gzip);"},
    };
    // clang-format on
    std::string socksSeen, socksWanted;
    auto greetings = FirstBytes([&](int socks) {
        auto fill = [&](std::string text) {
            text = ReplaceAll(text, "%P", std::to_string(proxy.port()));
            text = ReplaceAll(text, "%S", std::to_string(socks));
            return ReplaceAll(text, "%o", origin.url().substr(7));
        };
        for (auto& [data, authType, via, seen] : rows) {
            SCOPED_TRACE(data);
            Protocol p((origin.url() + "/dav").c_str(), nullptr);
            p.SetOpt("ex_info", fill("{\"data\":{" + data + "}}").c_str());
            p.authType = authType;
            bool refused = seen.find("CONNECT") != std::string::npos;
            ScriptedServer& http = via == 'o' ? origin : proxy;
            if (via != 's') http.Respond(refused ? 403 : 207, Multistatus({{"/dav/", -1}}));
            EXPECT_EQ(p.GetFileList(nullptr, nullptr, nullptr),
                      via == 's' || refused ? FAILED : SUCCESS);
            auto sent = http.Requests();
            if (via == 's')
                socksWanted += seen;
            else
                EXPECT_EQ(Wire(sent, sent.size() - 1,
                               {"User-Agent", "Authorization", "Proxy-Authorization"}),
                          fill(seen));
        }
    });
    for (auto& greeting : greetings) socksSeen += greeting.substr(0, 1);
    EXPECT_EQ(socksSeen, socksWanted);
    unsetenv("http_proxy");
    EXPECT_TRUE(proxy.Failures().empty());
    EXPECT_EQ(origin.ConnectionCount(), 1);  // one request object, one kept-alive connection
}

}  // namespace
