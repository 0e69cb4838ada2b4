#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
AERROR Protocol::Read(const char*, long long, long long, std::shared_ptr<_FS_HANDLE>, IFetchCallback*, char**) { return NOT_SUPPORTED; }
size_t write_callback_cache_func(void*, size_t, size_t, void*) { return 0; }
