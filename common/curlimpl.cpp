#include "curlimpl.h"
// PLACEHOLDER: replaced by the real implementation.
CURLImpl::CURLImpl() {}
CURLImpl::~CURLImpl() = default;
void CURLImpl::Clear() {}
_CURLRTN CURLImpl::PerformGet(void*, void*) { _CURLRTN r; r.code = CURLE_FAILED_INIT; return r; }
_CURLRTN CURLImpl::PerformPost(std::string) { _CURLRTN r; r.code = CURLE_FAILED_INIT; return r; }
_CURLRTN CURLImpl::PerformPost(void*, void*, long long) { _CURLRTN r; r.code = CURLE_FAILED_INIT; return r; }
void* CURLImpl::GetCURL() { return curl.get(); }
void CURLImpl::SetURL(const char* u) { url = u; }
std::string CURLImpl::GetURL() { return url; }
void CURLImpl::SetRequest(const char* m) { request = m; }
std::string CURLImpl::GetRequest() { return request; }
void CURLImpl::SetPost(curl_httppost*) {}
std::unordered_map<std::string, std::string> CURLImpl::GetHeader() { return header; }
std::unordered_map<std::string, std::string> CURLImpl::GetQuery() { return query; }
std::string CURLImpl::BuildQueryString(bool) { return {}; }
curl_slist* CURLImpl::BuildHeader() { return nullptr; }
std::string CURLImpl::Escape(const char*) { return {}; }
std::string CURLImpl::Unescape(const char*) { return {}; }
void CURLImpl::SetSpeedLimit(long long) {}
void CURLImpl::SetLowSpeedTimeout(long) {}
void CURLImpl::SetSendBuffer() {}
void CURLImpl::SetPostFileSize(long long) {}
void CURLImpl::BindHandle(std::shared_ptr<_FS_HANDLE>) {}
