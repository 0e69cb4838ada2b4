#include "curlauth.h"
// PLACEHOLDER: replaced by the real implementation.
CURLAuth::CURLAuth(std::shared_ptr<IAuth> a) : auth(std::move(a)) {}
CURLAuth::~CURLAuth() = default;
std::string CURLAuth::GetToken() { return {}; }
void CURLAuth::AddAuth(const char*, const char*) {}
std::string CURLAuth::GetAuth(const char*) { return {}; }
std::shared_ptr<IAuth> CURLAuth::GetAuth() { return auth; }
void CURLAuth::SignAuthentication(CURLImpl& r) { SignAuthentication(&r); }
void CURLAuth::SignAuthentication(std::shared_ptr<CURLImpl> r) { SignAuthentication(r.get()); }
void CURLAuth::SignAuthentication(CURLImpl*) {}
void CURLAuth::RefreshAuth() {}
