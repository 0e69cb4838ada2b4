// A bare TCP listener on 127.0.0.1 for peers the scripted HTTP server cannot play.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Runs client(port) while a listener on that port keeps the first bytes of each
// connection (a TLS ClientHello, a SOCKS greeting) and answers them with plain text,
// so that a TLS handshake fails; returns those bytes, one string per connection.
inline std::vector<std::string> FirstBytes(const std::function<void(int port)>& client) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd, 16);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    auto ready = [](int socket, int ms) {
        pollfd p{socket, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    };
    std::vector<std::string> received;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        for (char buffer[16384]; !done;) {
            int peer = ready(fd, 20) ? accept(fd, nullptr, nullptr) : -1;
            if (peer < 0) continue;
            received.emplace_back();
            for (ssize_t n = 0;
                 ready(peer, n ? 20 : 2000) && (n = read(peer, buffer, sizeof buffer)) > 0;)
                received.back().append(buffer, static_cast<size_t>(n));  // until the peer waits
            send(peer, "HTTP/1.1 400 Bad Request\r\n\r\n", 28, MSG_NOSIGNAL);
            close(peer);
        }
    });
    client(ntohs(address.sin_port));
    done = true;
    listener.join();
    close(fd);
    return received;
}
