#include "connection.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "credentials.h"
#include "json_text.h"
#include "numbers.h"

namespace {

const char* Env(const char* name) {
    const char* value = getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool IsUrl(const std::string& text) {
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

// "host:port" or "[v6]:port" into its parts; false when there is no usable port.
bool SplitProxy(const std::string& proxy, std::string* host, int* port) {
    size_t colon = proxy.rfind(':');
    if (!proxy.empty() && proxy[0] == '[') {
        size_t close = proxy.find(']');
        if (close == std::string::npos || close + 1 != colon) return false;
    }
    long long number = 0;
    if (colon == std::string::npos || colon == 0 ||
        !ParseCount(proxy.substr(colon + 1), 65535, &number) || number == 0)
        return false;
    *host = proxy.substr(0, colon);
    *port = static_cast<int>(number);
    return true;
}

// libcurl's pin list: "sha256//" and base64, several joined by ";".
bool IsPinList(const std::string& pins) {
    size_t begin = 0;
    for (;;) {
        size_t end = pins.find(';', begin);
        std::string pin = pins.substr(begin, end == std::string::npos ? end : end - begin);
        if (pin.rfind("sha256//", 0) != 0 || pin.size() == 8 ||
            pin.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=", 8) !=
                std::string::npos)
            return false;
        if (end == std::string::npos) return true;
        begin = end + 1;
    }
}

// The plug-in opens certificate files on every request, long after the tool read its
// command line: a readable file, named by its absolute path.
bool ReadableFile(const char* option, std::string* path, std::string* error) {
    if (path->empty()) return true;
    char resolved[PATH_MAX];
    if (access(path->c_str(), R_OK) != 0 || realpath(path->c_str(), resolved) == nullptr) {
        *error = std::string("cannot read ") + option + " file '" + *path + "': " + strerror(errno);
        return false;
    }
    *path = resolved;
    return true;
}

}  // namespace

bool TakeConnectionOption(const std::string& name, const std::function<bool()>& takeValue,
                          const std::string& value, ConnectionOptions* o, std::string* error) {
    struct Text {
        const char* shortName;
        const char* longName;
        std::string ConnectionOptions::*field;
    };
    static const Text texts[] = {
        {"", "--url", &ConnectionOptions::url},
        {"", "--user-agent", &ConnectionOptions::userAgent},
        {"", "--proxy", &ConnectionOptions::proxy},
        {"", "--proxy-user", &ConnectionOptions::proxyUser},
        {"", "--plugin", &ConnectionOptions::plugin},
        {"", "--cacert", &ConnectionOptions::caFile},
        {"", "--pinnedpubkey", &ConnectionOptions::pinnedPubkey},
        {"", "--cert", &ConnectionOptions::clientCert},
        {"", "--key", &ConnectionOptions::clientKey},
        {"-u", "--user", &ConnectionOptions::user},
        {"", "--password", &ConnectionOptions::password},
    };
    if (name == "-k" || name == "--insecure") {
        o->insecure = true;
        return true;
    }
    for (auto& text : texts) {
        if (name != text.longName && name != text.shortName) continue;
        if (!takeValue()) return true;
        o->*text.field = value;
        if (text.field == &ConnectionOptions::user) o->haveUser = true;
        if (text.field == &ConnectionOptions::password) o->havePassword = true;
        return true;
    }
    if (name == "--speed-limit") {
        if (takeValue() && !ParseBytes(value, &o->speedLimit))
            *error = "bad --speed-limit '" + value + "' (bytes per second, K/M/G allowed)";
        return true;
    }
    if (name == "--log-level") {
        if (takeValue() && !ParseLogLevel(value, &o->logLevel))
            *error = "bad --log-level '" + value + "' (none, error, info or trace)";
        return true;
    }
    return false;
}

std::string ConnectionHelp() {
    return R"(Connection:
  --url URL                  the server URL (or WEBDAV_URL)
  -u, --user USER            user name (or WEBDAV_USER)
  --password PASSWORD        password (better: WEBDAV_PASSWORD, or the prompt
                             that appears when a user is given without one and
                             standard input is a terminal)
  --user-agent TEXT          User-Agent header for every request
  --proxy HOST:PORT          send requests through this HTTP proxy
  --proxy-user USER[:PASS]   credentials for the proxy
  --speed-limit BYTES        cap transfers at BYTES per second (K, M, G allowed)

TLS (https:// URLs; the server's certificate is checked against the system's
CA store unless told otherwise):
  --cacert FILE              trust the CAs in this PEM file instead
  -k, --insecure             do not check the server's certificate
  --pinnedpubkey PINS        the server's public key must match one of
                             sha256//BASE64[;sha256//BASE64...]
  --cert FILE                present this client certificate (PEM)
  --key FILE                 the client certificate's key (PEM), if not in --cert

Plug-in:
  --plugin PATH              the plug-in to load (or WEBDAV_PLUGIN; default: the
                             libwebdav.so next to the tool, then the one it was
                             built with)
  --log-level LEVEL          log lines on stderr: none, error, info or trace
)";
}

bool ResolveConnection(ConnectionOptions* o, std::string* error) {
    if (o->url.empty() && Env("WEBDAV_URL")) o->url = Env("WEBDAV_URL");
    if (o->url.empty()) {
        *error = "no server URL (give it first, with --url, or in WEBDAV_URL)";
        return false;
    }
    if (!IsUrl(o->url)) {
        *error = "the server URL must begin with http:// or https://";
        return false;
    }
    std::string host;
    int port = 0;
    if (!o->proxy.empty() && !SplitProxy(o->proxy, &host, &port)) {
        *error = "bad --proxy '" + o->proxy + "' (HOST:PORT expected)";
        return false;
    }
    if (o->proxy.empty() && !o->proxyUser.empty()) {
        *error = "--proxy-user needs --proxy";
        return false;
    }
    if (o->insecure && !o->caFile.empty()) {
        *error = "--cacert and --insecure contradict each other";
        return false;
    }
    if (!o->clientKey.empty() && o->clientCert.empty()) {
        *error = "--key needs --cert";
        return false;
    }
    if (!o->pinnedPubkey.empty() && !IsPinList(o->pinnedPubkey)) {
        *error =
            "bad --pinnedpubkey '" + o->pinnedPubkey + "' (sha256//BASE64, several joined by ';')";
        return false;
    }
    if (!ReadableFile("--cacert", &o->caFile, error) ||
        !ReadableFile("--cert", &o->clientCert, error) ||
        !ReadableFile("--key", &o->clientKey, error))
        return false;
    if (!o->haveUser && Env("WEBDAV_USER")) o->user = Env("WEBDAV_USER");
    if (!o->havePassword && getenv("WEBDAV_PASSWORD") != nullptr) {
        o->password = getenv("WEBDAV_PASSWORD");
        o->havePassword = true;
    }
    if (!o->havePassword && !o->user.empty())
        o->havePassword = PromptPassword("Password for " + o->user + ": ", &o->password);
    return true;
}

std::string ExInfoDocument(const ConnectionOptions& o) {
    // Verification is asked for on every URL: a redirect may still lead to https.
    std::string data = std::string("\"verify_tls\":") + (o.insecure ? "false" : "true");
    auto add = [&](const char* member, const std::string& text) {
        if (!text.empty()) data += ",\"" + std::string(member) + "\":" + JsonString(text);
    };
    add("ca_file", o.caFile);
    add("pinned_pubkey", o.pinnedPubkey);
    add("client_cert", o.clientCert);
    add("client_key", o.clientKey);
    std::string host;
    int port = 0;
    if (SplitProxy(o.proxy, &host, &port)) {
        // Proxy type 4: a plain HTTP proxy (https:// addresses are still tunnelled by libcurl).
        data += ",\"proxy_host\":" + JsonString(host) +
                ",\"proxy_type\":4,\"proxy_port\":" + std::to_string(port);
        if (!o.proxyUser.empty()) {
            size_t colon = o.proxyUser.find(':');
            add("proxy_user", o.proxyUser.substr(0, colon));
            data += ",\"proxy_pwd\":" +
                    JsonString(colon == std::string::npos ? "" : o.proxyUser.substr(colon + 1));
        }
    }
    return "{\"data\":{" + data + "}}";
}

std::unique_ptr<Session> Session::Open(const ConnectionOptions& o, ILog* log, int* status) {
    std::string error;
    auto library = LoadPlugin(o.plugin, &error);
    if (!library) {
        fprintf(stderr, "%s: %s\n", ProgramName(), error.c_str());
        *status = EXIT_PLUGIN;
        return nullptr;
    }
    std::unique_ptr<Session> session(new Session);
    session->library_ = library;
    session->log_ = log;
    library->api().BindLogger(log);
    IProtocol_V2* raw = nullptr;
    if (!library->api().GetProtocol(o.url.c_str(), nullptr, &raw) || raw == nullptr) {
        fprintf(stderr, "%s: open %s: the plug-in gave no protocol object\n", ProgramName(),
                o.url.c_str());
        *status = EXIT_PLUGIN;
        return nullptr;
    }
    session->dav_.reset(raw);
    auto set = [&](const char* name, const std::string& value) {
        AERROR result;
        try {
            result = raw->SetOpt(name, value.c_str());
        } catch (...) {
            result = FAILED;
        }
        if (result != SUCCESS) error = std::string("the plug-in refused the option ") + name;
        return result == SUCCESS;
    };
    if ((!o.user.empty() && !set("user", o.user)) ||
        (!o.password.empty() && !set("password", o.password)) ||
        (!o.userAgent.empty() && !set("user_agent", o.userAgent)) ||
        (o.speedLimit > 0 && !set("speedlimit", std::to_string(o.speedLimit))) ||
        !set("ex_info", ExInfoDocument(o))) {
        *status = Report("configure " + o.url, FAILED, error, EXIT_FAILED);
        return nullptr;
    }
    // As the host does before any file operation: the test also settles which authentication
    // method later requests offer.
    session->test_ = Call(raw, [&](char** message) { return raw->TestConnect(message); });
    return session;
}

Session::~Session() {
    dav_.reset();
    if (library_) library_->api().UnbindLogger();
}
