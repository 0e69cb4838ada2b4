// The nine C entry points the host resolves with dlsym.
#pragma once

#include "../compiled/filesystem.h"
#include "../compiled/logger.h"

#define WEBDAV_EXPORT extern "C" __attribute__((visibility("default")))

WEBDAV_EXPORT SUPPORTS GetSupports();
WEBDAV_EXPORT const char* GetProtocolVersion();
// *out receives a heap copy of the protocol identifier; release it with FreeP.
WEBDAV_EXPORT void GetSupportProtocol(char** out);
WEBDAV_EXPORT void FreeP(void* p);
// Both return once no call on the previous logger is still running on another thread,
// so the host may delete it right away.
WEBDAV_EXPORT bool BindLogger(ILog* log);
WEBDAV_EXPORT void UnbindLogger();
WEBDAV_EXPORT bool BindAsyncQ(void* queue);
WEBDAV_EXPORT void UnbindAsyncQ();
// Creates a protocol object owned by the host (ended with Release). Never throws.
WEBDAV_EXPORT bool GetProtocol(const char* url, IProtocolManager* manager, IProtocol_V2** out);
