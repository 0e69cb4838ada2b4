// Speed-limited reads from lighttpd, which sends a range as fast as loopback
// allows: libcurl's limiter then reads in bursts and pauses between them, and
// neither the pauses nor the bursts may cost the read its data.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "common/curllogger.h"
#include "common/logstate.h"
#include "support/dataops_fixture.h"
#include "support/real_server.h"

namespace {

size_t Collect(char* data, size_t size, size_t count, void* to) {
    static_cast<std::string*>(to)->append(data, size * count);
    return size * count;
}

class SpeedLimitRealTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new RealServer("lighttpd");
        content = new std::string(Pattern(2 << 20, 5));
        if (!server->ok()) return;
        std::ofstream out(server->root() + "/file.bin", std::ios::binary);
        out.write(content->data(), static_cast<std::streamsize>(content->size()));
    }
    static void TearDownTestSuite() {
        delete server;
        delete content;
        server = nullptr;
        content = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server->ok()) << server->error();
        logger.store(&log);
    }
    void TearDown() override { logger.store(nullptr); }

    static RealServer* server;
    static std::string* content;
    RecordingLogger log;
};

RealServer* SpeedLimitRealTest::server = nullptr;
std::string* SpeedLimitRealTest::content = nullptr;

TEST_F(SpeedLimitRealTest, LimitedReadDeliversEveryByte) {
    Protocol protocol(server->url().c_str(), nullptr);
    protocol.SetOpt("user", server->user().c_str());
    protocol.SetOpt("password", server->password().c_str());
    ASSERT_EQ(protocol.SetOpt("speedlimit", "262144"), SUCCESS);
    const long long offset = 1000, length = 640 * 1024;
    MemoryFetch sink;
    char* message = nullptr;

    AERROR result =
        protocol.Read("/file.bin", offset, length, std::make_shared<_FS_HANDLE>(), &sink, &message);

    std::string text = message != nullptr ? message : "";
    free(message);
    ASSERT_EQ(result, SUCCESS) << text << server->Logs();
    ASSERT_EQ(sink.data().size(), static_cast<size_t>(length));
    EXPECT_TRUE(sink.data() == content->substr(offset, length)) << "bytes differ";
    long long at = offset;
    for (auto& block : sink.blocks) {
        EXPECT_EQ(block.offset, at);
        at += block.length;
    }
}

// The stall window scaled down to a second: a burst of libcurl's default receive
// buffer (1.6 MB) would make the limiter pause for over 7 s, long enough for the
// detector to give up a healthy transfer.
TEST_F(SpeedLimitRealTest, LimiterPausesDoNotLookLikeAStalledServer) {
    CURLLogger request;
    curl_easy_setopt(request.GetCURL(), CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(request.GetCURL(), CURLOPT_USERNAME, server->user().c_str());
    curl_easy_setopt(request.GetCURL(), CURLOPT_PASSWORD, server->password().c_str());
    request.SetURL((server->url() + "/file.bin").c_str());
    const size_t length = 1700000;
    request.AddHeader("Range", "bytes=0-" + std::to_string(length - 1));
    request.SetLowSpeedTimeout(1);
    request.SetSpeedLimit(224 * 1024);
    std::string received;

    _CURLRTN result = request.PerformGet(reinterpret_cast<void*>(&Collect), &received);

    ASSERT_EQ(result.code, CURLE_OK) << result.message;
    EXPECT_EQ(result.http_status, 206);
    ASSERT_EQ(received.size(), length);
    EXPECT_TRUE(received == content->substr(0, length)) << "bytes differ";
}

}  // namespace
