#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
std::string Protocol::get_fullurl(const char*) { return url; }
_CURLRTN Protocol::do_propfind(const char*, int, const char*, long*) { _CURLRTN r; r.code = CURLE_FAILED_INIT; return r; }
AERROR Protocol::GetFileList(const char*, IFileList*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::GetFileInfo(const char*, _FS_FILE*, char**) { return NOT_SUPPORTED; }
AERROR Protocol::GetChanges(IFileChanges*, char**) { return NOT_SUPPORTED; }
