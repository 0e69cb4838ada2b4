// Connection options: what the host configures, and how each request of the
// connection carries it to libcurl.

#include <cstdlib>
#include <string>

#include "../common/json.h"
#include "protocol.h"

namespace {

// The request object's own default, restored for connections without one:
// pooled request objects move between connections.
const char* const kDefaultUserAgent = "Tessaryn(gzip)";

// Option names and "true" are ASCII: compare them the same way in every locale
// the host may have set.
bool SameNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

bool IsTrue(const char* value) {
    return SameNoCase(value, "true");
}

// Reads a member when the document has it; an absent path keeps the field.
void ReadText(Json& document, const char* path, std::string& field) {
    if (document.HasObject(path)) field = static_cast<std::string>(document.GetObject(path));
}
void ReadInt(Json& document, const char* path, int& field) {
    if (document.HasObject(path)) field = static_cast<int>(document.GetObject(path));
}
// The TLS members must have their JSON type: a host that wrote "verify_tls":1 or a CA file as
// a number asked for a check and must not silently get none. Throws INVALID_PARAMETER.
void ReadSwitch(Json& document, const char* path, bool& field) {
    if (!document.HasObject(path)) return;
    std::shared_ptr<json_t> value = document.GetObject(path);
    if (!json_is_boolean(value.get())) throw INVALID_PARAMETER;
    field = json_is_true(value.get());
}
void ReadTlsText(Json& document, const char* path, std::string& field) {
    if (!document.HasObject(path)) return;
    std::shared_ptr<json_t> value = document.GetObject(path);
    if (!json_is_string(value.get())) throw INVALID_PARAMETER;
    field.assign(json_string_value(value.get()), json_string_length(value.get()));
}

// libcurl's own CA bundle and folder, for connections that name no CA file: a handle given
// null for them would trust no CA at all rather than the system's.
struct SystemCas {
    std::string file, folder;
};
const SystemCas& SystemCaDefaults() {
    static const SystemCas defaults = [] {
        SystemCas found;
        std::shared_ptr<CURL> fresh(curl_easy_init(), [](CURL* h) {
            if (h) curl_easy_cleanup(h);
        });
        char* text = nullptr;
        if (fresh && curl_easy_getinfo(fresh.get(), CURLINFO_CAINFO, &text) == CURLE_OK && text)
            found.file = text;
        text = nullptr;
        if (fresh && curl_easy_getinfo(fresh.get(), CURLINFO_CAPATH, &text) == CURLE_OK && text)
            found.folder = text;
        return found;
    }();
    return defaults;
}

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

// Every TLS option, also when the connection has none: the handle may come straight from a
// connection with another CA file, pin, client certificate or verification switch.
void ApplyTls(CURL* handle, const Protocol& p) {
    const bool verify = p.verifyTls || !p.caFile.empty();
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    // A CA file replaces the system's CAs, their folder included.
    const SystemCas& system = SystemCaDefaults();
    curl_easy_setopt(handle, CURLOPT_CAINFO,
                     p.caFile.empty() ? OrNull(system.file) : p.caFile.c_str());
    curl_easy_setopt(handle, CURLOPT_CAPATH, p.caFile.empty() ? OrNull(system.folder) : nullptr);
    curl_easy_setopt(handle, CURLOPT_PINNEDPUBLICKEY, OrNull(p.pinnedPubKey));
    curl_easy_setopt(handle, CURLOPT_SSLCERT, OrNull(p.clientCert));
    curl_easy_setopt(handle, CURLOPT_SSLKEY, OrNull(p.clientKey));
    // Old ciphers only where nothing is checked: one broken handshake must not weaken a
    // connection that asked for checks.
    const bool fallback = p.ssl && p.tlsFallback.load() == 1 && !p.checks_server();
    curl_easy_setopt(handle, CURLOPT_SSL_CIPHER_LIST, fallback ? "TLSv1" : nullptr);
}

}  // namespace

AERROR Protocol::SetOpt(const char* name, const char* value) {
    try {
        return apply_option(name, value);
    } catch (AERROR code) {
        // The one exception hosts expect: "ex_info" that is not JSON (below).
        if (code == JSON_PARSE_ERROR) throw;
    } catch (...) {
    }
    return FAILED;
}

AERROR Protocol::apply_option(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) return INVALID_PARAMETER;
    if (SameNoCase(name, "gzip")) {
        gzip = IsTrue(value);
    } else if (SameNoCase(name, "user_agent")) {
        userAgent = value;
    } else if (SameNoCase(name, "ssl")) {
        ssl = IsTrue(value);
    } else if (SameNoCase(name, "user")) {
        user = value;
    } else if (SameNoCase(name, "password")) {
        password = value;
    } else if (SameNoCase(name, "ex_info")) {
        exInfo = value;
        // A text that is not JSON throws the bare parse error (6001) to the
        // host: hosts rely on catching it to report a broken configuration.
        Json document(exInfo.c_str(), static_cast<unsigned int>(exInfo.size()));
        try {
            // Read everything first so that a document that fails halfway
            // changes nothing.
            std::string newUser = user, newPassword = password, newAgent = userAgent;
            std::string newProxyHost = proxyHost, newProxyUser = proxyUser;
            std::string newProxyPassword = proxyPassword;
            int newProxyType = proxyType, newProxyPort = proxyPort;
            long long newMaxAnswer = maxAnswer;
            ReadText(document, "/data/user", newUser);
            ReadText(document, "/data/pwd", newPassword);
            ReadText(document, "/data/user_agent", newAgent);
            ReadText(document, "/data/proxy_host", newProxyHost);
            ReadInt(document, "/data/proxy_type", newProxyType);
            ReadText(document, "/data/proxy_user", newProxyUser);
            ReadText(document, "/data/proxy_pwd", newProxyPassword);
            ReadInt(document, "/data/proxy_port", newProxyPort);
            if (document.HasObject("/data/max_answer")) {
                long long limit = static_cast<long long>(document.GetObject("/data/max_answer"));
                newMaxAnswer = limit > 0 ? limit : 0;
            }
            bool hasOption = document.HasObject("/data/option");
            int option = hasOption ? static_cast<int>(document.GetObject("/data/option")) : 0;

            bool newVerifyTls = verifyTls;
            std::string newCaFile = caFile, newPinnedPubKey = pinnedPubKey;
            std::string newClientCert = clientCert, newClientKey = clientKey;
            ReadSwitch(document, "/data/verify_tls", newVerifyTls);
            ReadTlsText(document, "/data/ca_file", newCaFile);
            ReadTlsText(document, "/data/pinned_pubkey", newPinnedPubKey);
            ReadTlsText(document, "/data/client_cert", newClientCert);
            ReadTlsText(document, "/data/client_key", newClientKey);

            user = newUser;
            password = newPassword;
            userAgent = newAgent;
            proxyHost = newProxyHost;
            proxyType = newProxyType;
            proxyUser = newProxyUser;
            proxyPassword = newProxyPassword;
            proxyPort = newProxyPort;
            maxAnswer = newMaxAnswer;
            if (hasOption) {
                if (option & 0x40) features = features | PT_FEATURE_8;
                markFiles = (option & 0x20) != 0;
                if (option & 0x80) features = PT_FEATURE_800;
                if (option & 0x800) convertNames = true;
            }
            verifyTls = newVerifyTls;
            caFile = newCaFile;
            pinnedPubKey = newPinnedPubKey;
            clientCert = newClientCert;
            clientKey = newClientKey;
        } catch (...) {
            // JSON, but not the shape we read: nothing but exInfo has changed.
            return INVALID_PARAMETER;
        }
    } else if (SameNoCase(name, "speedlimit")) {
        speedLimit = std::atoll(value);
    }
    return SUCCESS;
}

// Every option governed here is set on every request, also to its "off"
// value: the request object comes from the pool shared by all connections
// and must not keep another connection's proxy, agent or TLS fallback.
void Protocol::set_extra_opts(std::shared_ptr<CURLLogger> request, int authType) {
    CURL* handle = static_cast<CURL*>(request->GetCURL());
    if (handle == nullptr) return;
    request->SetAnswerLimit(maxAnswer);

    ApplyTls(handle, *this);

    curl_easy_setopt(handle, CURLOPT_HTTPAUTH,
                     static_cast<unsigned long>(static_cast<unsigned int>(authType)));
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.c_str());

    curl_easy_setopt(handle, CURLOPT_USERAGENT,
                     userAgent.empty() ? kDefaultUserAgent : userAgent.c_str());

    if (!proxyHost.empty()) {
        long tunnel = proxyType == 3 ? 1L : 0L;
        long kind = CURLPROXY_HTTP;
        if (proxyType == 1) kind = CURLPROXY_SOCKS4A;
        if (proxyType == 2) kind = CURLPROXY_SOCKS5;
        curl_easy_setopt(handle, CURLOPT_HTTPPROXYTUNNEL, tunnel);
        curl_easy_setopt(handle, CURLOPT_PROXYTYPE, kind);
        curl_easy_setopt(handle, CURLOPT_PROXY, proxyHost.c_str());
        curl_easy_setopt(handle, CURLOPT_PROXYPORT, static_cast<long>(proxyPort));
        std::string credentials = proxyUser + ":" + proxyPassword;
        curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, credentials.c_str());
    } else {
        // "" means no proxy at all, not even one named by the environment.
        curl_easy_setopt(handle, CURLOPT_HTTPPROXYTUNNEL, 0L);
        curl_easy_setopt(handle, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
        curl_easy_setopt(handle, CURLOPT_PROXYPORT, 0L);
        curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, static_cast<char*>(nullptr));
    }
}

bool Protocol::checks_server() const {
    return verifyTls || !caFile.empty() || !pinnedPubKey.empty();
}
