#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
void Protocol::get_err_msg(_CURLRTN, char**) {}
