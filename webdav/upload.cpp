#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
AERROR Protocol::Upload(const char*, std::shared_ptr<_FS_HANDLE>, ICacheIO*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
_CURLRTN Protocol::_Upload(const char*, std::shared_ptr<_FS_HANDLE>, ICacheIO*, _FS_FILE*, char**) { return {}; }
size_t read_callback_cache_func(void*, size_t, size_t, void*) { return 0x10000000; }
