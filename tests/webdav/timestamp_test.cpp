// Server timestamps as the host's RFC 3339 text, in UTC whatever the machine's zone.

#include <gtest/gtest.h>

#include <cstdio>

#include "webdav/approxidate.h"

namespace {

const timeval kNow = {1234567890, 250000};  // Fri, 13 Feb 2009 23:31:30.25 GMT

TEST(Timestamp, ServerFormsNameTheSameInstantInEveryZone) {
    const std::pair<const char*, const char*> rows[] = {
        // RFC 1123 with zone names or RFC 2822 offsets (getlastmodified)
        {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06T08:49:37.000Z"},
        {"sun,  6 nov 1994 08:49:37 utc", "1994-11-06T08:49:37.000Z"},
        {"Tue, 01 Jul 2003 10:52:37 +0200", "2003-07-01T08:52:37.000Z"},
        {"Sun, 31 Mar 2024 12:00:00 GMT", "2024-03-31T12:00:00.000Z"},
        {"Thu, 29 Feb 2024 23:59:60 GMT", "2024-03-01T00:00:00.000Z"},   // a leap second
        {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06T08:49:37.000Z"},  // RFC 850
        {"Saturday, 06-Nov-04 08:49:37 GMT", "2004-11-06T08:49:37.000Z"},
        {"1994-11-06T08:49:37Z", "1994-11-06T08:49:37.000Z"},  // RFC 3339 (creationdate)
        {"1994-11-06T10:49:37.250+02:00", "1994-11-06T08:49:37.000Z"},
        {"1994-11-06T03:49:37-05:00", "1994-11-06T08:49:37.000Z"},
        {"1994-11-06 07:19:37 -01:30", "1994-11-06T08:49:37.000Z"},
        {"Sun Nov  6 08:49:37 1994", "1994-11-06T08:49:37.000Z"},  // asctime: HTTP's, so GMT
        // Years as written, before 1970 and after 2099 too
        {"Wed, 31 Dec 1969 23:59:59 GMT", "1969-12-31T23:59:59.000Z"},
        {"Thu, 01 Jan 2105 00:00:00 GMT", "2105-01-01T00:00:00.000Z"},
        {"Thursday, 06-Nov-59 08:49:37 GMT", "2059-11-06T08:49:37.000Z"},  // 50 years on at most
        {"Sun Jul 20 20:17:40 1969", "1969-07-20T20:17:40.000Z"},
        {"0001-01-01T00:00:00Z", "0001-01-01T00:00:00.000Z"},
        {"1600-02-29T12:00:00+12:00", "1600-02-29T00:00:00.000Z"},
        {"9999-12-31T23:59:59.999z", "9999-12-31T23:59:59.000Z"},
        {"1234567890", "2009-02-13T23:31:30.000Z"},  // epoch seconds, then with an offset
        {"@1234567890 +0100", "2009-02-13T23:31:30.000Z"},
        {"", "2009-02-13T23:31:30.000Z"},  // no date, or no four-digit year holds it: now
        {"garbage \xc3\xa9t\xc3\xa9 %", "2009-02-13T23:31:30.000Z"},
        {"@253402300800 +0000", "2009-02-13T23:31:30.000Z"},
        {"99999999999999999999 weeks ago", "2009-02-13T23:31:30.000Z"},
    };
    for (const char* zone : {"UTC", "America/New_York", "Asia/Kolkata"}) {
        setenv("TZ", zone, 1);  // the zone each row is read in, not the machine's
        tzset();
        for (const auto& [text, utc] : rows)
            EXPECT_EQ(convert_last_modified_to_rfc3339_at(text, &kNow), utc)
                << text << ", " << zone;
        for (int m = 0; m < 12; ++m) {  // every month's name and place in the year
            char text[32], utc[32];
            std::snprintf(text, sizeof text, "15 %.3s 2021 10:00:00 GMT",
                          &"JanFebMarAprMayJunJulAugSepOctNovDec"[3 * m]);
            std::snprintf(utc, sizeof utc, "2021-%02d-15T10:00:00.000Z", m + 1);
            EXPECT_EQ(convert_last_modified_to_rfc3339_at(text, &kNow), utc) << zone;
        }
    }
}

}  // namespace
