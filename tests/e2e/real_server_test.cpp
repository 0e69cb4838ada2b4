// The loopback servers themselves: each kind starts from our scripts, speaks
// WebDAV with the credentials it was given, refuses others, and is gone with
// its files once the RealServer object is.
#include "support/real_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Answer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

size_t Collect(char* data, size_t size, size_t count, void* to) {
    static_cast<std::string*>(to)->append(data, size * count);
    return size * count;
}

// One request with plain libcurl, so a fault here is the server's or the
// scripts', never the plug-in's.
Answer Request(const std::string& method, const std::string& url, const std::string& user,
               const std::string& password, long authMask, const std::string& upload = "",
               bool hasUpload = false) {
    Answer answer;
    CURL* curl = curl_easy_init();
    struct curl_slist* headers = curl_slist_append(nullptr, "Depth: 1");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    // HTTP/1.1 as the plug-in speaks it. Over TLS libcurl would otherwise
    // negotiate HTTP/2, where lighttpd 1.4.69 answers nothing to libcurl's
    // bodiless first round of a Digest-authenticated PUT.
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    if (authMask) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, authMask);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }
    if (hasUpload) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, upload.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(upload.size()));
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    answer.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ServerCase {
    std::string kind;
    std::string auth;
    bool tls;
};

void PrintTo(const ServerCase& c, std::ostream* out) {
    *out << c.kind << " " << c.auth << (c.tls ? " tls" : "");
}

std::string CaseName(const testing::TestParamInfo<ServerCase>& info) {
    std::string name = info.param.kind + "_" + info.param.auth + (info.param.tls ? "_tls" : "");
    for (auto& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::vector<ServerCase> AllCases() {
    std::vector<ServerCase> cases;
    for (auto& kind : RealServerKinds()) {
        cases.push_back({kind.name, "basic", false});
        if (kind.digest) cases.push_back({kind.name, "digest", false});
        if (kind.tls) cases.push_back({kind.name, kind.digest ? "digest" : "basic", true});
    }
    return cases;
}

class RealServerTest : public testing::TestWithParam<ServerCase> {};

TEST_P(RealServerTest, ServesWebDavToItsUserOnlyAndLeavesNothingBehind) {
    const ServerCase& c = GetParam();
    long mask = c.auth == "digest" ? CURLAUTH_DIGEST : CURLAUTH_BASIC;
    std::string workdir, url;
    {
        RealServer server(c.kind, {c.auth, c.tls, "bob", "p@ss word:1"});
        ASSERT_TRUE(server.ok()) << server.error();
        workdir = server.workdir();
        url = server.url();
        EXPECT_EQ(url.rfind(c.tls ? "https://127.0.0.1:" : "http://127.0.0.1:", 0), 0u) << url;
        EXPECT_EQ(ReadFile(workdir + "/url"), url + "\n");
        EXPECT_EQ(server.user(), "bob");

        Answer listing = Request("PROPFIND", url + "/", "bob", "p@ss word:1", mask);
        ASSERT_EQ(listing.code, CURLE_OK) << curl_easy_strerror(listing.code);
        EXPECT_EQ(listing.status, 207) << listing.body << server.Logs();
        EXPECT_NE(listing.body.find("multistatus"), std::string::npos) << listing.body;

        EXPECT_EQ(Request("PROPFIND", url + "/", "bob", "wrong", mask).status, 401);
        EXPECT_EQ(Request("PROPFIND", url + "/", "", "", 0).status, 401);

        std::string bytes("one\0two", 7);
        Answer put = Request("PUT", url + "/a%20b.bin", "bob", "p@ss word:1", mask, bytes, true);
        EXPECT_TRUE(put.status == 201 || put.status == 204)
            << put.status << " " << curl_easy_strerror(put.code) << server.Logs();
        EXPECT_EQ(ReadFile(server.root() + "/a b.bin"), bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(workdir)) << workdir;
    Answer gone = Request("PROPFIND", url + "/", "", "", 0);
    EXPECT_EQ(gone.code, CURLE_COULDNT_CONNECT) << "still answering at " << url;
}

INSTANTIATE_TEST_SUITE_P(Kinds, RealServerTest, testing::ValuesIn(AllCases()), CaseName);

TEST(RealServerStart, AnUnknownKindFailsWithAReason) {
    RealServer server("no-such-server");
    EXPECT_FALSE(server.ok());
    EXPECT_NE(server.error().find("unknown server kind"), std::string::npos) << server.error();
}

}  // namespace
