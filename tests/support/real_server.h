// A real WebDAV server (lighttpd, apache, nginx, rclone, sabredav,
// webdav-server) started on loopback by tests/servers/start.sh in a fresh
// temporary work directory, and stopped and removed again by the destructor.
//
//     RealServer server("apache", {"digest", /*tls=*/true});
//     ASSERT_TRUE(server.ok()) << server.error();
//     auto p = host.Create(server.url());
//
// A server that cannot start leaves ok() false with the script's output
// (the server's own log included) in error(): tests must fail on it, never
// skip.
#pragma once

#include <string>
#include <vector>

struct RealServerOptions {
    std::string auth = "basic";  // "basic", "digest" or "none"
    bool tls = false;
    std::string user = "alice", password = "secret";
};

// What each kind of server offers beyond basic authentication over HTTP.
struct RealServerKind {
    std::string name;
    bool digest;  // HTTP digest authentication
    bool tls;     // HTTPS with a self-signed certificate
};
// Every kind start.sh knows, in a fixed order.
const std::vector<RealServerKind>& RealServerKinds();

class RealServer {
public:
    explicit RealServer(const std::string& kind, RealServerOptions o = {});
    ~RealServer();
    RealServer(const RealServer&) = delete;
    RealServer& operator=(const RealServer&) = delete;

    // Base URL without a trailing "/", e.g. "http://127.0.0.1:40123/dav".
    const std::string& url() const { return url_; }
    // The directory the server serves at url().
    const std::string& root() const { return root_; }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    std::string user() const { return options_.user; }
    std::string password() const { return options_.password; }
    const std::string& kind() const { return kind_; }
    // The temporary directory holding configuration, logs and root().
    const std::string& workdir() const { return workdir_; }
    // The server's logs as they stand now, for failure messages.
    std::string Logs() const;

private:
    std::string kind_;
    RealServerOptions options_;
    std::string workdir_, root_, url_, error_;
    bool ok_ = false;
};
