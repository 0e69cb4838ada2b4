// A small blocking HTTP/1.1 server on plain POSIX sockets: one thread accepts, one
// thread per connection reads requests and answers them from the shared FIFO.
#include "scripted_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Headers& headers, const std::string& name) {
    for (auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return &h.second;
    return nullptr;
}

bool Mentions(const Headers& headers, const char* name, const char* token) {
    const std::string* value = Find(headers, name);
    return value && strcasestr(value->c_str(), token);
}

std::string Phrase(int status) {
    static const std::string phrases =
        "|100 Continue|200 OK|201 Created|204 No Content|206 Partial Content|207 Multi-Status"
        "|301 Moved Permanently|302 Found|304 Not Modified|400 Bad Request|401 Unauthorized"
        "|403 Forbidden|404 Not Found|405 Method Not Allowed|409 Conflict|412 Precondition Failed"
        "|413 Payload Too Large|416 Range Not Satisfiable|417 Expectation Failed|423 Locked"
        "|500 Internal Server Error|501 Not Implemented|502 Bad Gateway|503 Service Unavailable"
        "|507 Insufficient Storage|599 No Scripted Response|";
    size_t at = phrases.find("|" + std::to_string(status) + " ");
    if (at == std::string::npos) return "Status";
    return phrases.substr(at + 5, phrases.find('|', at + 1) - at - 5);
}

bool SendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) return false;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

// Blocking reads through the connection's stdio stream; each is false on EOF.
bool Line(FILE* in, std::string& out) {  // one line with its CR LF
    out.clear();
    for (int c = 0; c != '\n' && (c = getc(in)) != EOF;) out += static_cast<char>(c);
    return !out.empty() && out.back() == '\n';
}

bool Take(FILE* in, size_t count, std::string& out) {
    std::string bytes(count, '\0');
    size_t got = count ? fread(&bytes[0], 1, count, in) : 0;
    out.append(bytes, 0, got);
    return got == count;
}

bool Chunked(FILE* in, std::string& out) {  // up to the last chunk; clients send no trailers
    for (size_t size = 1; size > 0;) {
        std::string line, end;
        if (!Line(in, line)) return false;
        size = std::strtoull(line.c_str(), nullptr, 16);
        if (!Take(in, size, out) || !Line(in, end) || end != "\r\n") return false;
    }
    return true;
}

bool ParseHead(const std::string& head, RecordedRequest& request) {
    std::istringstream in(head);
    std::string line;
    in >> request.method >> request.target >> request.version;
    std::getline(in, line);  // the rest of the request line
    while (std::getline(in, line) && line != "\r") {
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos) return false;
        size_t from = line.find_first_not_of(" \t", colon + 1);
        size_t to = line.find_last_not_of(" \t\r");
        request.headers.emplace_back(line.substr(0, colon),
                                     from <= to ? line.substr(from, to + 1 - from) : "");
    }
    return request.version.compare(0, 5, "HTTP/") == 0;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    return HasHeader(name) ? *Find(headers, name) : "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    return Find(headers, name) != nullptr;
}

struct ScriptedServer::Impl {
    int listenFd = -1;
    std::thread acceptor;
    std::mutex lock;  // guards everything below
    std::condition_variable changed;
    bool stopping = false;
    std::deque<ScriptedResponse> queue;
    std::vector<RecordedRequest> requests;
    std::vector<std::string> failures;
    int connections = 0;
    std::vector<std::thread> workers;
    std::vector<int> openFds;  // connection sockets still owned by a worker

    template <typename F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> guard(lock);
        return f();
    }
    bool Fail(const std::string& why) {
        return Locked([&] { failures.push_back(why); }), false;
    }
    // Sleeps unless the server is shutting down; false when it is.
    bool Pause(int ms) {
        std::unique_lock<std::mutex> guard(lock);
        return !changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return stopping; });
    }

    void AcceptLoop() {
        for (;;) {
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard<std::mutex> guard(lock);
            if (stopping && fd >= 0) close(fd);
            if (stopping) return;
            if (fd < 0) continue;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            openFds.push_back(fd);
            workers.emplace_back([this, fd, index = connections++] { Serve(fd, index); });
        }
    }

    void Serve(int fd, int index) {
        FILE* in = fdopen(fd, "r");
        bool linger = false;
        while (in && Exchange(in, fd, index, linger)) {
        }
        if (linger) {
            // Half-close and drain what the client still sends, so the kernel does not
            // answer unread data with a reset that could destroy our answer in flight.
            shutdown(fd, SHUT_WR);
            timeval wait{2, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            for (char sink[4096]; recv(fd, sink, sizeof sink, 0) > 0;) {
            }
        }
        Locked([&] { openFds.erase(std::find(openFds.begin(), openFds.end(), fd)); });
        in ? fclose(in) : close(fd);
    }

    // Answers one request; false when the connection is to end, with linger set
    // when our answer must still reach the client.
    bool Exchange(FILE* in, int fd, int index, bool& linger) {
        RecordedRequest request;
        request.connection = index;
        for (std::string line; line != "\r\n"; request.head += line)
            if (!Line(in, line)) return false;
        if (!ParseHead(request.head, request))
            return Fail("malformed request head: " + request.head);
        std::string what = request.method + " " + request.target;
        ScriptedResponse response{599, "", {}, "", true, ""};
        Locked([&] {
            if (queue.empty()) return failures.push_back("no response queued for " + what);
            response = std::move(queue.front());
            queue.pop_front();
        });
        const Headers& asked = request.headers;
        bool keepOpen =
            !Mentions(asked, "Connection", "close") &&
            (request.version != "HTTP/1.0" || Mentions(asked, "Connection", "keep-alive"));
        bool expects = Mentions(asked, "Expect", "100-continue");
        bool readBody = !expects || response.expect == ScriptedResponse::ExpectMode::Continue;
        if (expects && readBody && !SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) return false;
        keepOpen &= readBody;  // a final answer to an unread body ends the connection
        const std::string* length = Find(asked, "Content-Length");
        if (readBody &&
            (Mentions(asked, "Transfer-Encoding", "chunked")
                 ? !Chunked(in, request.body)
                 : length && !Take(in, std::strtoull(length->c_str(), nullptr, 10), request.body)))
            return Fail(what + ": body cut short at " + std::to_string(request.body.size()));
        Locked([&] { requests.push_back(request), changed.notify_all(); });
        if (response.hangUp || (response.delayMs > 0 && !Pause(response.delayMs))) return false;
        if (!response.raw.empty()) {
            linger = response.close || !keepOpen;
            return SendAll(fd, response.raw) && !linger;
        }
        if (!Answer(fd, request.method == "HEAD", response, keepOpen)) return false;
        linger = !keepOpen;
        return keepOpen;
    }

    // Sends the fields of response; keepOpen turns false when the body is such
    // that only the end of the connection can end it.
    bool Answer(int fd, bool head, const ScriptedResponse& r, bool& keepOpen) {
        bool bodiless = r.status == 204 || r.status == 304 || r.status < 200;
        bool chunkedHeader = Mentions(r.headers, "Transfer-Encoding", "chunked");
        bool chunked = chunkedHeader && !head && !bodiless;
        bool sized = Find(r.headers, "Content-Length") != nullptr;
        std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " +
                          (r.reason.empty() ? Phrase(r.status) : r.reason) + "\r\n";
        for (auto& h : r.headers) out += h.first + ": " + h.second + "\r\n";
        if (r.contentLength && !sized && !bodiless && !chunkedHeader)
            out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
        if (!SendAll(fd, out + "\r\n")) return false;
        size_t limit = head || bodiless ? 0 : r.body.size();
        bool cut = r.closeAfterBodyBytes >= 0 && static_cast<size_t>(r.closeAfterBodyBytes) < limit;
        if (cut) limit = static_cast<size_t>(r.closeAfterBodyBytes);
        // Body bytes go out in pieces; with chunked encoding each piece is one chunk.
        size_t piece = r.chunkSize > 0 ? r.chunkSize : std::max<size_t>(limit, 1);
        for (size_t pos = 0; pos < limit; pos += piece) {
            if (pos > 0 && r.chunkDelayMs > 0 && !Pause(r.chunkDelayMs)) return false;
            std::string bytes = r.body.substr(pos, std::min(piece, limit - pos));
            char size[32];
            snprintf(size, sizeof size, "%zx\r\n", bytes.size());
            if (!SendAll(fd, chunked ? size + bytes + "\r\n" : bytes)) return false;
        }
        // A cut ends abruptly, without lingering: the client must see the body short.
        if (cut || (chunked && !SendAll(fd, "0\r\n\r\n"))) return false;
        if (r.close || !(head || bodiless || chunked || sized || r.contentLength)) keepOpen = false;
        return true;
    }
};

ScriptedServer::ScriptedServer() {
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    auto* at = reinterpret_cast<sockaddr*>(&addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, at, len) != 0 || listen(fd, 64) != 0 || getsockname(fd, at, &len) != 0) {
        std::string why = std::strerror(errno);
        close(fd);
        throw std::runtime_error("scripted server: " + why);
    }
    impl = new Impl;
    impl->listenFd = fd;
    listeningPort = ntohs(addr.sin_port);
    impl->acceptor = std::thread([this] { impl->AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    impl->Locked([&] {
        impl->stopping = true;
        for (int fd : impl->openFds) shutdown(fd, SHUT_RDWR);
        impl->changed.notify_all();
    });
    shutdown(impl->listenFd, SHUT_RDWR);  // wakes the acceptor: accept() fails from now on
    impl->acceptor.join();
    for (auto& worker : impl->workers) worker.join();  // no new ones once the acceptor is gone
    close(impl->listenFd);
    delete impl;
}

void ScriptedServer::Enqueue(ScriptedResponse response) {
    impl->Locked([&] { impl->queue.push_back(std::move(response)); });
}

void ScriptedServer::Respond(int status, std::string body,
                             std::vector<std::pair<std::string, std::string>> headers) {
    Enqueue(ScriptedResponse{status, "", std::move(headers), std::move(body), true, ""});
}

std::vector<RecordedRequest> ScriptedServer::Requests() {
    return impl->Locked([&] { return impl->requests; });
}

int ScriptedServer::ConnectionCount() {
    return impl->Locked([&] { return impl->connections; });
}

bool ScriptedServer::WaitForRequests(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(impl->lock);
    return impl->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return impl->requests.size() >= count; });
}

std::vector<std::string> ScriptedServer::Failures() {
    return impl->Locked([&] { return impl->failures; });
}
