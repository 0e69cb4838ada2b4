#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
AERROR Protocol::SetOpt(const char*, const char*) { return NOT_SUPPORTED; }
void Protocol::set_extra_opts(std::shared_ptr<CURLLogger>, int) {}
