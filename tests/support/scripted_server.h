// A scripted HTTP/1.1 server on 127.0.0.1 for client tests: each request is
// answered with the next response the test queued, and every request and
// connection is recorded so tests can assert exactly what went on the wire.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ScriptedResponse {
    int status = 200;
    std::string reason;  // empty: the usual phrase for status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool contentLength = true;  // add "Content-Length" for body unless headers set one
    std::string raw;            // when set, sent as it stands instead of the fields above

    int delayMs = 0;  // wait before answering
    // A "Transfer-Encoding: chunked" entry in headers makes the body go out
    // chunk-encoded (one chunk per piece) without "Content-Length".
    size_t chunkSize = 0;                // send the body in pieces of this size (0: at once) ...
    int chunkDelayMs = 0;                // ... with this pause between pieces
    long long closeAfterBodyBytes = -1;  // close the connection after this many body bytes
    bool close = false;                  // close the connection after the answer (add a
                                         // "Connection: close" header yourself to announce it)
    bool hangUp = false;  // read the request, then close without answering: a kept-alive
                          // connection the server dropped while the client reused it

    // Requests that carry "Expect: 100-continue":
    enum class ExpectMode {
        Continue,     // send "HTTP/1.1 100 Continue", then read the body, then answer
        FinalNoBody,  // answer at once with this response without reading the body, then close
    };
    ExpectMode expect = ExpectMode::Continue;
};

struct RecordedRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
    std::string body;
    std::string head;    // the raw request head, request line to blank line
    int connection = 0;  // index of the accepted connection it came on (0-based)

    // First value of a header (name compared without regard to case), "" if absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

class ScriptedServer {
public:
    ScriptedServer();  // listens on 127.0.0.1 on an ephemeral port
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const;
    std::string url() const;  // "http://127.0.0.1:<port>"

    void Enqueue(ScriptedResponse response);
    // Shorthand for a simple answer.
    void Respond(int status, std::string body = "",
                 std::vector<std::pair<std::string, std::string>> headers = {});

    std::vector<RecordedRequest> Requests();
    int ConnectionCount();
    bool WaitForRequests(size_t count, int timeoutMs);
    // Requests that arrived when nothing was queued (answered 599) and protocol errors.
    std::vector<std::string> Failures();

private:
    struct Impl;
    Impl* impl;
};
