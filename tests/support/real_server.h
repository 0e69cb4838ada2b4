// A real WebDAV server (tests/servers/start.sh) in a fresh temporary directory, removed with it.
// One that cannot start leaves ok() false and why in error(): tests fail on it, never skip.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/paths.h"

struct RealServerOptions {
    std::string auth = "basic";  // "basic", "digest" or "none"
    bool tls = false;
    std::string user = "alice", password = "secret";
    // PEM files for TLS instead of a self-signed certificate; apache with a clientCa requires a
    // client certificate signed by it.
    std::string cert, key, clientCa;
};

// A server that asks for no credentials (benchmarks).
inline RealServerOptions Anonymous() {
    RealServerOptions options;
    options.auth = "none";
    return options;
}

class RealServer {
public:
    explicit RealServer(const std::string& kind, RealServerOptions options = {})
        : options_(std::move(options)),
          workdir_(std::filesystem::temp_directory_path() / ("webdav-" + kind + "-XXXXXX")) {
        if (mkdtemp(workdir_.data()) == nullptr)
            throw std::runtime_error("cannot make " + workdir_);
        std::vector<std::string> start = {"start.sh",    kind,          workdir_,
                                          "--auth",      options_.auth, "--user",
                                          options_.user, "--password",  options_.password};
        if (options_.tls) start.push_back("--tls");
        const std::pair<const char*, std::string> files[] = {
            {"--cert", options_.cert}, {"--key", options_.key}, {"--client-ca", options_.clientCa}};
        for (auto& [flag, file] : files)
            if (!file.empty()) start.insert(start.end(), {flag, file});
        auto [status, said] = Run(start);
        if (status == 0)
            url_ = said.substr(said.rfind('\n') + 1);  // the URL comes last
        else
            error_ = "starting " + kind + " failed:\n" + said;
    }
    ~RealServer() {
        Run({"stop.sh", workdir_});
        std::error_code error;
        std::filesystem::remove_all(workdir_, error);
    }

    bool ok() const { return !url_.empty(); }
    const std::string& error() const { return error_; }
    // Base URL without a trailing "/", e.g. "http://127.0.0.1:40123/dav", serving root().
    const std::string& url() const { return url_; }
    std::string root() const { return workdir_ + "/root"; }
    const std::string& workdir() const { return workdir_; }
    std::string user() const { return options_.user; }
    std::string password() const { return options_.password; }

    // Runs a script of tests/servers (words[0]): its exit status and output. Servers it starts
    // follow this process: should it die without the destructor, they go.
    static std::pair<int, std::string> Run(std::vector<std::string> words) {
        std::string command = "WEBDAV_SERVER_OWNER=" + std::to_string(getpid()), output;
        words[0] = SourceDir() + "/tests/servers/" + words[0];
        for (auto& word : words) command += " '" + ReplaceAll(word, "'", "'\\''") + "'";
        FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
        char buffer[4096];
        for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        while (!output.empty() && output.back() == '\n') output.pop_back();
        return {pipe ? pclose(pipe) : -1, output};
    }

private:
    RealServerOptions options_;
    std::string workdir_, url_, error_;
};

// The private PKI of tests/servers/make-certs.sh in a fresh temporary directory, removed with it.
class TestCertificates {
public:
    TestCertificates() : dir_(std::filesystem::temp_directory_path() / "webdav-pki-XXXXXX") {
        if (mkdtemp(dir_.data()) == nullptr) throw std::runtime_error("cannot make " + dir_);
        auto [status, said] = RealServer::Run({"make-certs.sh", dir_});
        if (status != 0) throw std::runtime_error("make-certs.sh failed:\n" + said);
    }
    ~TestCertificates() {
        std::error_code error;
        std::filesystem::remove_all(dir_, error);
    }
    // "ca.pem", "server.key", ...: the absolute path of one of its files.
    std::string operator()(const std::string& name) const { return dir_ + "/" + name; }
    // The server key's pin, "sha256//<base64>".
    std::string Pin() const {
        std::ifstream in((*this)("server.pin"));
        std::string pin;
        std::getline(in, pin);
        return pin;
    }

private:
    std::string dir_;
};
