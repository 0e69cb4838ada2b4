// libFuzzer target: any bytes as a date text, through both readings. Besides
// the sanitizers it checks what every answer must satisfy.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <string>

#include "webdav/approxidate.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone with summer time exercises the local-time paths.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The parser reads C strings: stop at the first NUL like any caller would.
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* date = text.c_str();

    const struct timeval now = {1234567890, 250000};
    struct timeval tv = {-7, -7};
    int rc = approxidate_relative(date, &tv, &now);
    if (rc != 0 && rc != -1) abort();
    // Nothing found leaves exactly "now".
    if (rc == -1 && (tv.tv_sec != now.tv_sec || tv.tv_usec != now.tv_usec)) abort();
    if (tv.tv_usec < 0 || tv.tv_usec > 999999) abort();

    struct timeval strict = {-7, -7};
    int offset = 0;
    int src = parse_date_basic(date, &strict, &offset);
    if (src != 0 && src != -1) abort();
    if (src == 0 && (strict.tv_usec < 0 || strict.tv_usec > 999999)) abort();

    struct timeval real;
    int arc = approxidate(date, &real);
    if (arc != 0 && arc != -1) abort();
    return 0;
}
