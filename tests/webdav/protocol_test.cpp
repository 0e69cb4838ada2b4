// The protocol object's own state: address splitting, encoding, the
// caller-buffer getters, quota, features and the stubs.
#include "webdav/protocol.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Deleter {
    void operator()(Protocol* p) const { p->Release(); }
};
using Owned = std::unique_ptr<Protocol, Deleter>;

Owned Make(const char* address) {
    return Owned(new Protocol(address, nullptr));
}

TEST(URLEncode, KeepsOnlyTheUnreservedSetAndSlash) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"azAZ09/_-.", "azAZ09/_-."},
        {" ", "%20"},
        {"~+%?#&=:@!$'()*,;[]", "%7E%2B%25%3F%23%26%3D%3A%40%21%24%27%28%29%2A%2C%3B%5B%5D"},
        {"\xc3\xa9", "%C3%A9"},
        {"/My Files/\xc3\xbc", "/My%20Files/%C3%BC"},
        {"\x01\x7f\x80\xff", "%01%7F%80%FF"},
    };
    for (auto& c : cases) EXPECT_EQ(URLEncode(c.in), c.out) << c.in;
    EXPECT_EQ(URLEncode(nullptr), "");
}

TEST(URLEncode, EncodesEveryByteOfALongText) {
    std::string all;
    for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
    std::string encoded = URLEncode(all.c_str());
    EXPECT_EQ(encoded.size(), 66u + 189u * 3u);  // 66 kept, the rest three characters each
}

TEST(ProtocolAddress, SplitsBaseUrlAndRootPath) {
    struct {
        const char* address;
        const char* url;
        const char* rootPath;
        bool ssl;
    } cases[] = {
        {"https://host/files/dav/", "https://host/files/dav", "/files/dav", true},
        {"http://host:8080", "http://host:8080", "", false},
        {"http://host/My Files", "http://host/My%20Files", "/My Files", false},
        {"http://host/dir/", "http://host/dir", "/dir", false},
        {"https://host", "https://host", "", true},
        {"HTTPS://host/x", "HTTPS://host/x", "/x", false},
        {"host/share", "host/share", "/share", false},
        {"http://host/a//", "http://host/a/", "/a", false},
        {"http://host/a b/\xc3\xbc", "http://host/a%20b/%C3%BC", "/a b/\xc3\xbc", false},
        {"http://host/", "http://host", "", false},
        {"", "", "", false},
        {"/", "", "", false},
        {"http://", "http:/", "", false},
        {"https:/", "https:", "", false},
        {"ftp://host/a", "ftp://host/a", "/a", false},
        {"http://u:p@host/~me/", "http://u:p@host/%7Eme", "/~me", false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.address);
        Owned p = Make(c.address);
        EXPECT_EQ(p->url, c.url);
        EXPECT_EQ(p->rootPath, c.rootPath);
        EXPECT_EQ(p->ssl, c.ssl);
    }
}

TEST(ProtocolAddress, NewObjectHasTheDocumentedDefaults) {
    Owned p = Make("http://host/dav");
    EXPECT_EQ(p->authType.load(), static_cast<int>(0xFFFFFFEF));
    EXPECT_TRUE(p->gzip);
    EXPECT_EQ(p->quotaTotal, 10995116277760ULL);
    EXPECT_EQ(p->quotaUsed, 0u);
    EXPECT_EQ(p->speedLimit, 0);
    EXPECT_EQ(p->tlsFallback.load(), 0);
    EXPECT_EQ(p->quotaCallback, nullptr);
    EXPECT_TRUE(p->useExpect.load());
    EXPECT_TRUE(p->absoluteDestination.load());
    EXPECT_FALSE(p->markFiles);
    EXPECT_FALSE(p->convertNames);
    EXPECT_TRUE(p->user.empty() && p->password.empty() && p->userAgent.empty());
    EXPECT_TRUE(p->proxyHost.empty() && p->nameCharset.empty() && p->exInfo.empty());
    EXPECT_EQ(p->proxyType, 0);
    EXPECT_EQ(p->proxyPort, 0);
}

TEST(ProtocolGetters, UserInfoCopiesOnlyWhenTheTextFitsWithItsNul) {
    Owned p = Make("http://host/dir");
    const std::string url = "http://host/dir";
    const int length = static_cast<int>(url.size());

    // Exactly the length: no room for the NUL.
    std::string buffer(64, 'x');
    int size = length;
    EXPECT_EQ(p->GetUserInfo(&buffer[0], &size), INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, length);
    EXPECT_EQ(buffer, std::string(64, 'x')) << "nothing may be written on failure";

    size = length + 1;
    EXPECT_EQ(p->GetUserInfo(&buffer[0], &size), SUCCESS);
    EXPECT_EQ(size, length + 1) << "size is not changed";
    EXPECT_STREQ(buffer.c_str(), url.c_str());
    EXPECT_EQ(buffer[static_cast<size_t>(length) + 1], 'x') << "only text and NUL are written";

    for (int small : {0, -1, INT_MIN}) {
        size = small;
        EXPECT_EQ(p->GetUserInfo(&buffer[0], &size), INSUFFICIENT_BUFFER) << small;
    }
    EXPECT_EQ(p->GetUserInfo(&buffer[0], nullptr), ACCESS_DENIED);
    size = 100;
    EXPECT_EQ(p->GetUserInfo(nullptr, &size), ACCESS_DENIED);
}

TEST(ProtocolGetters, UserInfoFillsAnExactlySizedBuffer) {
    Owned p = Make("https://h/a b");
    std::string expected = "https://h/a%20b";
    int size = static_cast<int>(expected.size()) + 1;
    // A heap buffer of exactly that size: the sanitizer build catches any overrun.
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size)]);
    ASSERT_EQ(p->GetUserInfo(buffer.get(), &size), SUCCESS);
    EXPECT_EQ(std::string(buffer.get()), expected);
}

TEST(ProtocolGetters, RootIdIsEmptyAndReportsItsLength) {
    Owned p = Make("http://host/dir");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    int size = 1;
    EXPECT_EQ(p->GetRootID(buffer, &size), SUCCESS);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');

    buffer[0] = 'x';
    size = 0;
    EXPECT_EQ(p->GetRootID(buffer, &size), INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buffer[0], 'x');
    size = 4;
    EXPECT_EQ(p->GetRootID(buffer, nullptr), ACCESS_DENIED);
    EXPECT_EQ(p->GetRootID(nullptr, &size), ACCESS_DENIED);
}

TEST(ProtocolGetters, IdentifierAndCredentialWriteNothing) {
    Owned p = Make("http://host/dir");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    int size = 4;
    EXPECT_EQ(p->GetIdentifier(buffer, &size), SUCCESS);
    EXPECT_EQ(p->GetCredential(buffer, &size), SUCCESS);
    EXPECT_EQ(p->GetIdentifier(nullptr, nullptr), SUCCESS);
    EXPECT_EQ(p->GetCredential(nullptr, nullptr), SUCCESS);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(std::string(buffer, 4), "xxxx");
    EXPECT_EQ(p->SetCredential("secret"), SUCCESS);
    EXPECT_EQ(p->SetCredential(nullptr), SUCCESS);
    EXPECT_EQ(p->Connect(), SUCCESS);
    EXPECT_EQ(p->AddAuth(nullptr), SUCCESS);
}

TEST(ProtocolType, IsTheSameStaticTextEveryTime) {
    Owned a = Make("http://a");
    Owned b = Make("http://b");
    char* first = nullptr;
    char* second = nullptr;
    EXPECT_EQ(a->GetType(&first), SUCCESS);
    EXPECT_EQ(b->GetType(&second), SUCCESS);
    EXPECT_STREQ(first, "dav;box");
    EXPECT_EQ(first, second);
    EXPECT_EQ(a->GetType(nullptr), ACCESS_DENIED);
}

struct QuotaAnswer {
    long long total = 0;
    long long remaining = 0;
    bool accept = true;
    int calls = 0;
    void* protocol = nullptr;
};

bool AnswerQuota(void* context, void* protocol, long long* total, long long* remaining) {
    auto* answer = static_cast<QuotaAnswer*>(context);
    ++answer->calls;
    answer->protocol = protocol;
    EXPECT_EQ(*total, 0);
    EXPECT_EQ(*remaining, 0);
    *total = answer->total;
    *remaining = answer->remaining;
    return answer->accept;
}

TEST(ProtocolQuota, DefaultsAndSetQuota) {
    Owned p = Make("http://host");
    unsigned long long total = 0, used = 1;
    EXPECT_EQ(p->GetQuota(&total, &used), SUCCESS);
    EXPECT_EQ(total, 10995116277760ULL);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(p->SetQuota(1000, 250), SUCCESS);
    EXPECT_EQ(p->GetQuota(&total, nullptr), SUCCESS);
    EXPECT_EQ(p->GetQuota(nullptr, &used), SUCCESS);
    EXPECT_EQ(total, 1000u);
    EXPECT_EQ(used, 250u);
}

TEST(ProtocolQuota, CallbackIsAskedEveryTimeAndOnlyAcceptedAnswersStick) {
    Owned p = Make("http://host");
    QuotaAnswer answer;
    answer.total = 1000;
    answer.remaining = 400;
    p->SetQuotaCallback(&answer, AnswerQuota);

    unsigned long long total = 0, used = 0;
    EXPECT_EQ(p->GetQuota(&total, &used), SUCCESS);
    EXPECT_EQ(total, 1000u);
    EXPECT_EQ(used, 600u);
    EXPECT_EQ(answer.protocol, static_cast<void*>(p.get()));

    answer.accept = false;
    answer.total = 5;
    answer.remaining = 1;
    EXPECT_EQ(p->GetQuota(&total, &used), SUCCESS);
    EXPECT_EQ(total, 1000u) << "a refused answer keeps the previous values";
    EXPECT_EQ(used, 600u);
    EXPECT_EQ(p->GetQuota(nullptr, nullptr), SUCCESS);
    EXPECT_EQ(answer.calls, 3);

    // More remaining than total: the difference wraps rather than trapping.
    answer.accept = true;
    answer.total = 10;
    answer.remaining = 20;
    p->GetQuota(&total, &used);
    EXPECT_EQ(total, 10u);
    EXPECT_EQ(used, static_cast<unsigned long long>(-10LL));
    answer.total = LLONG_MIN;
    answer.remaining = LLONG_MAX;
    p->GetQuota(&total, &used);

    p->SetQuotaCallback(nullptr, nullptr);
    p->SetQuota(3, 2);
    EXPECT_EQ(p->GetQuota(&total, &used), SUCCESS);
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(answer.calls, 5);
}

TEST(ProtocolStubs, FeatureFileTimeAndFreeMsg) {
    Owned p = Make("http://host");
    EXPECT_EQ(static_cast<int64_t>(p->GetFeature()), 0x120);

    _FS_FILE file;
    file.name = "keep";
    file.size = 9;
    char* const untouched = reinterpret_cast<char*>(0x1);
    char* message = untouched;
    EXPECT_EQ(p->SetFileTime("/a", "2020-01-01T00:00:00Z", "", "x", &file, &message),
              NOT_SUPPORTED);
    EXPECT_EQ(message, untouched);
    EXPECT_EQ(file.name, "keep");
    EXPECT_EQ(file.size, 9);
    EXPECT_EQ(p->SetFileTime(nullptr, "", "", "", nullptr, nullptr), NOT_SUPPORTED);

    p->FreeMsg(strdup("released with free"));
    p->FreeMsg(nullptr);
}

TEST(ProtocolLifecycle, ReleaseLeavesThePoolAlone) {
    size_t idle = cq.IdleCount();
    Protocol* p = new Protocol("http://host/dav", nullptr);
    p->Release();
    EXPECT_EQ(cq.IdleCount(), idle);
}

}  // namespace
