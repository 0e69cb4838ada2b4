// The protocol object's own state: the address taken apart, percent-encoding,
// the caller-buffer getters and the quota callback.
#include "webdav/protocol.h"

#include <gtest/gtest.h>

namespace {

TEST(Protocol, AddressSplitsIntoEncodedBaseUrlAndRootPath) {
    const std::tuple<const char*, std::string, std::string, bool> rows[] = {
        {"https://host/files/dav/", "https://host/files/dav", "/files/dav", true},
        {"http://host:8080", "http://host:8080", "", false},
        {"host/share", "host/share", "/share", false},
        {"http://host/a//", "http://host/a/", "/a", false},
        {"http://u:p@host/a b/\xc3\xbc~/", "http://u:p@host/a%20b/%C3%BC%7E", "/a b/\xc3\xbc~",
         false},
        // already encoded (from an address bar): used as it stands, matched decoded
        {"http://host/My%20Files/%c3%bc x/", "http://host/My%20Files/%c3%bc%20x",
         "/My Files/\xc3\xbc x", false},
        {"http://host/100% sure", "http://host/100%25%20sure", "/100% sure", false}};
    for (auto& [address, url, rootPath, ssl] : rows) {
        Protocol p(address, nullptr);
        EXPECT_EQ(std::tie(p.url, p.rootPath, p.ssl), std::tie(url, rootPath, ssl)) << address;
    }
    EXPECT_EQ(URLEncode("azAZ09/_-. ~+%?#&;\xc3\xa9\x01\xff"),
              "azAZ09/_-.%20%7E%2B%25%3F%23%26%3B%C3%A9%01%FF");
}

TEST(Protocol, GettersCopyOnlyWhenTheTextAndItsNulFit) {
    Protocol p("http://host/a b", nullptr);
    char buffer[64] = "untouched";
    int size = 17;  // the length of "http://host/a%20b"
    EXPECT_EQ(p.GetUserInfo(buffer, &size), INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(p.GetUserInfo(buffer, &++size), SUCCESS);
    EXPECT_STREQ(buffer, "http://host/a%20b");
    EXPECT_EQ(p.GetUserInfo(buffer, nullptr), ACCESS_DENIED);
    EXPECT_EQ(p.GetRootID(buffer, &size), SUCCESS);
    EXPECT_EQ(std::string(buffer) + std::to_string(size), "0");  // the empty root and its length
    EXPECT_EQ(p.GetRootID(buffer, &size), INSUFFICIENT_BUFFER);  // no room for the NUL
}

TEST(Protocol, QuotaTakesOnlyAcceptedCallbackAnswers) {
    Protocol p("http://host", nullptr);
    int accept = 0;  // 2: the callback throws
    p.SetQuota(50, 5);
    p.SetQuotaCallback(&accept, [](void* yes, void*, long long* total, long long* left) {
        std::tie(*total, *left) = std::make_pair(1000, 400);
        if (*static_cast<int*>(yes) == 2) throw 1;
        return *static_cast<int*>(yes) == 1;
    });
    unsigned long long total = 0, used = 0;
    for (int answer : {0, 2, 1}) {
        accept = answer;
        EXPECT_EQ(p.GetQuota(&total, &used), answer == 2 ? FAILED : SUCCESS);
        EXPECT_EQ(std::make_pair(total, used),
                  std::make_pair(answer == 1 ? 1000ULL : 50ULL, answer == 1 ? 600ULL : 5ULL));
    }
}

}  // namespace
