// The bearer signer asks the host for the token at every signing.
#include "common/curlauth.h"

#include <gtest/gtest.h>

#include "common/curllogger.h"

struct HostAuth : IAuth {
    bool GetValue(const char* name, char* buffer, int* length) override {
        asked = name + std::to_string(*length);
        std::fill(buffer, buffer + *length, 'T');  // a token that fills the block, without NUL
        return *token != '-' && snprintf(buffer, *token == '*' ? 0 : 99, "%s", token) >= 0;
    }
    bool Refresh() override { return token = "renewed", true; }
    const char* token = "";
    std::string asked;
};

// Pairs: what the host holds ("-": the lookup fails, "*": the block is full, "": the host
// renews it first), then the token the one header carries.
TEST(CURLAuth, SignsWithTheHostsCurrentTokenAndNothingAfterIt) {
    auto host = std::make_shared<HostAuth>();
    CURLAuth signer(host);
    signer.AddAuth("scope", "a b");
    const std::string all(65535, 'T');
    const char* rows[] = {"one", "one", "",          "renewed",     "-",
                          "",    "*",   all.c_str(), "abc\r\nX: 1", "abc"};
    for (size_t i = 0; i < std::size(rows); i += 2) {
        host->token = rows[i];
        if (!*rows[i]) signer.RefreshAuth();
        auto request = std::make_shared<CURLLogger>();
        signer.SignAuthentication(std::shared_ptr<CURLImpl>(request));
        auto header = request->GetHeader();
        std::string sent = header.size() == 1 ? header["Authorization"] : "";
        EXPECT_EQ(sent + "|" + host->asked + "|" + request->BuildQueryString(true),
                  "Bearer " + std::string(rows[i + 1]) + "|access_token65536|scope=a%20b");
    }
}
