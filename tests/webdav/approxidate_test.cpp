// Date reading: each table row is a real date text and the instant it names,
// worked out by hand (seconds since 1970-01-01T00:00:00Z). Zones are set
// explicitly; relative phrases are read against a fixed "now".

#include "webdav/approxidate.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/scoped_tz.h"

namespace {

#define REQUIRE_ZONE(name) \
    if (!have_zone(name)) GTEST_SKIP() << "tzdata lacks " << name

struct Row {
    const char* text;
    long long sec;
    long usec;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << '"' << r.text << '"';
}

// Friday 2009-02-13 23:31:30.25 UTC.
const timeval kFridayNight = {1234567890, 250000};

timeval at(long long sec) {
    return timeval{static_cast<time_t>(sec), 0};
}

void expect_rows(const std::vector<Row>& rows, const timeval& now = kFridayNight) {
    for (const Row& r : rows) {
        timeval tv{-7, -7};
        EXPECT_EQ(approxidate_relative(r.text, &tv, &now), 0) << r;
        EXPECT_EQ(tv.tv_sec, r.sec) << r;
        EXPECT_EQ(tv.tv_usec, r.usec) << r;
    }
}

// Strict reading alone must accept the text too (not the approximate
// fallback happening to land on the same instant).
void expect_strict(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        timeval tv{-7, -7};
        EXPECT_EQ(parse_date_basic(r.text, &tv, nullptr), 0) << r;
        EXPECT_EQ(tv.tv_sec, r.sec) << r;
        EXPECT_EQ(tv.tv_usec, r.usec) << r;
    }
}

// ---- RFC 1123 / RFC 2822 ----

const std::vector<Row> kRfc1123 = {
    {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 UTC", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 +0000", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 -0000", 784111777, 0},
    {"Sun, 06 Nov 1994 09:49:37 +0100", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 +0100", 784108177, 0},
    {"Sat, 05 Nov 1994 23:49:37 -0900", 784111777, 0},
    {"sun, 06 nov 1994 08:49:37 gmt", 784111777, 0},
    {"SUNDAY, 06 NOVEMBER 1994 08:49:37 GMT", 784111777, 0},
    {"Sun,  6 Nov 1994 08:49:37 GMT", 784111777, 0},
    {"Tue, 1 Jul 2003 10:52:37 +0200", 1057049557, 0},
    {"6 Nov 1994 08:49:37 GMT", 784111777, 0},
    {"Nov 6 1994 08:49:37 GMT", 784111777, 0},
    {"Thu, 01 Jan 1970 00:00:00 GMT", 0, 0},
    {"Thu, 31 Dec 2099 23:59:59 GMT", 4102444799LL, 0},
    {"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000, 0},
    // Leap second: one past 23:59:59 is the next day.
    {"Thu, 29 Feb 2024 23:59:60 GMT", 1709251200, 0},
    {"Sun, 06 Nov 1994 8:49:37 PM GMT", 784111777 + 12 * 3600, 0},
    {"Sun, 06 Nov 1994 12:49:37 AM GMT", 784111777 - 8 * 3600, 0},
    {"Sun, 06 Nov 1994 12:49:37 PM GMT", 784111777 + 4 * 3600, 0},
    // A second zone does not replace the first; a numeric offset always wins.
    {"Sun, 06 Nov 1994 08:49:37 GMT PST", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 GMT +0100", 784108177, 0},
    {"Sun, 06 Nov 1994 08:49:37 +0100 GMT", 784108177, 0},
    // Four digits up to 1400 with no zone yet: an unsigned hhmm offset.
    {"Sun, 06 Nov 1994 08:49:37 0100", 784108177, 0},
    // The strict reading ends at a line feed.
    {"Sun, 06 Nov 1994 08:49:37 GMT\n+0500", 784111777, 0},
    {"Sun, 06 Nov 1994 08:49:37 GMT\r\n", 784111777, 0},
};

TEST(ApproxidateRfc1123, ReadsMailAndHttpDatesInEveryZone) {
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York"}) {
        if (std::string(zone) != "UTC" && !have_zone(zone)) continue;
        SCOPED_TRACE(zone);
        ScopedTz tz(zone);
        expect_strict(kRfc1123);
        expect_rows(kRfc1123);
    }
}

// ---- RFC 850 ----

const std::vector<Row> kRfc850 = {
    {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777, 0},
    {"Sunday, 06-Nov-1994 08:49:37 GMT", 784111777, 0},
    {"Saturday, 06-Nov-04 08:49:37 GMT", 1099730977, 0},
    {"Sunday, 06-Nov-94 03:49:37 EST", 784111777, 0},
    {"Sunday, 06-Nov-94 09:49:37 +0100", 784111777, 0},
};

// The dash after the month joins the year (it is not an offset of -94
// hours), so the named zone applies; in local time the instant would shift
// with the machine's zone.
TEST(ApproxidateRfc850, ReadsTwoDigitYearAfterMonthAsUtc) {
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz tz("Europe/Berlin");
    expect_strict(kRfc850);
    expect_rows(kRfc850);
}

// ---- asctime ----

TEST(ApproxidateAsctime, NamesNoZoneSoReadsLocalTime) {
    REQUIRE_ZONE("Europe/Berlin");
    REQUIRE_ZONE("America/New_York");
    {
        ScopedTz tz("UTC");
        expect_strict({{"Sun Nov  6 08:49:37 1994", 784111777, 0}});
    }
    {
        ScopedTz tz("Europe/Berlin");
        expect_strict({
            {"Sun Nov  6 08:49:37 1994", 784108177, 0},  // CET, +01:00
            {"Wed Jul  6 08:49:37 1994", 773477377, 0},  // CEST, +02:00
        });
    }
    {
        ScopedTz tz("America/New_York");
        expect_strict({
            {"Sun Nov  6 08:49:37 1994", 784129777, 0},  // EST, -05:00
            {"Wed Jul  6 08:49:37 1994", 773498977, 0},  // EDT, -04:00
        });
    }
}

// ---- ISO 8601 ----

const std::vector<Row> kIso = {
    {"1994-11-06T08:49:37Z", 784111777, 0},
    {"1994-11-06t08:49:37z", 784111777, 0},
    {"1994-11-06 08:49:37Z", 784111777, 0},
    {"1994-11-06T08:49:37.5Z", 784111777, 500000},
    {"1994-11-06T08:49:37.250Z", 784111777, 250000},
    {"1994-11-06T08:49:37.000001Z", 784111777, 1},
    {"1994-11-06T08:49:37.123456Z", 784111777, 123456},
    // Beyond microseconds the digits are cut off, never taken whole.
    {"1994-11-06T08:49:37.1234567Z", 784111777, 123456},
    {"1994-11-06T08:49:37.9999999999999999999999999999999999999999Z", 784111777, 999999},
    {"1994-11-06T10:49:37+02:00", 784111777, 0},
    {"1994-11-06T10:49:37+0200", 784111777, 0},
    {"1994-11-06T10:49:37+02", 784111777, 0},
    {"1994-11-06T03:49:37-05:00", 784111777, 0},
    {"1994-11-06T08:49:37+00:00", 784111777, 0},
    // Minus one minute is an offset like any other, not "no zone".
    {"1994-11-06T08:48:37-00:01", 784111777, 0},
    {"1994-11-06T10:49:37.75+02:00", 784111777, 750000},
    {"1994-11-06 08:49:37 +0100", 784108177, 0},
    {"1994-11-06 08:49:37 -01:30", 784117177, 0},
    {"1994-11-06T08:49Z", 784111740, 0},
    {"2024-02-29T12:00:00Z", 1709208000, 0},
    {"1970-01-01T00:00:00Z", 0, 0},
    {"1970-01-01T00:00:00+01:00", -3600, 0},
    {"2099-12-31T23:59:59Z", 4102444799LL, 0},
};

TEST(ApproxidateIso8601, ReadsDatesTimesFractionsAndOffsets) {
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York"}) {
        if (std::string(zone) != "UTC" && !have_zone(zone)) continue;
        SCOPED_TRACE(zone);
        ScopedTz tz(zone);
        expect_strict(kIso);
        expect_rows(kIso);
    }
}

TEST(ApproxidateIso8601, WithoutZoneReadsLocalTime) {
    REQUIRE_ZONE("Europe/Berlin");
    REQUIRE_ZONE("America/New_York");
    {
        ScopedTz tz("Europe/Berlin");
        expect_strict({{"1994-11-06T08:49:37", 784108177, 0},
                       {"1994-11-06T08:49:37.5", 784108177, 500000},
                       {"1994-07-06T08:49:37", 773477377, 0}});
    }
    {
        ScopedTz tz("America/New_York");
        expect_strict({{"1994-11-06T08:49:37", 784129777, 0}});
    }
}

TEST(ApproxidateIso8601, ReportsTheZoneOffsetItApplied) {
    ScopedTz tz("UTC");
    timeval tv;
    int offset = 12345;
    ASSERT_EQ(parse_date_basic("1994-11-06 08:49:37 -01:30", &tv, &offset), 0);
    EXPECT_EQ(offset, -90);
    ASSERT_EQ(parse_date_basic("1994-11-06T08:49:37Z", &tv, &offset), 0);
    EXPECT_EQ(offset, 0);
    ASSERT_EQ(parse_date_basic("Sun, 06 Nov 1994 08:49:37 CEST", &tv, &offset), 0);
    EXPECT_EQ(offset, 120);
    // A text without a zone reports the machine's offset at that date.
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz berlin("Europe/Berlin");
    ASSERT_EQ(parse_date_basic("1994-07-06T08:49:37", &tv, &offset), 0);
    EXPECT_EQ(offset, 120);
}

// Offsets out of range, or with the wrong number of digits, are ignored
// (consumed, no effect), leaving the text in local time.
TEST(ApproxidateIso8601, IgnoresMalformedOffsets) {
    ScopedTz tz("UTC");
    expect_strict({
        {"1994-11-06T08:49:37+2500", 784111777, 0},
        {"1994-11-06T08:49:37+0160", 784111777, 0},
        {"1994-11-06T08:49:37+01:3", 784111777, 0},
        {"1994-11-06T08:49:37+01:", 784111777, 0},
        {"1994-11-06T08:49:37+010", 784111777, 0},
        {"1994-11-06T08:49:37+01000", 784111777, 0},
        {"1994-11-06T08:49:37+", 784111777, 0},
        {"1994-11-06T08:49:37-", 784111777, 0},
        {"1994-11-06T08:49:37.", 784111777, 0},
        {"1994-11-06T08:49:37+99999999999999999999999999999999999999", 784111777, 0},
    });
}

// ---- numeric dates in their three orders ----

TEST(ApproxidateNumeric, TriesMonthFirstThenDayFirstExceptWithDots) {
    ScopedTz tz("UTC");
    expect_strict({
        {"12/11/2004 08:00:00 GMT", 1102752000, 0},  // mm/dd/yyyy: 11 December
        {"12-11-2004 08:00:00 GMT", 1102752000, 0},
        {"12/11/04 08:00:00 GMT", 1102752000, 0},
        {"12/11/94 08:00:00 GMT", 787132800, 0},
        {"13/11/2004 08:00:00 GMT", 1100332800, 0},  // no month 13: dd/mm
        {"11/13/2004 08:00:00 GMT", 1100332800, 0},
        {"12.11.2004 08:00:00 GMT", 1100246400, 0},  // dd.mm.yyyy: 12 November
        {"12.11.04 08:00:00 GMT", 1100246400, 0},
        {"11.13.2004 08:00:00 GMT", 1100332800, 0},  // no month 13: mm.dd
        {"2004/12/11 08:00:00 GMT", 1102752000, 0},  // yyyy/mm/dd
        {"2004.12.11 08:00:00 GMT", 1102752000, 0},
        {"2004-31-12 08:00:00 GMT", 1104480000, 0},  // no month 31: yyyy-dd-mm
    });
}

// A numeric date more than ten days after now is read in the next order. The
// check needs the time of day, so it only bites when the time comes first.
TEST(ApproxidateNumeric, RejectsAnOrderThatLiesMoreThanTenDaysAhead) {
    ScopedTz tz("UTC");
    const timeval nov20 = at(1100908800);                              // 2004-11-20 00:00:00Z
    const timeval dec20 = at(1103500800);                              // 2004-12-20 00:00:00Z
    expect_rows({{"08:00:00 12/11/2004 GMT", 1100246400, 0}}, nov20);  // 12 November
    expect_rows({{"08:00:00 12/11/2004 GMT", 1102752000, 0}}, dec20);  // 11 December
    expect_rows({{"12/11/2004 08:00:00 GMT", 1102752000, 0}}, nov20);  // no time yet
    // Exactly ten days ahead is still accepted.
    const timeval nov20_8 = at(1100937600);  // 2004-11-20 08:00:00Z
    expect_rows({{"08:00:00 2004-11-30 GMT", 1101801600, 0}}, nov20_8);
}

TEST(ApproxidateNumeric, WithoutTimeOfDayTakesTheCurrentOne) {
    ScopedTz tz("UTC");
    timeval tv;
    EXPECT_EQ(parse_date_basic("12/11/2004", &tv, nullptr), -1);
    EXPECT_EQ(parse_date_basic("12.11.2004", &tv, nullptr), -1);
    expect_rows({
        {"12/11/2004", 1102807890, 250000},  // 2004-12-11 23:31:30
        {"12.11.2004", 1100302290, 250000},  // 2004-11-12 23:31:30
    });
}

// ---- epoch seconds ----

TEST(ApproxidateEpoch, ReadsHeaderFormWithoutShiftingIt) {
    ScopedTz tz("Europe/Berlin");
    timeval tv;
    int offset = 0;
    ASSERT_EQ(parse_date_basic("@1234567890 +0100", &tv, &offset), 0);
    EXPECT_EQ(tv.tv_sec, 1234567890);
    EXPECT_EQ(tv.tv_usec, 0);
    EXPECT_EQ(offset, 60);
    ASSERT_EQ(parse_date_basic("@1234567890 -0130", &tv, &offset), 0);
    EXPECT_EQ(offset, -90);
    ASSERT_EQ(parse_date_basic("@1234567890 +0100\nnext line", &tv, &offset), 0);
    EXPECT_EQ(tv.tv_sec, 1234567890);
    ASSERT_EQ(parse_date_basic("@0 +0000", &tv, &offset), 0);
    EXPECT_EQ(tv.tv_sec, 0);
}

TEST(ApproxidateEpoch, ReadsNineOrMoreDigitsAsUtcSeconds) {
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz tz("Europe/Berlin");
    expect_strict({
        {"1234567890", 1234567890, 0},
        {"100000000", 100000000, 0},
        {"4102444799", 4102444799LL, 0},  // 2099-12-31T23:59:59Z
        {"@1234567890", 1234567890, 0},
        // A broken header form still holds the bare number.
        {"@1234567890 +010", 1234567890, 0},
        {"@1234567890 +01000", 1234567890, 0},
        {"@1234567890 +", 1234567890, 0},
        {"@1234567890 ", 1234567890, 0},
        {"@1234567890  +0100", 1234567890, 0},
        // An offset after epoch seconds does not move them.
        {"1234567890 +0500", 1234567890, 0},
    });
}

// Numbers no date can hold are consumed without effect and without undefined
// behaviour; nothing else in the text, so the current time is the answer.
TEST(ApproxidateEpoch, ToleratesNumbersBeyondAnyRange) {
    ScopedTz tz("UTC");
    const char* texts[] = {
        "99999999",    // eight digits: no epoch, no date
        "4102444800",  // 2100-01-01: out of range
        "1234567890123456789012345678901234567890",
        "18446744073709551615",
        "18446744073709551616",
        "9223372036854775808",
        "@1234567890123456789012345678901234567890 +0000",
        "@18446744073709551615 +0000",
        "12345678901234567890:12345678901234567890:12345678901234567890",
        "12345678901234567890-12345678901234567890-12345678901234567890",
        "99999999999999999999.99999999999999999999.99999999999999999999",
    };
    for (const char* text : texts) {
        timeval tv{-7, -7};
        EXPECT_EQ(parse_date_basic(text, &tv, nullptr), -1) << text;
        EXPECT_EQ(approxidate_relative(text, &tv, &kFridayNight), 0) << text;
        EXPECT_EQ(tv.tv_sec, kFridayNight.tv_sec) << text;
    }
}

TEST(ApproxidateEpoch, HeaderFormTakesAnyTimeT) {
    timeval tv;
    int offset;
    ASSERT_EQ(parse_date_basic("@9223372036854775807 +0000", &tv, &offset), 0);
    EXPECT_EQ(tv.tv_sec, static_cast<time_t>(9223372036854775807LL));
    EXPECT_EQ(parse_date_basic("@9223372036854775808 +0000", &tv, &offset), -1);
}

// ---- zone names ----

struct ZoneRow {
    const char* name;
    int minutes;  // east of UTC, daylight saving included
};

const ZoneRow kZones[] = {
    {"IDLW", -720}, {"NT", -660},  {"CAT", -600}, {"HST", -600}, {"HDT", -540}, {"YST", -540},
    {"YDT", -480},  {"PST", -480}, {"PDT", -420}, {"MST", -420}, {"MDT", -360}, {"CST", -360},
    {"CDT", -300},  {"EST", -300}, {"EDT", -240}, {"AST", -180}, {"ADT", -120}, {"WAT", -60},
    {"GMT", 0},     {"UTC", 0},    {"Z", 0},      {"WET", 0},    {"BST", 60},   {"CET", 60},
    {"MET", 60},    {"MEWT", 60},  {"MEST", 120}, {"CEST", 120}, {"MESZ", 120}, {"FWT", 60},
    {"FST", 120},   {"EET", 120},  {"EEST", 180}, {"WAST", 420}, {"WADT", 480}, {"CCT", 480},
    {"JST", 540},   {"EAST", 600}, {"EADT", 660}, {"GST", 600},  {"NZT", 720},  {"NZST", 720},
    {"NZDT", 780},  {"IDLE", 720},
};

TEST(ApproxidateZones, AppliesEveryNamedZone) {
    ASSERT_EQ(sizeof kZones / sizeof kZones[0], 44u);
    ScopedTz tz("America/New_York");
    for (const ZoneRow& z : kZones) {
        for (std::string text : {"Sun, 06 Nov 1994 08:49:37 ", "1994-11-06 08:49:37 "}) {
            text += z.name;
            timeval tv;
            int offset = 99999;
            ASSERT_EQ(parse_date_basic(text.c_str(), &tv, &offset), 0) << text;
            EXPECT_EQ(offset, z.minutes) << text;
            EXPECT_EQ(tv.tv_sec, 784111777 - z.minutes * 60) << text;
        }
    }
}

TEST(ApproxidateZones, MatchesWholeWordsOnly) {
    ScopedTz tz("UTC");
    // "Zulu" and "GMTX" are no zones, "NTX" is not "NT": all read as UTC here.
    expect_strict({
        {"1994-11-06T08:49:37 Zulu", 784111777, 0},
        {"1994-11-06T08:49:37 GMTX", 784111777, 0},
        {"1994-11-06T08:49:37 NTX", 784111777, 0},
        {"1994-11-06T08:49:37 est", 784111777 + 5 * 3600, 0},
        {"1994-11-06T08:49:37 nt", 784111777 + 11 * 3600, 0},
        // Three letters of a longer name are enough.
        {"1994-11-06T08:49:37 NZS", 784111777 - 12 * 3600, 0},
    });
}

// ---- texts the strict reading refuses ----

TEST(ApproxidateStrict, FailsWithoutAFullDateAndTime) {
    ScopedTz tz("UTC");
    const char* texts[] = {
        "Sun, 06 Nov 2100 08:49:37 GMT",  // beyond 2099
        "1969-12-31T23:59:59Z",           // before 1970
        "Sunday, 06-Nov 08:49:37 GMT",    // no year
        "06 Nov 1994",                    // no time
        // No day: the month must not turn into two days before its first.
        "Nov 1994 08:49:37 GMT",
        "08:49:37",
        "",
        "%",
        "garbage",
        "@",
        "@ +0100",
        "+",
        "-5",
    };
    for (const char* text : texts) {
        timeval tv{-7, -7};
        EXPECT_EQ(parse_date_basic(text, &tv, nullptr), -1) << text;
    }
}

// ---- relative phrases, against Friday 2009-02-13 23:31:30.25 UTC ----

const long long kNow = 1234567890;

TEST(ApproxidateRelative, CountsBackFromNow) {
    ScopedTz tz("UTC");
    expect_rows({
        {"now", kNow, 250000},
        {"yesterday", kNow - 86400, 250000},
        {"3 days", kNow - 259200, 250000},
        {"three days", kNow - 259200, 250000},
        {"3 days ago", kNow - 259200, 250000},
        {"3 day", kNow - 259200, 250000},
        {"one day ago", kNow - 86400, 250000},
        {"2 weeks ago", kNow - 1209600, 250000},
        {"5 hours", kNow - 18000, 250000},
        {"ten minutes ago", kNow - 600, 250000},
        {"30 seconds", kNow - 30, 250000},
        {"1 second", kNow - 1, 250000},
        {"3 days 2 hours ago", kNow - 259200 - 7200, 250000},
        {"3 months ago", 1226619090, 250000},   // 2008-11-13 23:31:30
        {"14 months ago", 1197588690, 250000},  // 2007-12-13 23:31:30
        {"2 years ago", 1171409490, 250000},    // 2007-02-13 23:31:30
        {"1 year", kNow - 366 * 86400, 250000},
        // Before 1900 the year is negative, which must not read as unknown.
        {"200 years ago", -5076865710LL, 250000},    // 1809-02-13 23:31:30
        {"1310 months ago", -2210545710LL, 250000},  // 1899-12-13 23:31:30
    });
}

TEST(ApproxidateRelative, FindsPreviousWeekdays) {
    ScopedTz tz("UTC");
    expect_rows({
        // Read on a Friday, last friday is a week back.
        {"last friday", kNow - 7 * 86400, 250000},
        {"last thursday", kNow - 1 * 86400, 250000},
        {"last saturday", kNow - 6 * 86400, 250000},
        {"last sun", kNow - 5 * 86400, 250000},
        {"2 fridays ago", kNow - 14 * 86400, 250000},
        {"two thursdays ago", kNow - 8 * 86400, 250000},
    });
}

TEST(ApproxidateRelative, SetsNamedTimesOfDay) {
    ScopedTz tz("UTC");
    expect_rows({
        {"noon", 1234526400, 250000},      // 2009-02-13 12:00:00, it is 23:31 now
        {"midnight", 1234483200, 250000},  // 2009-02-13 00:00:00
        {"tea", 1234544400, 250000},       // 17:00:00
        {"3pm", 1234537200, 250000},
        {"3 pm", 1234537200, 250000},
        {"10am", 1234519200, 250000},
        {"12am", 1234483200, 250000},
        {"yesterday noon", 1234440000, 250000},  // 2009-02-12 12:00:00
        {"never", 0, 250000},
    });
    // Noon not reached yet today means yesterday's.
    expect_rows({{"noon", 1234440000, 0}}, at(1234515600));  // read at 09:00
    expect_rows({{"noon", 1234526400, 0}}, at(1234537200));  // read at 15:00
}

TEST(ApproxidateRelative, CompletesPartialDatesFromNow) {
    ScopedTz tz("UTC");
    expect_rows({
        {"Nov 6", 1226014290, 250000},  // November is ahead of February: 2008
        {"Jan 6", 1231284690, 250000},  // 2009-01-06 23:31:30
        {"6 November 08:49:37", 1225961377, 250000},
        {"Dec 2003", 1071358290, 250000},  // 2003-12-13 23:31:30
        // Beyond the strict reading's years: date, time and year from now.
        {"Sun, 06 Nov 2100 08:49:37 GMT", 1225961377, 250000},
        // A leading zero with more than two digits is no count.
        {"0002 days", kNow, 250000},
    });
}

TEST(ApproxidateRelative, FindsNothingInTextWithoutDate) {
    ScopedTz tz("UTC");
    for (const char* text : {"", "%", "-", "+", "@", "garbage", "a day", "zero days", "ago",
                             "\xc3\xa9t\xc3\xa9", "\x80\xff"}) {
        timeval tv{-7, -7};
        EXPECT_EQ(approxidate_relative(text, &tv, &kFridayNight), -1) << text;
        EXPECT_EQ(tv.tv_sec, kFridayNight.tv_sec) << text;
        EXPECT_EQ(tv.tv_usec, kFridayNight.tv_usec) << text;
    }
}

// Counts no date can hold are clamped instead of overflowing.
TEST(ApproxidateRelative, ClampsAbsurdCounts) {
    ScopedTz tz("UTC");
    for (const char* text :
         {"99999999999999999999 weeks ago", "99999999999999999999 months ago",
          "99999999999999999999 years ago", "99999999999999999999 fridays ago",
          "99999999999999999999 years 99999999999999999999 years 99999999999999999999 years"}) {
        timeval tv{-7, -7};
        EXPECT_EQ(approxidate_relative(text, &tv, &kFridayNight), 0) << text;
        EXPECT_LT(tv.tv_sec, 0) << text;
    }
}

// A date in the other half of the year must be read with that season's
// offset, not the one in force now.
TEST(ApproxidateRelative, UsesTheDaylightSavingOfTheDateRead) {
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz tz("Europe/Berlin");
    const timeval july = at(1720605600);                       // 2024-07-10 12:00:00 CEST
    expect_rows({{"6 November 2023 08:49:37", 1699256977, 0},  // 07:49:37Z (CET)
                 {"Nov 6 2023 08:49:37", 1699256977, 0},
                 {"never", 0, 0}},
                july);
    // "3 days" is exactly 72 hours, even across the change to summer time.
    const timeval march31 = at(1711879200);  // 2024-03-31 12:00:00 CEST
    expect_rows({{"3 days", 1711879200 - 259200, 0}}, march31);
    // Noon the day before the change back to winter time is still summer.
    const timeval oct27 = at(1730016000);  // 2024-10-27 09:00:00 CET
    expect_rows({{"noon", 1729936800, 0}}, oct27);
}

// The hour repeated when summer time ends: "now" must be this very instant,
// whichever of the two it is.
TEST(ApproxidateRelative, KeepsTheRepeatedHourApart) {
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz tz("Europe/Berlin");
    for (long long sec : {1729989000LL, 1729992600LL}) {  // 02:30 CEST, 02:30 CET
        expect_rows({{"now", sec, 0}, {"3 days", sec - 259200, 0}}, at(sec));
    }
}

TEST(ApproxidateRelative, ReadsLocalTimeInNewYork) {
    REQUIRE_ZONE("America/New_York");
    ScopedTz tz("America/New_York");
    // Now is 2009-02-13 18:31:30 EST.
    expect_rows({
        {"yesterday", kNow - 86400, 250000},
        {"noon", 1234544400, 250000},            // 2009-02-13 12:00:00 EST = 17:00Z
        {"Jul 4 12:00:00", 1215187200, 250000},  // 2008-07-04 12:00 EDT = 16:00Z
    });
}

// ---- the clock-driven entry point ----

TEST(Approxidate, UsesTheCurrentTime) {
    ScopedTz tz("UTC");
    timeval before, tv, after;
    gettimeofday(&before, nullptr);
    EXPECT_EQ(approxidate("garbage", &tv), -1);
    gettimeofday(&after, nullptr);
    EXPECT_GE(tv.tv_sec, before.tv_sec);
    EXPECT_LE(tv.tv_sec, after.tv_sec);

    EXPECT_EQ(approxidate("Sun, 06 Nov 1994 08:49:37 GMT", &tv), 0);
    EXPECT_EQ(tv.tv_sec, 784111777);

    gettimeofday(&before, nullptr);
    EXPECT_EQ(approxidate("3 days", &tv), 0);
    gettimeofday(&after, nullptr);
    EXPECT_GE(tv.tv_sec, before.tv_sec - 259200);
    EXPECT_LE(tv.tv_sec, after.tv_sec - 259200);
}

// ---- several threads at once ----

TEST(ApproxidateThreads, GiveTheSameAnswersInParallel) {
    REQUIRE_ZONE("Europe/Berlin");
    ScopedTz tz("Europe/Berlin");
    std::vector<std::string> texts;
    for (const auto* table : {&kRfc1123, &kRfc850, &kIso})
        for (const Row& r : *table) texts.push_back(r.text);
    for (const char* extra : {"Sun Nov  6 08:49:37 1994", "12/11/2004", "12.11.2004", "3 days",
                              "last friday", "noon", "Nov 6", "2 weeks ago", "never", "garbage",
                              "@1234567890 +0100", "1234567890", "6 November 2023 08:49:37"})
        texts.push_back(extra);

    struct Result {
        int rc;
        timeval tv;
    };
    std::vector<Result> expected;
    for (const std::string& t : texts) {
        Result r;
        r.rc = approxidate_relative(t.c_str(), &r.tv, &kFridayNight);
        expected.push_back(r);
    }

    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; round++) {
                for (size_t k = 0; k < texts.size(); k++) {
                    timeval tv;
                    int rc = approxidate_relative(texts[k].c_str(), &tv, &kFridayNight);
                    if (rc != expected[k].rc || tv.tv_sec != expected[k].tv.tv_sec ||
                        tv.tv_usec != expected[k].tv.tv_usec)
                        mismatches[i]++;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kThreads; i++) EXPECT_EQ(mismatches[i], 0) << "thread " << i;
}

}  // namespace
