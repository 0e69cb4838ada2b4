#include "curlauth.h"

#include <cstring>

namespace {
constexpr int kTokenCapacity = 65536;
}

CURLAuth::CURLAuth(std::shared_ptr<IAuth> auth) : auth(std::move(auth)) {}

CURLAuth::~CURLAuth() = default;

std::string CURLAuth::GetToken() {
    char buffer[kTokenCapacity];
    buffer[0] = '\0';
    int length = kTokenCapacity;
    if (!auth || !auth->GetValue("access_token", buffer, &length)) return "";
    // The host may fill the whole block without a terminator.
    buffer[kTokenCapacity - 1] = '\0';
    std::string token(buffer);
    // A line break would let the token smuggle extra header lines into the request.
    size_t lineBreak = token.find_first_of("\r\n");
    if (lineBreak != std::string::npos) token.erase(lineBreak);
    return token;
}

void CURLAuth::AddAuth(const char* name, const char* value) {
    params[name] = value;
}

std::string CURLAuth::GetAuth(const char* name) {
    auto it = params.find(name);
    return it == params.end() ? "" : it->second;
}

std::shared_ptr<IAuth> CURLAuth::GetAuth() {
    return auth;
}

void CURLAuth::SignAuthentication(CURLImpl& request) {
    SignAuthentication(&request);
}

void CURLAuth::SignAuthentication(std::shared_ptr<CURLImpl> request) {
    SignAuthentication(request.get());
}

void CURLAuth::SignAuthentication(CURLImpl* request) {
    std::lock_guard<std::mutex> guard(lock);
    for (auto& param : params) request->AddQuery(param.first.c_str(), param.second);
    request->AddHeader("Authorization", "Bearer " + GetToken());
}

void CURLAuth::RefreshAuth() {
    std::lock_guard<std::mutex> guard(lock);
    if (auth) auth->Refresh();
}
