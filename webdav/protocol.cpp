#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
CURLQueue<CURLLogger> cq(0);
std::string URLEncode(const char* text) { return text; }
Protocol::Protocol(const char* address, IProtocolManager*) : url(address) {}
Protocol::~Protocol() = default;
void Protocol::Release() { delete this; }
AERROR Protocol::GetUserInfo(char*, int*) { return NOT_SUPPORTED; }
AERROR Protocol::GetQuota(unsigned long long*, unsigned long long*) { return NOT_SUPPORTED; }
AERROR Protocol::SetQuota(unsigned long long, unsigned long long) { return NOT_SUPPORTED; }
AERROR Protocol::GetType(char**) { return NOT_SUPPORTED; }
AERROR Protocol::SetFileTime(const char*, std::string, std::string, std::string, _FS_FILE*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::Connect() { return NOT_SUPPORTED; }
AERROR Protocol::GetCredential(char*, int*) { return NOT_SUPPORTED; }
AERROR Protocol::SetCredential(const char*) { return NOT_SUPPORTED; }
PT_FEATURE Protocol::GetFeature() { return features; }
void Protocol::SetQuotaCallback(void*, bool (*)(void*, void*, long long*, long long*)) {}
void Protocol::FreeMsg(char*) {}
AERROR Protocol::GetIdentifier(char*, int*) { return NOT_SUPPORTED; }
AERROR Protocol::GetRootID(char*, int*) { return NOT_SUPPORTED; }
AERROR Protocol::AddAuth(std::shared_ptr<IAuth>) { return NOT_SUPPORTED; }
