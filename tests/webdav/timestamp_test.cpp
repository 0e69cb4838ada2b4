// Server timestamps as the host's RFC 3339 UTC text. Expected texts are worked
// out by hand; relative and fallback cases use a fixed "now".

#include <gtest/gtest.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/scoped_tz.h"
#include "webdav/approxidate.h"

namespace {

// YYYY-MM-DDThh:mm:ss.000Z with digits where digits belong.
bool fixed_form(const std::string& s) {
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.000Z";
    if (s.size() != sizeof shape - 1) return false;
    for (size_t i = 0; i < s.size(); i++) {
        bool digit = s[i] >= '0' && s[i] <= '9';
        if (shape[i] == 'd' ? !digit : s[i] != shape[i]) return false;
    }
    return true;
}

struct Row {
    const char* text;
    const char* expected;
};

// Friday 2009-02-13 23:31:30.25 UTC.
const timeval kFridayNight = {1234567890, 250000};

void expect_rows(const std::vector<Row>& rows, const timeval& now = kFridayNight) {
    for (const Row& r : rows) {
        EXPECT_EQ(convert_last_modified_to_rfc3339_at(r.text, &now), r.expected) << r.text;
    }
}

const std::vector<Row> kServerTimes = {
    // getlastmodified, HTTP dates
    {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06T08:49:37.000Z"},
    {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06T08:49:37.000Z"},
    {"Tue, 01 Jul 2003 10:52:37 +0200", "2003-07-01T08:52:37.000Z"},
    {"Thu, 01 Jan 1970 00:00:00 GMT", "1970-01-01T00:00:00.000Z"},
    {"Thu, 31 Dec 2099 23:59:59 GMT", "2099-12-31T23:59:59.000Z"},
    // creationdate, ISO 8601
    {"1994-11-06T08:49:37Z", "1994-11-06T08:49:37.000Z"},
    {"1994-11-06T08:49:37.250Z", "1994-11-06T08:49:37.000Z"},
    {"1994-11-06T08:49:37.999999Z", "1994-11-06T08:49:37.000Z"},
    {"1994-11-06T10:49:37+02:00", "1994-11-06T08:49:37.000Z"},
    {"1994-11-06T03:49:37-05:00", "1994-11-06T08:49:37.000Z"},
    {"2024-02-29T23:59:60Z", "2024-03-01T00:00:00.000Z"},
    {"1970-01-01T00:00:00+01:00", "1969-12-31T23:00:00.000Z"},
    // epoch forms
    {"@1234567890 +0100", "2009-02-13T23:31:30.000Z"},
    {"1234567890", "2009-02-13T23:31:30.000Z"},
};

TEST(TimestampConversion, NormalisesServerTimesToUtcInEveryZone) {
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York"}) {
        if (std::string(zone) != "UTC" && !have_zone(zone)) continue;
        SCOPED_TRACE(zone);
        ScopedTz tz(zone);
        expect_rows(kServerTimes);
        for (const Row& r : kServerTimes)
            EXPECT_EQ(convert_last_modified_to_rfc3339(r.text), r.expected) << r.text;
    }
}

TEST(TimestampConversion, ReadsTextsWithoutZoneAsLocalTime) {
    if (!have_zone("Europe/Berlin") || !have_zone("America/New_York"))
        GTEST_SKIP() << "tzdata missing";
    {
        ScopedTz tz("Europe/Berlin");
        expect_rows({
            {"Sun Nov  6 08:49:37 1994", "1994-11-06T07:49:37.000Z"},
            {"1994-07-06T08:49:37", "1994-07-06T06:49:37.000Z"},
            // The first day of a year in local time is still the old year in UTC.
            {"2000-01-01 00:30:00", "1999-12-31T23:30:00.000Z"},
        });
    }
    {
        ScopedTz tz("America/New_York");
        expect_rows({
            {"Sun Nov  6 08:49:37 1994", "1994-11-06T13:49:37.000Z"},
            {"1994-07-06T08:49:37", "1994-07-06T12:49:37.000Z"},
        });
    }
}

// Beyond 2099 the approximate reading keeps day, month and time of day, reads
// them as local time and places them in the most recent such month.
TEST(TimestampConversion, YearBeyondRangeFallsBackToMostRecentSuchDate) {
    {
        ScopedTz tz("UTC");
        expect_rows({{"Sun, 06 Nov 2100 08:49:37 GMT", "2008-11-06T08:49:37.000Z"}});
        const timeval dec2026 = {1796460000, 0};  // 2026-12-05 08:40:00Z
        expect_rows({{"Sun, 06 Nov 2100 08:49:37 GMT", "2026-11-06T08:49:37.000Z"}}, dec2026);
    }
    if (have_zone("Europe/Berlin")) {
        ScopedTz tz("Europe/Berlin");
        expect_rows({{"Sun, 06 Nov 2100 08:49:37 GMT", "2008-11-06T07:49:37.000Z"}});
    }
}

TEST(TimestampConversion, RelativePhrasesCountBackFromNow) {
    ScopedTz tz("UTC");
    expect_rows({
        {"yesterday", "2009-02-12T23:31:30.000Z"},
        {"3 days ago", "2009-02-10T23:31:30.000Z"},
        {"last friday", "2009-02-06T23:31:30.000Z"},
        {"noon", "2009-02-13T12:00:00.000Z"},
        {"never", "1970-01-01T00:00:00.000Z"},
        {"200 years ago", "1809-02-13T23:31:30.000Z"},
    });
}

// No date in the text, or an instant no four-digit year can print: the
// current time, never a malformed text.
TEST(TimestampConversion, FallsBackToNow) {
    ScopedTz tz("UTC");
    expect_rows({
        {"garbage", "2009-02-13T23:31:30.000Z"},
        {"%", "2009-02-13T23:31:30.000Z"},
        {"", "2009-02-13T23:31:30.000Z"},
        {"(null)", "2009-02-13T23:31:30.000Z"},
        {"@9223372036854775807 +0000", "2009-02-13T23:31:30.000Z"},
        {"@253402300800 +0000", "2009-02-13T23:31:30.000Z"},  // 10000-01-01
        {"99999999999999999999 weeks ago", "2009-02-13T23:31:30.000Z"},
    });
    // The last instant a four-digit year holds still prints.
    expect_rows({{"@253402300799 +0000", "9999-12-31T23:59:59.000Z"}});
}

TEST(TimestampConversion, UsesTheClockWhenNoDateIsGiven) {
    ScopedTz tz("UTC");
    time_t before = time(nullptr);
    std::string text = convert_last_modified_to_rfc3339("garbage");
    time_t after = time(nullptr);
    struct tm t {};
    ASSERT_NE(strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t), nullptr) << text;
    time_t got = timegm(&t);
    EXPECT_GE(got, before);
    EXPECT_LE(got, after);
}

TEST(TimestampConversion, AlwaysPrintsTheFixedForm) {
    ScopedTz tz("UTC");
    const char* texts[] = {
        "Sun, 06 Nov 1994 08:49:37 GMT",
        "1994-11-06T08:49:37.1234567890123456789Z",
        "12345678901234567890123456789012345678901234567890",
        "@1 +9999",
        "@-5 +0000",
        "+99:99",
        "1994-11-06T08:49:37+",
        "99999999999999999999 months 99999999999999999999 years ago",
        "2 fridays 3 months 4 years 5 days noon tea midnight pm am yesterday",
        "\x01\x02\xff\xfe",
        "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec",
        "31/31/31 31:31:31 31.31.31",
    };
    for (const char* text : texts) {
        std::string out = convert_last_modified_to_rfc3339_at(text, &kFridayNight);
        EXPECT_TRUE(fixed_form(out)) << text << " -> " << out;
    }
}

TEST(TimestampConversion, GivesTheSameAnswersInParallel) {
    if (!have_zone("Europe/Berlin")) GTEST_SKIP() << "tzdata missing";
    ScopedTz tz("Europe/Berlin");
    std::vector<std::string> expected;
    for (const Row& r : kServerTimes) expected.push_back(r.expected);
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; i++) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 200; round++)
                for (size_t k = 0; k < kServerTimes.size(); k++)
                    if (convert_last_modified_to_rfc3339(kServerTimes[k].text) != expected[k])
                        mismatches[i]++;
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 8; i++) EXPECT_EQ(mismatches[i], 0) << "thread " << i;
}

}  // namespace
