// Server timestamps, whatever their shape, as the one RFC 3339 form the host
// stores: "YYYY-MM-DDThh:mm:ss.000Z", always UTC.

#include <time.h>

#include <cstring>
#include <utility>

#include "approxidate.h"

namespace {

// Four-digit years only: anything else would not be the fixed-width text the
// host expects, so such an instant is not printable.
bool printable_utc(time_t sec, struct tm* out) {
    if (!gmtime_r(&sec, out)) return false;
    return out->tm_year >= -1900 && out->tm_year <= 9999 - 1900;
}

void put_digits(char* at, unsigned value, int width) {
    for (int i = width - 1; i >= 0; i--) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Same text as "%04hu-%02hu-%02huT%02hu:%02hu:%02hu.%03huZ" would give for
// these ranges (year 0 to 9999, the others two digits), without the cost of
// printf on the listing path.
std::string format_rfc3339(const struct tm& t) {
    char buffer[32];
    memset(buffer, 0, sizeof buffer);
    memcpy(buffer, "0000-00-00T00:00:00.000Z", 24);
    put_digits(buffer, static_cast<unsigned short>(t.tm_year + 1900), 4);
    put_digits(buffer + 5, static_cast<unsigned short>(t.tm_mon + 1), 2);
    put_digits(buffer + 8, static_cast<unsigned short>(t.tm_mday), 2);
    put_digits(buffer + 11, static_cast<unsigned short>(t.tm_hour), 2);
    put_digits(buffer + 14, static_cast<unsigned short>(t.tm_min), 2);
    put_digits(buffer + 17, static_cast<unsigned short>(t.tm_sec), 2);
    return std::string(buffer, 24);
}

}  // namespace

std::string convert_last_modified_to_rfc3339_at(std::string text, const struct timeval* now) {
    struct timeval tv = *now;
    approxidate_relative(text.c_str(), &tv, now);
    struct tm t;
    // An instant outside years 0 to 9999 (an absurd epoch number or header
    // date) falls back to now, like a text with no date in it.
    if (!printable_utc(tv.tv_sec, &t) && !printable_utc(now->tv_sec, &t)) {
        time_t epoch = 0;
        gmtime_r(&epoch, &t);
    }
    return format_rfc3339(t);
}

std::string convert_last_modified_to_rfc3339(std::string text) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return convert_last_modified_to_rfc3339_at(std::move(text), &now);
}
