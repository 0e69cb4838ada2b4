#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
AERROR Protocol::Rename(const char*, const char*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::Move(const char*, const char*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::MoveDir(const char*, const char*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
_CURLRTN Protocol::_Move(const char*, const char*, _FS_FILE*, char**, bool) { return {}; }
AERROR Protocol::CreateDirectory(const char*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::Delete(const char*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::DeleteDirectory(const char*, char**) { return NOT_SUPPORTED; }
