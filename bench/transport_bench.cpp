// Cost of the transport layer per request: small PROPFIND-sized exchanges on a
// kept-alive loopback connection, through the pool with the logging request
// object versus a bare libcurl loop on one easy handle. The goal is that the
// pool and logging take at most 5% of the bare throughput.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/curllogger.h"
#include "common/curlqueue.h"
#include "common/logstate.h"

namespace {

const std::string kRequestBody =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:resourcetype/><d:getcontentlength/>"
    "<d:getlastmodified/><d:creationdate/><d:displayname/></d:prop></d:propfind>";

std::string Multistatus() {
    std::string xml = "<?xml version=\"1.0\"?>\n<d:multistatus xmlns:d=\"DAV:\">";
    for (int i = 0; i < 3; ++i)
        xml += "<d:response><d:href>/dav/file" + std::to_string(i) +
               "</d:href><d:propstat><d:prop><d:getcontentlength>1234</d:getcontentlength>"
               "<d:getlastmodified>Mon, 01 Jan 2024 00:00:00 GMT</d:getlastmodified>"
               "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
    return xml + "</d:multistatus>";
}

// Answers every request on a connection with the same multistatus, as fast as
// it can: the server's cost is the same for both loops being compared.
class FastServer {
public:
    FastServer() : answer(Multistatus()) {
        listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            listen(listenFd, 16) != 0 ||
            getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            std::abort();
        port = ntohs(addr.sin_port);
        answer =
            "HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml; charset=utf-8\r\n"
            "Content-Length: " +
            std::to_string(answer.size()) + "\r\n\r\n" + answer;
        acceptor = std::thread([this] { Accept(); });
    }
    ~FastServer() {
        stop = true;
        shutdown(listenFd, SHUT_RDWR);
        acceptor.join();
        {
            std::lock_guard<std::mutex> guard(lock);
            for (int fd : fds) shutdown(fd, SHUT_RDWR);
        }
        for (auto& worker : workers) worker.join();
        for (int fd : fds) close(fd);
        close(listenFd);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/dav/"; }

private:
    void Accept() {
        while (!stop) {
            pollfd p = {listenFd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard<std::mutex> guard(lock);
            fds.push_back(fd);
            workers.emplace_back([this, fd] { Serve(fd); });
        }
    }
    void Serve(int fd) {
        std::string in;
        char buf[8192];
        for (;;) {
            size_t end;
            while ((end = in.find("\r\n\r\n")) == std::string::npos) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                in.append(buf, static_cast<size_t>(n));
            }
            size_t length = 0;
            size_t cl = in.find("Content-Length: ");
            if (cl != std::string::npos && cl < end)
                length = std::strtoul(&in[cl + 16], nullptr, 10);
            while (in.size() < end + 4 + length) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                in.append(buf, static_cast<size_t>(n));
            }
            in.erase(0, end + 4 + length);
            if (send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) <= 0) return;
        }
    }

    std::string answer;
    int listenFd = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread acceptor;
    std::mutex lock;
    std::vector<int> fds;
    std::vector<std::thread> workers;
};

// A host logger that filters by its mask, as the host's does.
class FilteringLogger : public ILog {
public:
    explicit FilteringLogger(int mask) : mask(mask) {}
    void Write(LOGLEVEL, const char*) override {}
    int GetLevel() override { return mask; }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override {
        if ((level & 0xff & mask) == 0) return;
        char line[1024];
        vsnprintf(line, sizeof line, format, *args);
        benchmark::DoNotOptimize(line);
    }

private:
    int mask;
};

FastServer& Server() {
    static FastServer server;
    return server;
}

size_t Keep(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct Cursor {
    const std::string* body;
    size_t pos;
};

size_t Serve(char* out, size_t size, size_t count, void* cursor) {
    auto* c = static_cast<Cursor*>(cursor);
    size_t n = std::min(size * count, c->body->size() - c->pos);
    std::memcpy(out, c->body->data() + c->pos, n);
    c->pos += n;
    return n;
}

// The bare loop sends the body the way the request object must (from a read
// callback, so a retry can rewind it) unless `fields` asks for libcurl's
// in-memory fields, which travel in one packet with the head.
void BareLoop(benchmark::State& state, bool fields) {
    std::string url = Server().url();
    CURL* h = curl_easy_init();
    // The same transport defaults as every request object, so the comparison
    // isolates what the pool, the request object and the logging add.
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 20L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 32L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Tessaryn(gzip)");
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PROPFIND");
    curl_slist* headers = curl_slist_append(nullptr, "Depth: 1");
    headers = curl_slist_append(headers, "Content-Type: text/xml");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    Cursor cursor{&kRequestBody, 0};
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    if (fields) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, kRequestBody.c_str());
    } else {
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &Serve);
        curl_easy_setopt(h, CURLOPT_READDATA, &cursor);
    }
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(kRequestBody.size()));
    curl_easy_setopt(h, CURLOPT_HEADER, 1L);
    std::string answer;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Keep);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    for (auto _ : state) {
        answer.clear();
        cursor.pos = 0;
        long status = 0;
        if (curl_easy_perform(h) != CURLE_OK ||
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 207)
            state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations());
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
}

void BM_BareEasyHandle(benchmark::State& state) {
    BareLoop(state, false);
}
void BM_BareEasyHandleFields(benchmark::State& state) {
    BareLoop(state, true);
}

void BM_PooledLoggingObject(benchmark::State& state) {
    std::string url = Server().url();
    FilteringLogger host(LOG_INFO | LOG_ERROR | LOG_PROTOCOL | LOG_CURL | LOG_TRANSFER);
    logger.store(&host);
    CURLQueue<CURLLogger> queue(0);
    for (auto _ : state) {
        auto object = queue.GetCURL();
        AutoPutCURL<CURLLogger> guard(object, &queue);
        object->SetURL(url.c_str());
        object->SetRequest("PROPFIND");
        object->AddHeader("Depth", "1");
        object->AddHeader("Content-Type", "text/xml");
        _CURLRTN result = object->PerformPost(kRequestBody);
        if (result.code != CURLE_OK || result.http_status != 207)
            state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations());
    logger.store(nullptr);
}

}  // namespace

// "--iterations=N" runs every loop exactly N times, so that a counter such as
// `perf stat -e instructions` can be divided into a per-request cost; timing
// on a shared machine is too noisy to show a few percent.
int main(int argc, char** argv) {
    long fixed = 0;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--iterations=", 13) == 0)
            fixed = std::strtol(argv[i] + 13, nullptr, 10);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    const std::pair<const char*, void (*)(benchmark::State&)> loops[] = {
        {"BM_BareEasyHandle", BM_BareEasyHandle},
        {"BM_PooledLoggingObject", BM_PooledLoggingObject},
        {"BM_BareEasyHandleFields", BM_BareEasyHandleFields},
    };
    for (auto& loop : loops) {
        auto* b = benchmark::RegisterBenchmark(loop.first, loop.second);
        b->UseRealTime()->MeasureProcessCPUTime();
        if (fixed > 0) b->Iterations(fixed);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
