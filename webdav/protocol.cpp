#include "protocol.h"

#include <cstdlib>
#include <cstring>

// Shared by every Protocol object for the life of the library.
CURLQueue<CURLLogger> cq(0);

namespace {

const char* const protocol_type = "dav;box";

bool KeepsUnencoded(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '_' || c == '-' || c == '.';
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsEscape(const std::string& text, size_t at) {
    return text[at] == '%' && at + 2 < text.size() && IsHexDigit(text[at + 1]) &&
           IsHexDigit(text[at + 2]);
}

bool HoldsEscape(const std::string& path) {
    for (size_t i = 0; i < path.size(); ++i)
        if (IsEscape(path, i)) return true;
    return false;
}

// URLEncode for a path that is already encoded in part: its escapes are kept, every other
// byte is encoded as URLEncode does (a blank typed beside "%20" too).
std::string EncodeAroundEscapes(const std::string& path) {
    std::string encoded;
    size_t done = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsEscape(path, i)) continue;
        encoded += URLEncode(path.substr(done, i - done).c_str());
        if (i < path.size()) encoded.append(path, i, 3);
        done = i + 3;
        i += 2;
    }
    return encoded;
}

// Copies text with its NUL when it fits strictly below *size; never touches
// more of buffer than that.
AERROR CopyOut(const std::string& text, char* buffer, int* size) {
    if (size == nullptr) return ACCESS_DENIED;
    if (static_cast<long long>(text.size()) >= static_cast<long long>(*size))
        return INSUFFICIENT_BUFFER;
    if (buffer == nullptr) return ACCESS_DENIED;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return SUCCESS;
}

}  // namespace

std::string URLEncode(const char* text) {
    std::string encoded;
    if (text == nullptr) return encoded;
    static const char hex[] = "0123456789ABCDEF";
    size_t length = strlen(text);
    encoded.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (KeepsUnencoded(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0x0F];
        }
    }
    return encoded;
}

Protocol::Protocol(const char* address, IProtocolManager* /*manager: not kept*/) : url(address) {
    static const char http[] = "http://";
    static const char https[] = "https://";
    if (url.compare(0, sizeof(http) - 1, http) == 0)
        ssl = false;
    else if (url.compare(0, sizeof(https) - 1, https) == 0)
        ssl = true;

    if (!url.empty() && url.back() == '/') url.pop_back();

    size_t scheme = url.find("://");
    size_t slash = scheme != std::string::npos ? url.find('/', scheme + 3) : url.find('/');
    if (slash != std::string::npos) {
        rootPath = url.substr(slash);
        std::string decoded;
        if (HoldsEscape(rootPath) && HrefPath(rootPath.data(), rootPath.size(), decoded)) {
            // Copied from an address bar, already encoded ("/My%20Files"): encoding it again
            // would address "/My%2520Files". Its escapes stay as they are; hrefs are matched
            // against the decoded path.
            url = url.substr(0, slash) + EncodeAroundEscapes(rootPath);
            rootPath = decoded;
        } else {
            url = url.substr(0, slash) + URLEncode(rootPath.c_str());
        }
    }

    if (!rootPath.empty() && rootPath.back() == '/') rootPath.pop_back();
}

Protocol::~Protocol() = default;

void Protocol::Release() {
    delete this;
}

AERROR Protocol::GetType(char** type) {
    if (type == nullptr) return ACCESS_DENIED;
    // Static text: the host must not free it.
    *type = const_cast<char*>(protocol_type);
    return SUCCESS;
}

AERROR Protocol::GetUserInfo(char* buffer, int* size) {
    return CopyOut(url, buffer, size);
}

AERROR Protocol::GetRootID(char* buffer, int* size) {
    static const std::string root_id;
    AERROR result = CopyOut(root_id, buffer, size);
    if (result == SUCCESS) *size = static_cast<int>(root_id.size());
    return result;
}

AERROR Protocol::GetIdentifier(char* /*buffer*/, int* /*size*/) {
    return SUCCESS;
}

AERROR Protocol::GetCredential(char* /*buffer*/, int* /*size*/) {
    return SUCCESS;
}

AERROR Protocol::SetCredential(const char* /*credential*/) {
    return SUCCESS;
}

// Every operation opens its own connection.
AERROR Protocol::Connect() {
    return SUCCESS;
}

AERROR Protocol::GetQuota(unsigned long long* total, unsigned long long* used) {
    if (quotaCallback != nullptr) {
        long long reportedTotal = 0;
        long long remaining = 0;
        bool answered = false;
        try {
            answered = quotaCallback(quotaContext, this, &reportedTotal, &remaining);
        } catch (...) {  // the host's own function: its exception is no answer
            return FAILED;
        }
        if (answered) {
            quotaTotal = static_cast<unsigned long long>(reportedTotal);
            // Unsigned arithmetic: a callback may answer anything.
            quotaUsed = static_cast<unsigned long long>(reportedTotal) -
                        static_cast<unsigned long long>(remaining);
        }
    }
    if (total != nullptr) *total = quotaTotal;
    if (used != nullptr) *used = quotaUsed;
    return SUCCESS;
}

AERROR Protocol::SetQuota(unsigned long long total, unsigned long long used) {
    quotaTotal = total;
    quotaUsed = used;
    return SUCCESS;
}

void Protocol::SetQuotaCallback(void* context,
                                bool (*callback)(void* context, void* protocol, long long* total,
                                                 long long* remaining)) {
    quotaContext = context;
    quotaCallback = callback;
}

PT_FEATURE Protocol::GetFeature() {
    return features;
}

void Protocol::FreeMsg(char* message) {
    free(message);
}

AERROR Protocol::SetFileTime(const char* /*id*/, std::string /*time1*/, std::string /*time2*/,
                             std::string /*time3*/, _FS_FILE* /*file*/, char** /*message*/) {
    return NOT_SUPPORTED;
}

AERROR Protocol::AddAuth(std::shared_ptr<IAuth> /*auth*/) {
    return SUCCESS;
}
