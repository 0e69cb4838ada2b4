#include "curllogger.h"
// PLACEHOLDER: replaced by the real implementation.
CURLLogger::CURLLogger() {}
CURLLogger::~CURLLogger() = default;
void CURLLogger::InstallLogger() {}
_CURLRTN CURLLogger::PerformGet(void* f, void* d) { return CURLImpl::PerformGet(f, d); }
_CURLRTN CURLLogger::PerformPost(std::string b) { return CURLImpl::PerformPost(std::move(b)); }
_CURLRTN CURLLogger::PerformPost(void* f, void* d, long long s) { return CURLImpl::PerformPost(f, d, s); }
std::string CURLLogger::GetLastURL() { return last_url; }
std::string CURLLogger::DisplayURL() { return url; }
int CURLDebug(CURL*, curl_infotype, char*, size_t, void*) { return 0; }
