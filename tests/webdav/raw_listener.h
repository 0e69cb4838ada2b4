// A bare TCP listener on 127.0.0.1 for what the scripted HTTP server cannot
// play: a peer that answers a TLS client with plain bytes, a peer that only
// records the first bytes a client sends (a TLS ClientHello, a SOCKS
// greeting), and a forwarder to another port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RawListener {
public:
    // Handles one accepted connection (index counts from 0); the listener
    // closes fd afterwards.
    using Handler = std::function<void(int fd, int index, RawListener& self)>;

    explicit RawListener(Handler handler) : handler_(std::move(handler)) {
        listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listenFd_, 16);
        socklen_t length = sizeof address;
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~RawListener() {
        stop_ = true;
        thread_.join();
        close(listenFd_);
    }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int port() const { return port_; }
    int Connections() const { return accepted_; }

    // Bytes a connection delivered, kept by the handlers below.
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }
    void Keep(std::string bytes) {
        std::lock_guard<std::mutex> guard(lock_);
        received_.push_back(std::move(bytes));
    }

    // Reads what arrives within timeoutMs (at most limit bytes).
    static std::string ReadSome(int fd, size_t limit, int timeoutMs) {
        std::string bytes;
        char buffer[4096];
        while (bytes.size() < limit) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
            timeoutMs = 50;  // after the first piece, wait only for its rest
        }
        return bytes;
    }
    static void WriteAll(int fd, const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // Answers whatever arrives (a TLS ClientHello) with plain HTTP text.
    static Handler PlainTextAnswer() {
        return [](int fd, int, RawListener& self) {
            self.Keep(ReadSome(fd, 1 << 16, 2000));
            WriteAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        };
    }
    // Keeps the first bytes of each connection and closes it.
    static Handler Capture() {
        return [](int fd, int, RawListener& self) { self.Keep(ReadSome(fd, 1 << 16, 2000)); };
    }
    // The first `plain` connections get plain text, later ones are forwarded
    // to 127.0.0.1:targetPort.
    static Handler PlainThenForward(int plain, int targetPort) {
        return [plain, targetPort](int fd, int index, RawListener& self) {
            if (index < plain) return PlainTextAnswer()(fd, index, self);
            self.Forward(fd, targetPort);
        };
    }

    // Pumps bytes both ways until either side closes or the listener stops.
    void Forward(int fd, int targetPort) {
        int upstream = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(targetPort));
        if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(upstream);
            return;
        }
        char buffer[16384];
        pollfd fds[2] = {{fd, POLLIN, 0}, {upstream, POLLIN, 0}};
        while (!stop_) {
            if (poll(fds, 2, 20) <= 0) continue;
            bool done = false;
            for (int i = 0; i < 2 && !done; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    done = true;
                    break;
                }
                WriteAll(fds[1 - i].fd, std::string(buffer, static_cast<size_t>(n)));
            }
            if (done) break;
        }
        close(upstream);
    }

private:
    void Run() {
        while (!stop_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            int fd = accept(listenFd_, nullptr, nullptr);
            if (fd < 0) continue;
            int index = accepted_++;
            handler_(fd, index, *this);
            close(fd);
        }
    }

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::string> received_;
};
