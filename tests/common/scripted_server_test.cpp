// The scripted server is what every client test trusts, so its own wire
// behaviour is checked here with a raw socket client.
#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

class RawClient {
public:
    explicit RawClient(int port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        connected = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { close(fd); }
    void Send(const std::string& data) {
        ASSERT_EQ(send(fd, data.data(), data.size(), MSG_NOSIGNAL), (ssize_t)data.size());
    }
    // Reads until `needle` has arrived, the peer closed, or 5 s passed.
    std::string ReadUntil(const std::string& needle) {
        while (received.find(needle) == std::string::npos && Fill()) {
        }
        size_t end = received.find(needle);
        std::string out =
            received.substr(0, end == std::string::npos ? received.size() : end + needle.size());
        received.erase(0, out.size());
        return out;
    }
    // True when the peer closed the connection (EOF seen).
    bool ReadToEof() {
        while (Fill()) {
        }
        return eof;
    }
    bool connected = false;

private:
    bool Fill() {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            eof = true;
            return false;
        }
        received.append(buf, static_cast<size_t>(n));
        return true;
    }
    int fd;
    bool eof = false;
    std::string received;
};

TEST(ScriptedServer, AnswersInOrderOnOneKeptAliveConnectionAndRecordsRequests) {
    ScriptedServer server;
    server.Respond(207, "<multistatus/>", {{"Content-Type", "application/xml"}});
    server.Respond(201);
    RawClient client(server.port());
    ASSERT_TRUE(client.connected);
    client.Send(
        "PROPFIND /dav/?x=1 HTTP/1.1\r\nHost: h\r\nDepth: 1\r\nX-Empty:\r\n"
        "Content-Length: 5\r\n\r\nhello");
    std::string first = client.ReadUntil("<multistatus/>");
    EXPECT_EQ(first.find("HTTP/1.1 207 Multi-Status\r\n"), 0u) << first;
    EXPECT_NE(first.find("Content-Type: application/xml\r\n"), std::string::npos);
    EXPECT_NE(first.find("Content-Length: 14\r\n"), std::string::npos);

    client.Send(
        "PUT /f HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
    std::string second = client.ReadUntil("\r\n\r\n");
    EXPECT_EQ(second.find("HTTP/1.1 201 Created\r\n"), 0u) << second;

    ASSERT_TRUE(server.WaitForRequests(2, 5000));
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "PROPFIND");
    EXPECT_EQ(requests[0].target, "/dav/?x=1");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].body, "hello");
    EXPECT_EQ(requests[0].Header("depth"), "1");
    EXPECT_TRUE(requests[0].HasHeader("X-Empty"));
    EXPECT_EQ(requests[0].Header("X-Empty"), "");
    ASSERT_EQ(requests[0].headers.size(), 4u);
    EXPECT_EQ(requests[0].headers[0].first, "Host");
    EXPECT_EQ(requests[0].headers[1].first, "Depth");
    EXPECT_EQ(requests[0].head.substr(0, 26), "PROPFIND /dav/?x=1 HTTP/1.");
    EXPECT_EQ(requests[1].body, "abcde");
    EXPECT_EQ(requests[0].connection, 0);
    EXPECT_EQ(requests[1].connection, 0);
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_TRUE(server.Failures().empty());
}

TEST(ScriptedServer, UnscriptedRequestGets599AndIsAFailure) {
    ScriptedServer server;
    RawClient client(server.port());
    client.Send("GET /nothing HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("\r\n").substr(0, 12), "HTTP/1.1 599");
    ASSERT_EQ(server.Failures().size(), 1u);
    EXPECT_NE(server.Failures()[0].find("GET /nothing"), std::string::npos);
}

TEST(ScriptedServer, ExpectContinueModes) {
    ScriptedServer server;
    server.Respond(200, "ok");
    ScriptedResponse refuse;
    refuse.status = 413;
    refuse.expect = ScriptedResponse::ExpectMode::FinalNoBody;
    server.Enqueue(refuse);
    {
        RawClient client(server.port());
        client.Send(
            "PUT /a HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n");
        EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
        client.Send("data");
        EXPECT_EQ(client.ReadUntil("ok").substr(0, 15), "HTTP/1.1 200 OK");
    }
    {
        RawClient client(server.port());
        client.Send(
            "PUT /b HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n");
        EXPECT_EQ(client.ReadUntil("\r\n").substr(0, 12), "HTTP/1.1 413");
        EXPECT_TRUE(client.ReadToEof());
    }
    ASSERT_TRUE(server.WaitForRequests(2, 5000));
    EXPECT_EQ(server.Requests()[0].body, "data");
    EXPECT_EQ(server.Requests()[1].body, "");
}

TEST(ScriptedServer, ChunkedPausedCutAndRawAnswers) {
    ScriptedServer server;
    ScriptedResponse chunked;
    chunked.headers = {{"Transfer-Encoding", "chunked"}};
    chunked.body = "abcdefg";
    chunked.chunkSize = 3;
    chunked.chunkDelayMs = 5;
    server.Enqueue(chunked);
    ScriptedResponse cut;
    cut.body = std::string(100, 'x');
    cut.closeAfterBodyBytes = 10;
    server.Enqueue(cut);
    ScriptedResponse raw;
    raw.raw = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
    raw.close = true;
    server.Enqueue(raw);

    RawClient client(server.port());
    client.Send("GET /1 HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string first = client.ReadUntil("0\r\n\r\n");
    EXPECT_NE(first.find("\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n1\r\ng\r\n0\r\n\r\n"), std::string::npos)
        << first;
    EXPECT_EQ(first.find("Content-Length"), std::string::npos);

    client.Send("GET /2 HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string second = client.ReadUntil("no such text");
    EXPECT_NE(second.find("Content-Length: 100\r\n\r\nxxxxxxxxxx"), std::string::npos);
    EXPECT_EQ(second.size(), second.find("\r\n\r\n") + 4 + 10);

    RawClient again(server.port());
    again.Send("GET /3 HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(again.ReadUntil("hi"), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
    EXPECT_TRUE(again.ReadToEof());
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(ScriptedServer, BodyWithoutLengthEndsWithTheConnection) {
    ScriptedServer server;
    ScriptedResponse open;
    open.body = "until close";
    open.contentLength = false;
    server.Enqueue(open);
    RawClient client(server.port());
    client.Send("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string all = client.ReadUntil("until close");
    EXPECT_EQ(all.find("Content-Length"), std::string::npos);
    EXPECT_TRUE(client.ReadToEof());
}

TEST(ScriptedServer, ShutsDownWithIdleAndDelayedConnections) {
    auto server = std::make_unique<ScriptedServer>();
    ScriptedResponse slow;
    slow.delayMs = 60000;
    server->Enqueue(slow);
    RawClient idle(server->port());
    RawClient waiting(server->port());
    waiting.Send("GET /slow HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(server->WaitForRequests(1, 5000));
    server.reset();  // must return promptly, not after the delay
    EXPECT_TRUE(waiting.ReadToEof());
}

}  // namespace
