// Opening a connection the way the host does: a protocol object from the plug-in, its options
// through SetOpt, then the connection test.
#pragma once

#include <string>

#include "options.h"
#include "plugin.h"

// The connection's settings, after command line, environment and prompt have been merged.
struct Settings {
    std::string url;
    std::string user;
    std::string password;
    std::string userAgent;
    std::string proxy;
    std::string proxyUser;
    long long speedLimit = 0;
};

// Fills settings from the options, then the environment (WEBDAV_URL, WEBDAV_USER,
// WEBDAV_PASSWORD), then the password prompt. False with *error for an unusable proxy text.
bool MergeSettings(const Options& options, Settings* settings, std::string* error);

// The "ex_info" document for a proxy "host:port" (or "[v6]:port") and "user[:password]";
// false with *error when the proxy text has no usable port.
bool ProxyDocument(const std::string& proxy, const std::string& proxyUser, std::string* document,
                   std::string* error);

// Applies every setting with SetOpt. False with *error if the plug-in refused one.
bool Configure(IProtocol_V2* protocol, const Settings& settings, std::string* error);
