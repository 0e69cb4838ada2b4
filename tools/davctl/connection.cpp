#include "connection.h"

#include <cstdlib>

#include "credentials.h"
#include "json_text.h"

namespace {

const char* Env(const char* name) {
    const char* value = getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool ParsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *port = value;
    return true;
}

}  // namespace

bool ProxyDocument(const std::string& proxy, const std::string& proxyUser, std::string* document,
                   std::string* error) {
    std::string host;
    std::string port;
    if (!proxy.empty() && proxy[0] == '[') {
        size_t close = proxy.find(']');
        if (close == std::string::npos || close + 1 >= proxy.size() || proxy[close + 1] != ':') {
            *error = "bad --proxy '" + proxy + "' (HOST:PORT expected)";
            return false;
        }
        host = proxy.substr(0, close + 1);
        port = proxy.substr(close + 2);
    } else {
        size_t colon = proxy.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            *error = "bad --proxy '" + proxy + "' (HOST:PORT expected)";
            return false;
        }
        host = proxy.substr(0, colon);
        port = proxy.substr(colon + 1);
    }
    int number = 0;
    if (!ParsePort(port, &number)) {
        *error = "bad --proxy port '" + port + "'";
        return false;
    }
    std::string user = proxyUser;
    std::string password;
    size_t colon = proxyUser.find(':');
    if (colon != std::string::npos) {
        user = proxyUser.substr(0, colon);
        password = proxyUser.substr(colon + 1);
    }
    // Proxy type 4: a plain HTTP proxy (https:// addresses are still tunnelled by libcurl).
    *document = "{\"data\":{\"proxy_host\":" + JsonString(host) +
                ",\"proxy_type\":4,\"proxy_port\":" + std::to_string(number);
    if (!proxyUser.empty())
        *document +=
            ",\"proxy_user\":" + JsonString(user) + ",\"proxy_pwd\":" + JsonString(password);
    *document += "}}";
    return true;
}

bool MergeSettings(const Options& options, Settings* s, std::string* error) {
    s->url = options.url;
    if (s->url.empty() && Env("WEBDAV_URL")) s->url = Env("WEBDAV_URL");
    s->user = options.user;
    if (!options.haveUser && Env("WEBDAV_USER")) s->user = Env("WEBDAV_USER");
    s->password = options.password;
    bool havePassword = options.havePassword;
    if (!havePassword && getenv("WEBDAV_PASSWORD") != nullptr) {
        s->password = getenv("WEBDAV_PASSWORD");
        havePassword = true;
    }
    if (!havePassword && !s->user.empty())
        PromptPassword("Password for " + s->user + ": ", &s->password);
    s->userAgent = options.userAgent;
    s->proxy = options.proxy;
    s->proxyUser = options.proxyUser;
    s->speedLimit = options.speedLimit;
    if (!s->proxy.empty()) {
        std::string unused;
        if (!ProxyDocument(s->proxy, s->proxyUser, &unused, error)) return false;
    } else if (!s->proxyUser.empty()) {
        *error = "--proxy-user needs --proxy";
        return false;
    }
    return true;
}

bool Configure(IProtocol_V2* protocol, const Settings& s, std::string* error) {
    auto set = [&](const char* name, const std::string& value) {
        AERROR result;
        try {
            result = protocol->SetOpt(name, value.c_str());
        } catch (...) {
            result = FAILED;
        }
        if (result != SUCCESS) *error = std::string("the plug-in refused the option ") + name;
        return result == SUCCESS;
    };
    if (!s.user.empty() && !set("user", s.user)) return false;
    if (!s.password.empty() && !set("password", s.password)) return false;
    if (!s.userAgent.empty() && !set("user_agent", s.userAgent)) return false;
    if (s.speedLimit > 0 && !set("speedlimit", std::to_string(s.speedLimit))) return false;
    if (!s.proxy.empty()) {
        std::string document;
        if (!ProxyDocument(s.proxy, s.proxyUser, &document, error)) return false;
        if (!set("ex_info", document)) return false;
    }
    return true;
}
