// A small blocking HTTP/1.1 server: one thread accepts, one thread per
// connection reads requests and answers them from the shared FIFO of scripted
// responses. Everything is plain POSIX sockets so a test can see exactly what
// a client put on the wire.
#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

const char* Phrase(int status) {
    static const std::map<int, const char*> phrases = {
        {100, "Continue"},
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {206, "Partial Content"},
        {207, "Multi-Status"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {304, "Not Modified"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {409, "Conflict"},
        {412, "Precondition Failed"},
        {413, "Payload Too Large"},
        {416, "Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {423, "Locked"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {507, "Insufficient Storage"},
        {599, "No Scripted Response"},
    };
    auto it = phrases.find(status);
    return it == phrases.end() ? "Status" : it->second;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (auto& h : headers)
        if (SameName(h.first, name)) return h.second;
    return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    for (auto& h : headers)
        if (SameName(h.first, name)) return true;
    return false;
}

struct ScriptedServer::Impl {
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    int port = 0;
    std::thread acceptor;

    std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;
    std::deque<ScriptedResponse> queue;
    std::vector<RecordedRequest> requests;
    std::vector<std::string> failures;
    int connections = 0;
    std::vector<std::thread> workers;
    std::set<int> openFds;  // connection sockets still owned by a worker

    void AcceptLoop();
    void Serve(int fd, int index);
    void Fail(const std::string& what) {
        std::lock_guard<std::mutex> guard(lock);
        failures.push_back(what);
        changed.notify_all();
    }
    // Sleeps unless the server is shutting down; false when it is.
    bool Pause(int ms) {
        std::unique_lock<std::mutex> guard(lock);
        return !changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return stopping; });
    }
};

namespace {

// Buffered reads from one connection socket.
class Reader {
public:
    explicit Reader(int fd) : fd(fd) {}

    // Reads up to and including the blank line that ends a head; false on EOF.
    bool Head(std::string& head) {
        for (;;) {
            size_t end = buffer.find("\r\n\r\n");
            if (end != std::string::npos) {
                head = buffer.substr(0, end + 4);
                buffer.erase(0, end + 4);
                return true;
            }
            if (buffer.size() > (1 << 20) || !Fill()) return false;
        }
    }
    bool Line(std::string& line) {
        for (;;) {
            size_t end = buffer.find("\r\n");
            if (end != std::string::npos) {
                line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                return true;
            }
            if (!Fill()) return false;
        }
    }
    bool Bytes(size_t count, std::string& out) {
        while (buffer.size() < count)
            if (!Fill()) return false;
        out.append(buffer, 0, count);
        buffer.erase(0, count);
        return true;
    }
    bool Chunked(std::string& out) {
        for (;;) {
            std::string line;
            if (!Line(line)) return false;
            char* end = nullptr;
            unsigned long long size = std::strtoull(line.c_str(), &end, 16);
            if (end == line.c_str()) return false;
            if (size == 0) {
                // Trailers up to the blank line.
                do {
                    if (!Line(line)) return false;
                } while (!line.empty());
                return true;
            }
            if (!Bytes(static_cast<size_t>(size), out)) return false;
            if (!Line(line) || !line.empty()) return false;
        }
    }

private:
    bool Fill() {
        char chunk[16384];
        ssize_t n;
        do {
            n = recv(fd, chunk, sizeof chunk, 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }
    int fd;
    std::string buffer;
};

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
bool SendAll(int fd, const std::string& data) {
    return SendAll(fd, data.data(), data.size());
}

bool ParseHead(const std::string& head, RecordedRequest& request) {
    size_t lineEnd = head.find("\r\n");
    std::string first = head.substr(0, lineEnd);
    size_t a = first.find(' ');
    size_t b = first.rfind(' ');
    if (a == std::string::npos || b == a) return false;
    request.method = first.substr(0, a);
    request.target = first.substr(a + 1, b - a - 1);
    request.version = first.substr(b + 1);
    if (request.version.compare(0, 5, "HTTP/") != 0) return false;
    size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos || end == pos) break;
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    return true;
}

bool HasHeader(const std::vector<std::pair<std::string, std::string>>& headers,
               const std::string& name, std::string* value = nullptr) {
    for (auto& h : headers)
        if (SameName(h.first, name)) {
            if (value) *value = h.second;
            return true;
        }
    return false;
}

bool Contains(std::string value, const std::string& token) {
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return value.find(token) != std::string::npos;
}

}  // namespace

ScriptedServer::ScriptedServer() : impl(new Impl) {
    impl->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (impl->listenFd < 0 || bind(impl->listenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(impl->listenFd, 64) != 0 ||
        getsockname(impl->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        pipe2(impl->wakePipe, O_CLOEXEC) != 0) {
        int err = errno;
        if (impl->listenFd >= 0) close(impl->listenFd);
        delete impl;
        throw std::runtime_error(std::string("scripted server: ") + std::strerror(err));
    }
    impl->port = ntohs(addr.sin_port);
    impl->acceptor = std::thread([this] { impl->AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->stopping = true;
        for (int fd : impl->openFds) shutdown(fd, SHUT_RDWR);
        impl->changed.notify_all();
    }
    char wake = 1;
    (void)!write(impl->wakePipe[1], &wake, 1);
    impl->acceptor.join();
    // No new workers start once the acceptor is gone.
    for (auto& worker : impl->workers) worker.join();
    close(impl->listenFd);
    close(impl->wakePipe[0]);
    close(impl->wakePipe[1]);
    delete impl;
}

int ScriptedServer::port() const {
    return impl->port;
}

std::string ScriptedServer::url() const {
    return "http://127.0.0.1:" + std::to_string(impl->port);
}

void ScriptedServer::Enqueue(ScriptedResponse response) {
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->queue.push_back(std::move(response));
}

void ScriptedServer::Respond(int status, std::string body,
                             std::vector<std::pair<std::string, std::string>> headers) {
    ScriptedResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers = std::move(headers);
    Enqueue(std::move(response));
}

std::vector<RecordedRequest> ScriptedServer::Requests() {
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->requests;
}

int ScriptedServer::ConnectionCount() {
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->connections;
}

bool ScriptedServer::WaitForRequests(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(impl->lock);
    return impl->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return impl->requests.size() >= count; });
}

std::vector<std::string> ScriptedServer::Failures() {
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->failures;
}

void ScriptedServer::Impl::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) {
            close(fd);
            return;
        }
        int index = connections++;
        openFds.insert(fd);
        workers.emplace_back([this, fd, index] { Serve(fd, index); });
    }
}

void ScriptedServer::Impl::Serve(int fd, int index) {
    Reader reader(fd);
    bool keepOpen = true;
    bool lingering = false;  // let the peer see our answer before the socket goes away
    while (keepOpen) {
        std::string head;
        if (!reader.Head(head)) break;
        RecordedRequest request;
        request.head = head;
        request.connection = index;
        if (!ParseHead(head, request)) {
            Fail("connection " + std::to_string(index) + ": malformed request head: " + head);
            SendAll(fd,
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        }

        ScriptedResponse response;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (queue.empty()) {
                failures.push_back("no response queued for " + request.method + " " +
                                   request.target);
                response.status = 599;
                response.body = "no response queued\n";
            } else {
                response = std::move(queue.front());
                queue.pop_front();
            }
        }

        std::string connection = request.Header("Connection");
        if (Contains(connection, "close") ||
            (request.version == "HTTP/1.0" && !Contains(connection, "keep-alive")))
            keepOpen = false;

        std::string value;
        bool expects = Contains(request.Header("Expect"), "100-continue");
        bool readBody = true;
        if (expects && response.expect == ScriptedResponse::ExpectMode::FinalNoBody) {
            readBody = false;
            keepOpen = false;
        } else if (expects) {
            if (!SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) break;
        }
        if (readBody) {
            bool ok = true;
            if (Contains(request.Header("Transfer-Encoding"), "chunked")) {
                ok = reader.Chunked(request.body);
            } else if (HasHeader(request.headers, "Content-Length", &value)) {
                ok = reader.Bytes(static_cast<size_t>(std::strtoull(value.c_str(), nullptr, 10)),
                                  request.body);
            }
            if (!ok) {
                Fail("connection " + std::to_string(index) + ": body of " + request.method + " " +
                     request.target + " cut short after " + std::to_string(request.body.size()) +
                     " bytes");
                break;
            }
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(request);
            changed.notify_all();
        }

        if (response.hangUp) break;
        if (response.delayMs > 0 && !Pause(response.delayMs)) break;

        if (!response.raw.empty()) {
            if (!SendAll(fd, response.raw)) break;
            if (response.close) keepOpen = false;
            lingering = !keepOpen;
            continue;
        }

        bool noBody = request.method == "HEAD" || response.status == 204 ||
                      response.status == 304 || response.status < 200;
        bool chunked = Contains(
            HasHeader(response.headers, "Transfer-Encoding", &value) ? value : "", "chunked");
        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                          (response.reason.empty() ? Phrase(response.status) : response.reason) +
                          "\r\n";
        for (auto& h : response.headers) out += h.first + ": " + h.second + "\r\n";
        if (response.contentLength && !chunked && !HasHeader(response.headers, "Content-Length") &&
            response.status != 204 && response.status != 304 && response.status >= 200)
            out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        out += "\r\n";
        if (!SendAll(fd, out)) break;

        // Body bytes go out in pieces; with chunked encoding each piece is one chunk.
        std::string body = noBody ? std::string() : response.body;
        size_t limit = body.size();
        bool cut = false;
        if (response.closeAfterBodyBytes >= 0 &&
            static_cast<unsigned long long>(response.closeAfterBodyBytes) < limit) {
            limit = static_cast<size_t>(response.closeAfterBodyBytes);
            cut = true;
        }
        size_t piece =
            response.chunkSize > 0 ? response.chunkSize : std::max<size_t>(body.size(), 1);
        bool sent = true;
        for (size_t pos = 0; pos < limit && sent; pos += piece) {
            if (pos > 0 && response.chunkDelayMs > 0 && !Pause(response.chunkDelayMs)) {
                sent = false;
                break;
            }
            size_t n = std::min(piece, limit - pos);
            if (chunked) {
                char size[32];
                snprintf(size, sizeof size, "%zx\r\n", n);
                sent =
                    SendAll(fd, size) && SendAll(fd, body.data() + pos, n) && SendAll(fd, "\r\n");
            } else {
                sent = SendAll(fd, body.data() + pos, n);
            }
        }
        if (!sent) break;
        if (cut) {
            keepOpen = false;
            break;  // abrupt: no lingering, the client must see a short body
        }
        if (chunked && !noBody && !SendAll(fd, "0\r\n\r\n")) break;
        // Without a length or chunks only the end of the connection ends the body.
        bool delimited = noBody || chunked || response.contentLength ||
                         HasHeader(response.headers, "Content-Length");
        if (response.close || !delimited) keepOpen = false;
        lingering = !keepOpen;
    }

    if (lingering) {
        // Half-close and drain what the client still sends, so the kernel does not
        // answer unread data with a reset that could destroy our answer in flight.
        shutdown(fd, SHUT_WR);
        char sink[4096];
        for (int rounds = 0; rounds < 100; ++rounds) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                std::lock_guard<std::mutex> guard(lock);
                if (stopping) break;
                continue;
            }
            if (recv(fd, sink, sizeof sink, 0) <= 0) break;
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    openFds.erase(fd);
    close(fd);
}
