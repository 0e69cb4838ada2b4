// Server timestamps, whatever their shape, as the one RFC 3339 form the host
// stores: "YYYY-MM-DDThh:mm:ss.000Z", always UTC.

#include <time.h>

#include <cstdio>
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

std::string format_rfc3339(const struct tm& t) {
    char buffer[32];
    memset(buffer, 0, sizeof buffer);
    snprintf(buffer, sizeof buffer, "%04hu-%02hu-%02huT%02hu:%02hu:%02hu.%03huZ",
             static_cast<unsigned short>(t.tm_year + 1900),
             static_cast<unsigned short>(t.tm_mon + 1), static_cast<unsigned short>(t.tm_mday),
             static_cast<unsigned short>(t.tm_hour), static_cast<unsigned short>(t.tm_min),
             static_cast<unsigned short>(t.tm_sec), static_cast<unsigned short>(0));
    return buffer;
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
