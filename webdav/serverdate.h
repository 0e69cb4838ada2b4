// The exact date forms servers write, for any year from 1 to 9999.
#pragma once

#include <sys/time.h>

// Reads text when it is, as a whole (blanks around it aside), one of:
//   Sun, 06 Nov 1994 08:49:37 GMT      RFC 1123 (also "+hhmm"/"-hhmm", "UTC", "UT", "Z")
//   Sunday, 06-Nov-94 08:49:37 GMT     RFC 850 (a two-digit year is the latest one not more
//                                      than 50 years after now)
//   Sun Nov  6 08:49:37 1994           asctime (an HTTP date: GMT)
//   1994-11-06T08:49:37.25+02:00       ISO 8601 / RFC 3339 ("Z", "+hh:mm", "+hhmm", "+hh",
//                                      a blank for "T", or no zone: local time)
// and stores its instant in tv. Returns false, tv untouched, for anything else, so the
// free-form reader can take over. now supplies the century of RFC 850's short years.
bool parse_server_date(const char* text, struct timeval* tv, const struct timeval* now);
