// The logging request object. Its throughput lines, its trace switch and the last URL it
// shows are checked with every request shape in the request object's test.
#include "common/curllogger.h"

#include <gtest/gtest.h>

#include "common/logstate.h"
#include "support/host_doubles.h"

TEST(CURLLogger, SecretsNeverReachTheLogNorDoesAPasswordLine) {
    RecordingLogger rec;
    logger.store(&rec);
    for (std::string block :
         {"Authorization: Basic dXNlcjpzM2NyM3Q=\r\nproxy-authorization: Basic Zm9v\r\n"
          "AUTHORIZATION:Bearer t0k3n\r\nX-Authorization-Hint: a\r\nCookie: id=c00kie\r\n",
          "PASS hunter2\r\n"})
        CURLDebug(nullptr, CURLINFO_HEADER_OUT, &block[0], block.size(), nullptr);
    logger.store(nullptr);
    ASSERT_EQ(rec.Lines().size(), 1u);
    std::string all = rec.Lines()[0].text;
    EXPECT_NE(all.find("X-Authorization-Hint: a"), std::string::npos) << all;
    for (const char* secret : {"dXNlcjpzM2NyM3Q=", "Zm9v", "t0k3n", "c00kie"})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret;
}
