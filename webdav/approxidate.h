#pragma once

#include <sys/time.h>

#include <string>

// Reads a date in almost any common form. Returns 0 when a date was found and
// -1 when none was; tv receives the instant either way (now when none was found).
int approxidate(const char* date, struct timeval* tv);

// Strict reading only: absolute dates. offset (may be null) receives the zone
// offset in minutes. Returns 0 or -1.
int parse_date_basic(const char* date, struct timeval* tv, int* offset);

// Any server timestamp as "YYYY-MM-DDThh:mm:ss.000Z" in UTC.
std::string convert_last_modified_to_rfc3339(std::string text);

// approxidate against a given current time instead of the clock: the strict
// reading judges "too far in the future" against it and relative phrases count
// back from it. approxidate is this with gettimeofday.
int approxidate_relative(const char* date, struct timeval* tv, const struct timeval* now);

// convert_last_modified_to_rfc3339 against a given current time (see above).
std::string convert_last_modified_to_rfc3339_at(std::string text, const struct timeval* now);
