#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
AERROR Protocol::TestConnect(char**) { return NOT_SUPPORTED; }
