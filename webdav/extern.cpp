#include "extern.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "../common/logstate.h"
#include "protocol.h"

namespace {
std::atomic<void*> aq{nullptr};
std::mutex aql;
const char* const protocol_version = "1.0.0";
const char* const protocol_identifier = "dav;box";
}  // namespace

SUPPORTS GetSupports() {
    return SUPPORTS_1 | SUPPORTS_2;
}

const char* GetProtocolVersion() {
    return protocol_version;
}

void GetSupportProtocol(char** out) {
    if (out != nullptr) *out = strdup(protocol_identifier);
}

void FreeP(void* p) {
    if (p != nullptr) free(p);
}

bool BindLogger(ILog* log) {
    if (log == nullptr) return false;
    rebind_logger(log);
    return true;
}

void UnbindLogger() {
    rebind_logger(nullptr);
}

bool BindAsyncQ(void* queue) {
    if (queue == nullptr) return false;
    std::lock_guard<std::mutex> guard(aql);
    aq.store(queue, std::memory_order_relaxed);
    return true;
}

void UnbindAsyncQ() {
    std::lock_guard<std::mutex> guard(aql);
    aq.store(nullptr, std::memory_order_relaxed);
}

bool GetProtocol(const char* url, IProtocolManager* manager, IProtocol_V2** out) {
    if (url == nullptr || out == nullptr) return false;
    try {
        *out = new Protocol(url, manager);
        return true;
    } catch (...) {
        return false;
    }
}
