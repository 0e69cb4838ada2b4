#include "conv_aerror.h"
// PLACEHOLDER: replaced by the real implementation.
const char* GetAERRORA(AERROR) { return "Unknown"; }
int ConvertAERROR(AERROR) { return -5; }
