// The connection test: one PROPFIND on the root, which also learns the
// server's authentication scheme and, once, falls back to old TLS ciphers.

#include "../common/logstate.h"
#include "protocol.h"

AERROR Protocol::TestConnect(char** message) {
    if (message != nullptr) *message = nullptr;
    return Shielded(FAILED, message, [&] {
        authType = WEBDAV_CURLAUTH_ANY;
        long offered = WEBDAV_CURLAUTH_ANY;
        _CURLRTN result = do_propfind(nullptr, WEBDAV_CURLAUTH_ANY, "1", &offered);

        if (result.code == CURLE_SSL_CONNECT_ERROR && tlsFallback.load() == 0 && !checks_server()) {
            // Only a failed handshake is retried, and only where nothing is checked: a
            // refused certificate or pin is final, and whoever breaks one handshake must not
            // talk a connection that asked for checks into old ciphers.
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s TestConnect , curl error: [%d]", "TestConnect",
                     result.code);
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s retry to TestConnect for SSLv3", "TestConnect");
            tlsFallback = 1;
            return TestConnect(message);
        }
        if (result.code != 0)
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s TestConnect , curl error: [%d]", "TestConnect",
                     result.code);
        Verdict verdict = conclude(Operation::Test, result, message);
        if (verdict.result == SUCCESS) {
            authType = static_cast<int>(offered);
            log_line(LOG_TRACE | LOG_PROTOCOL, "%s WebDAV auth type : [%X]", "TestConnect",
                     static_cast<unsigned int>(authType.load()));
        }
        return verdict.result;
    });
}
