// A scripted HTTP/1.1 server on 127.0.0.1 for client tests: it answers each request with
// the next queued response and records every request, so tests see what went on the wire.
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
    // With a "Transfer-Encoding: chunked" header each piece goes out as one chunk.
    size_t chunkSize = 0;                // send the body in pieces of this size (0: at once) ...
    int chunkDelayMs = 0;                // ... with this pause between pieces
    long long closeAfterBodyBytes = -1;  // close the connection after this many body bytes
    bool close = false;                  // close after the answer (announcing it is up to headers)
    bool hangUp = false;  // read the request, close unanswered: a dropped kept-alive connection

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

    int port() const { return listeningPort; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(listeningPort); }

    void Enqueue(ScriptedResponse response);
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
    int listeningPort = 0;
};
