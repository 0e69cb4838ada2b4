// Signs requests with a bearer token held by the host, plus extra query parameters.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "../compiled/filesystem.h"
#include "curlimpl.h"

class CURLAuth {
public:
    explicit CURLAuth(std::shared_ptr<IAuth> auth);
    virtual ~CURLAuth();

    std::string GetToken();
    void AddAuth(const char* name, const char* value);
    std::string GetAuth(const char* name);
    std::shared_ptr<IAuth> GetAuth();
    virtual void SignAuthentication(CURLImpl& request);
    virtual void SignAuthentication(std::shared_ptr<CURLImpl> request);
    virtual void SignAuthentication(CURLImpl* request);
    void RefreshAuth();

private:
    std::shared_ptr<IAuth> auth;
    std::unordered_map<std::string, std::string> params;
    std::mutex lock;
};
