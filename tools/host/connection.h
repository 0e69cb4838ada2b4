// Opening a connection the way the host does: the plug-in loaded with dlopen, a protocol object
// from it, its options through SetOpt, then the connection test. Both tools take the same
// connection options and keep the same rules for credentials and certificates.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "outcome.h"
#include "plugin.h"
#include "stderr_log.h"

// What the command line said about the connection, before the environment is consulted.
struct ConnectionOptions {
    std::string url;
    std::string user;
    std::string password;
    bool haveUser = false;
    bool havePassword = false;
    std::string userAgent;
    std::string proxy;      // host:port
    std::string proxyUser;  // user[:password]
    long long speedLimit = 0;
    std::string plugin;
    LogLevel logLevel = LogLevel::None;
    // Certificates are checked against the system's CA store unless insecure is set.
    bool insecure = false;
    std::string caFile;
    std::string pinnedPubkey;  // "sha256//<base64>[;sha256//<base64>...]"
    std::string clientCert;
    std::string clientKey;
};

// If name is a connection option, takes it into *options and returns true; a bad or missing
// value leaves *error set. False for every other name. takeValue() fetches the option's value
// into value, or sets *error and returns false.
bool TakeConnectionOption(const std::string& name, const std::function<bool()>& takeValue,
                          const std::string& value, ConnectionOptions* options, std::string* error);

// The help lines of the connection options, shared by the tools' --help texts.
std::string ConnectionHelp();

// Completes the options from the environment (WEBDAV_URL, WEBDAV_USER, WEBDAV_PASSWORD) and the
// password prompt on a terminal, and checks them. False with *error for options that cannot
// work together or files that cannot be read.
bool ResolveConnection(ConnectionOptions* options, std::string* error);

// The "ex_info" document: the proxy and TLS members of its "data" object.
std::string ExInfoDocument(const ConnectionOptions& options);

// A configured protocol object whose connection was tested, released through the plug-in and
// with the logger unbound when it goes.
class Session {
public:
    // Prints the one failure line itself and returns null with *status set when the plug-in
    // cannot be loaded or configured. The connection test's outcome is in test().
    static std::unique_ptr<Session> Open(const ConnectionOptions& options, ILog* log, int* status);
    ~Session();

    IProtocol_V2* dav() const { return dav_.get(); }
    const Outcome& test() const { return test_; }

private:
    std::shared_ptr<PluginLibrary> library_;
    ILog* log_ = nullptr;
    ProtocolPtr dav_;
    Outcome test_;
};
