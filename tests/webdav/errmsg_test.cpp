// The message beside a result: transport error text, or the final status line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "webdav/protocol.h"

namespace {

_CURLRTN WithHeaders(const std::string& block, int status = 207) {
    _CURLRTN result;
    result.http_status = status;
    char* copy = static_cast<char*>(std::calloc(block.size() + 1, 1));
    std::memcpy(copy, block.data(), block.size());
    result.headers = std::shared_ptr<char>(copy, std::free);
    result.headers_size = static_cast<int32_t>(block.size());
    return result;
}

class ErrMsgTest : public ::testing::Test {
protected:
    // The message as the host would get it; "<null>" for none.
    std::string Message(const _CURLRTN& result) {
        char* message = reinterpret_cast<char*>(1);
        protocol.get_err_msg(result, &message);
        if (message == nullptr) return "<null>";
        std::string text = message;
        protocol.FreeMsg(message);
        return text;
    }
    Protocol protocol{"http://127.0.0.1/dav", nullptr};
};

TEST_F(ErrMsgTest, NullOutParameterIsLeftAlone) {
    protocol.get_err_msg(WithHeaders("HTTP/1.1 207 Multi-Status\r\n\r\n"), nullptr);
}

TEST_F(ErrMsgTest, TransportFailureGivesTheErrorTextUpToASemicolon) {
    _CURLRTN failed;
    failed.code = 7;
    failed.message = "Failed to connect to server port 80: Connection refused";
    EXPECT_EQ(Message(failed), "Failed to connect to server port 80: Connection refused");
    failed.message = "SSL connect error; more detail";
    EXPECT_EQ(Message(failed), "SSL connect error");
    failed.message = "";
    EXPECT_EQ(Message(failed), "");
    // Headers of an earlier response do not matter once the transfer failed.
    _CURLRTN partial = WithHeaders("HTTP/1.1 200 OK\r\n\r\n");
    partial.code = 28;
    partial.message = "Operation timed out";
    EXPECT_EQ(Message(partial), "Operation timed out");
}

TEST_F(ErrMsgTest, NoHeaderBlockGivesTheBareStatus) {
    _CURLRTN ranged;
    ranged.http_status = 206;
    EXPECT_EQ(Message(ranged), "206");
    ranged.http_status = 0;
    EXPECT_EQ(Message(ranged), "0");
}

TEST_F(ErrMsgTest, LastStatusLineWins) {
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", 404)),
              "404 Not Found");
    // An authentication round, then the real answer.
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 401 Unauthorized\r\n"
                                  "WWW-Authenticate: Basic realm=\"x\"\r\n\r\n"
                                  "HTTP/1.1 207 Multi-Status\r\n"
                                  "Content-Type: text/xml\r\n\r\n")),
              "207 Multi-Status");
    // An interim answer before the final one.
    EXPECT_EQ(
        Message(WithHeaders("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n\r\n", 201)),
        "201 Created");
    EXPECT_EQ(Message(WithHeaders("HTTP/2 200\r\n\r\n", 200)), "200");
}

TEST_F(ErrMsgTest, HttpInsideAHeaderValueIsNotAStatusLine) {
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 207 Multi-Status\r\n"
                                  "Server: MyHTTPd/2.0 (HTTP server)\r\n"
                                  "X-Powered-By: HTTP\r\n\r\n")),
              "207 Multi-Status");
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 500 Internal Server Error\r\n"
                                  "X-Note:HTTP/1.0 200 OK\r\n\r\n",
                                  500)),
              "500 Internal Server Error");
    EXPECT_EQ(Message(WithHeaders("X-Server: HTTP\r\n\r\n", 200)), "<null>");
}

TEST_F(ErrMsgTest, StatusLineWithoutCarriageReturnGivesNoMessage) {
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 200 OK", 200)), "<null>");
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1 200 OK\nServer: x\r\n\r\n", 200)), "<null>");
    EXPECT_EQ(Message(WithHeaders("HTTP/1.1\r\n\r\n", 200)), "<null>");  // no code at all
}

}  // namespace
