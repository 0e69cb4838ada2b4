// The connection test: one PROPFIND on the root, which also learns the
// server's authentication scheme and, once, falls back to old TLS ciphers.

#include "../common/logstate.h"
#include "protocol.h"

AERROR Protocol::TestConnect(char** message) {
    if (message != nullptr) *message = nullptr;
    AERROR verdict = FAILED;
    try {
        authType = WEBDAV_CURLAUTH_ANY;
        long offered = WEBDAV_CURLAUTH_ANY;
        _CURLRTN result = do_propfind(nullptr, WEBDAV_CURLAUTH_ANY, "1", &offered);

        if (result.code == 0) {
            if (result.http_status == 401 || result.http_status == 403) {
                verdict = ACCESS_DENIED;
            } else if (result.http_status == 404) {
                verdict = PATH_NOT_FOUND;
            } else if (result.http_status < 300) {
                authType = static_cast<int>(offered);
                log_line(LOG_TRACE | LOG_PROTOCOL, "%s WebDAV auth type : [%X]", "TestConnect",
                         static_cast<unsigned int>(authType.load()));
                verdict = SUCCESS;
            }
        } else if (result.code == CURLE_SSL_CONNECT_ERROR && tlsFallback.load() == 0) {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s TestConnect , curl error: [%d]", "TestConnect",
                     result.code);
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s retry to TestConnect for SSLv3", "TestConnect");
            tlsFallback = 1;
            return TestConnect(message);
        } else {
            log_line(LOG_ERROR | LOG_PROTOCOL, "%s TestConnect , curl error: [%d]", "TestConnect",
                     result.code);
        }
        get_err_msg(result, message);
    } catch (...) {
        return FAILED;
    }
    return verdict;
}
