// The date reader's rules beyond the server forms of timestamp_test.cpp.

#include "webdav/approxidate.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

const time_t kNow = 1234567890;  // Fri, 13 Feb 2009 23:31:30 GMT

// text, the instant it names (seconds, microseconds), the zone it is read in, now
const std::tuple<const char*, long long, long, const char*, time_t> kRows[] = {
    // fractions of a second, cut off beyond microseconds
    {"1994-11-06T08:49:37.5Z", 784111777, 500000, "UTC", kNow},
    {"1994-11-06T08:49:37.1234567Z", 784111777, 123456, "UTC", kNow},
    {"Sun, 06 Nov 1994 08:49:37.25 GMT", 784111777, 250000, "UTC", kNow},
    // offsets +hh, -00:01, unsigned hhmm, a malformed one (none); a zone name; 12 PM and 12 AM
    {"1994-11-06T10:49:37+02", 784111777, 0, "UTC", kNow},
    {"1994-11-06T08:48:37-00:01", 784111777, 0, "UTC", kNow},
    {"Sun, 06 Nov 1994 09:49:37 0100", 784111777, 0, "UTC", kNow},
    {"1994-11-06T08:49:37+2500", 784111777, 0, "UTC", kNow},
    {"Sun, 06 Nov 1994 10:49:37 CEST", 784111777, 0, "UTC", kNow},
    {"Sun, 06 Nov 1994 12:49:37 PM GMT", 784111777 + 4 * 3600, 0, "UTC", kNow},
    {"Sun, 06 Nov 1994 12:49:37 AM GMT", 784111777 - 8 * 3600, 0, "UTC", kNow},
    // mm/dd/yy, dd.mm.yyyy, or the next order when that month cannot be or is >10 days ahead
    {"12/11/04 08:00:00 GMT", 1102752000, 0, "UTC", kNow},
    {"12.11.2004 08:00:00 GMT", 1100246400, 0, "UTC", kNow},
    {"08:00:00 12/11/2004 GMT", 1100246400, 0, "UTC", 1100908800},
    {"08:00:00 12/11/2004 GMT", 1102752000, 0, "UTC", 1103500800},
    {"Sun, 06 Nov 1994 08:49:37 GMT\n+0500", 784111777, 0, "UTC", kNow},  // ends at a line feed
    // no zone: the machine's, with the daylight saving of the date read
    {"Sun Nov  6 08:49:37 1994", 784111777, 0, "UTC", kNow},
    {"1994-11-06T08:49:37", 784091977, 0, "Asia/Kolkata", kNow},
    {"1994-07-06T08:49:37", 773498977, 0, "America/New_York", kNow},
    {"1994-11-06T08:49:37", 784129777, 0, "America/New_York", kNow},
    // a date alone, read at midnight
    {"2004-12-11", 1102723200, 0, "UTC", 1234483200},
    {"2004-12-11", 1102741200, 0, "America/New_York", 1247198400},
};

TEST(Approxidate, Rules) {
    for (const auto& [text, sec, usec, zone, now] : kRows) {
        setenv("TZ", zone, 1);  // the zone each row is read in, not the machine's
        tzset();
        timeval clock = {now, 0}, tv = {-7, -7};
        EXPECT_EQ(approxidate_relative(text, &tv, &clock), 0) << text;
        EXPECT_EQ((std::pair<long long, long>(tv.tv_sec, tv.tv_usec)), std::make_pair(sec, usec))
            << text << ", " << zone;
    }
}

}  // namespace
