// The bearer signer: the token is asked from the host at every signing and
// lands in exactly one header; extra parameters land in the query.
#include "common/curlauth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/curllogger.h"
#include "support/scripted_server.h"

namespace {

class HostAuth : public IAuth {
public:
    bool GetValue(const char* name, char* buffer, int* length) override {
        std::lock_guard<std::mutex> guard(lock);
        lastName = name;
        capacity = *length;
        ++lookups;
        if (fail) return false;
        if (unterminated) {
            std::memset(buffer, 'T', static_cast<size_t>(*length));
            return true;
        }
        std::snprintf(buffer, static_cast<size_t>(*length), "%s", token.c_str());
        return true;
    }
    bool Refresh() override {
        std::lock_guard<std::mutex> guard(lock);
        ++refreshes;
        token = "renewed-" + std::to_string(refreshes);
        return true;
    }

    std::mutex lock;
    std::string token = "first-token";
    std::string lastName;
    int capacity = 0;
    int lookups = 0;
    int refreshes = 0;
    bool fail = false;
    bool unterminated = false;
};

TEST(CURLAuth, SignsWithOneBearerHeaderAndNoQuery) {
    auto host = std::make_shared<HostAuth>();
    CURLAuth signer(host);
    CURLLogger request;
    signer.SignAuthentication(request);
    EXPECT_EQ(host->lastName, "access_token");
    EXPECT_EQ(host->capacity, 65536);
    auto headers = request.GetHeader();
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers["Authorization"], "Bearer first-token");
    EXPECT_TRUE(request.GetQuery().empty());

    // Signing again replaces, never duplicates.
    signer.SignAuthentication(&request);
    EXPECT_EQ(request.GetHeader().size(), 1u);
}

TEST(CURLAuth, ParametersAndRenewedTokensReachTheWire) {
    ScriptedServer server;
    server.Respond(200);
    server.Respond(200);
    auto host = std::make_shared<HostAuth>();
    CURLAuth signer(host);
    signer.AddAuth("scope", "a b");
    signer.AddAuth("scope", "files read");  // replaces
    EXPECT_EQ(signer.GetAuth("scope"), "files read");
    EXPECT_EQ(signer.GetAuth("missing"), "");
    EXPECT_EQ(signer.GetAuth().get(), host.get());

    auto request = std::make_shared<CURLLogger>();
    request->SetURL((server.url() + "/api").c_str());
    signer.SignAuthentication(std::shared_ptr<CURLImpl>(request));
    EXPECT_EQ(request->BuildQueryString(true), "scope=files%20read");
    ASSERT_EQ(request->PerformGet(nullptr, nullptr).code, CURLE_OK);

    signer.RefreshAuth();
    EXPECT_EQ(host->refreshes, 1);
    signer.SignAuthentication(*request);
    ASSERT_EQ(request->PerformGet(nullptr, nullptr).code, CURLE_OK);

    auto sent = server.Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].target, "/api?scope=files%20read");
    EXPECT_EQ(sent[0].Header("Authorization"), "Bearer first-token");
    EXPECT_EQ(sent[1].Header("Authorization"), "Bearer renewed-1");
    int authorizations = 0;
    for (auto& h : sent[1].headers) authorizations += h.first == "Authorization";
    EXPECT_EQ(authorizations, 1);
}

TEST(CURLAuth, UnusableTokensFromTheHostStayContained) {
    auto host = std::make_shared<HostAuth>();
    CURLAuth signer(host);

    host->fail = true;  // no stale buffer contents on a failed lookup
    EXPECT_EQ(signer.GetToken(), "");

    host->fail = false;
    host->unterminated = true;  // the whole block filled, no NUL
    EXPECT_EQ(signer.GetToken(), std::string(65535, 'T'));

    host->unterminated = false;
    host->token = "abc\r\nX-Injected: 1";
    EXPECT_EQ(signer.GetToken(), "abc");
    CURLLogger request;
    signer.SignAuthentication(request);
    EXPECT_EQ(request.GetHeader()["Authorization"], "Bearer abc");
}

TEST(CURLAuth, SigningAndRefreshingFromSeveralThreads) {
    auto host = std::make_shared<HostAuth>();
    CURLAuth signer(host);
    signer.AddAuth("client", "c1");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                if (t == 0) {
                    signer.RefreshAuth();
                    continue;
                }
                CURLLogger request;
                signer.SignAuthentication(request);
                std::string value = request.GetHeader()["Authorization"];
                EXPECT_EQ(value.compare(0, 7, "Bearer "), 0);
                EXPECT_EQ(request.GetQuery()["client"], "c1");
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(host->refreshes, 50);
    EXPECT_EQ(host->lookups, 150);
}

}  // namespace
