#pragma once

#include "../compiled/aerror.h"

// Static name of a result code ("Unknown" for values outside the tables).
const char* GetAERRORA(AERROR code);
// Negative POSIX error number for a file-system layer: 0, -ENOENT or -EIO.
int ConvertAERROR(AERROR code);
