// Numbers typed on a command line. Every parser takes the whole text or nothing: no blanks,
// no sign, no other base, no overflow, so " -5" or "1e3" never slip through as something else.
#pragma once

#include <string>

// Decimal digits with an optional K, M or G (also KiB, MiB, GiB; powers of 1024).
bool ParseBytes(const std::string& text, long long* out);
// Decimal digits only, at most max.
bool ParseCount(const std::string& text, long long max, long long* out);
// Octal digits only (a umask), at most 0777.
bool ParseOctalMask(const std::string& text, unsigned* out);
