// Free-form date reading.
//
// Forms the strict reading accepts (absolute instants; a zone in the text is
// applied, a text without one is local time):
//   Sun, 06 Nov 1994 08:49:37 GMT        RFC 1123 / RFC 2822 mail and HTTP dates
//   Tue, 1 Jul 2003 10:52:37 +0200       numeric offsets +hhmm, -hhmm, +hh, +hh:mm
//   Sunday, 06-Nov-94 08:49:37 GMT       RFC 850 (two-digit year after "Mon-")
//   Sun Nov  6 08:49:37 1994             asctime (local time here; the server-form reader
//                                        tried first reads it as GMT, as HTTP means it)
//   1994-11-06T08:49:37Z                 ISO 8601, also with a blank instead of T,
//   1994-11-06T08:49:37.250+02:00        with fractions of a second and with offsets
//   2004-12-11, 2004-11-12               yyyy-mm-dd, then yyyy-dd-mm
//   12/11/2004, 12-11-04                 mm/dd/yy[yy], then dd/mm/yy[yy]
//   12.11.2004                           dd.mm.yy[yy], then mm.dd.yy[yy]
//   08:49, 08:49:37, 8:49:37 PM          times of day (AM/PM adjust the hour)
//   0100                                 four digits up to 1400 with no zone yet: +hhmm
//   @1234567890 +0100                    epoch seconds with the writer's offset
//   1234567890                           nine or more digits alone: epoch seconds, UTC
//   GMT UTC Z CET CEST PST EDT ...       the zone names of zone_names below
// Dates must lie in 1970 to 2099 (the server forms of serverdate.h are read exactly for
// every year first), and a numeric date more than ten days after
// now is read in the next order instead.
//
// Forms the approximate reading adds when the strict reading fails (local time,
// counted back from now, unknown parts taken from now):
//   now, never, yesterday, noon, midnight, tea (17:00), 3pm, 10 am
//   3 days, three days ago, 2 weeks ago, 5 hours, 10 minutes, 30 seconds
//   last friday, 2 mondays ago, 3 months ago, 2 years ago
//   Nov 6, 6 November 08:49, Dec 2003     partial dates (a month after the current
//                                         one means last year)
//
// Everything lives on the caller's stack: no static mutable state, only the
// reentrant time functions, so any number of threads may read dates at once.

#include "approxidate.h"

#include <time.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "serverdate.h"

namespace {

// Broken-down time being assembled; -1 marks a field not known yet.
// Years before 1900 are negative, so the year has its own marker; every
// other field is -1 when unknown.
constexpr int unknown_year = INT_MIN;

struct atm {
    int sec;
    int min;
    int hour;
    int mday;
    int mon;
    int year;  // years since 1900
    int wday;
    int yday;
    int isdst;
    int64_t usec;
};

struct zone {
    const char* name;
    int offset;  // hours east of UTC
    int dst;     // hours added in summer
};

struct unit {
    const char* name;
    long long seconds;
};

// The current time as the strict reading needs it; fetched only when a
// numeric date has to be judged, which keeps plain HTTP dates off the clock.
struct clock_now {
    const struct timeval* given;
    bool known;
    time_t sec;
    bool tm_known;
    struct tm utc;
};

struct strict_state {
    atm tm;
    int offset;  // minutes east of UTC
    bool offset_known;
    bool given_as_utc;
    clock_now* now;
};

// Working state of the approximate reading.
struct approx_state {
    atm tm;
    atm now;                    // the current time, local
    atm filled;                 // the fields as localtime_r last wrote them, DST flag included
    unsigned long long number;  // pending number
    bool touched;
    clock_now* clock;
};

const char* const month_names[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

const char* const weekday_names[] = {"Sundays",   "Mondays", "Tuesdays", "Wednesdays",
                                     "Thursdays", "Fridays", "Saturdays"};

const char* const number_names[] = {"zero", "one",   "two",   "three", "four", "five",
                                    "six",  "seven", "eight", "nine",  "ten"};

const unit unit_names[] = {
    {"seconds", 1}, {"minutes", 60}, {"hours", 3600}, {"days", 86400}, {"weeks", 604800}};

const int month_days[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Searched top to bottom: a short prefix such as "CES" must not stop at "CET".
const zone zone_names[] = {
    {"IDLW", -12, 0}, {"NT", -11, 0},  {"CAT", -10, 0}, {"HST", -10, 0}, {"HDT", -10, 1},
    {"YST", -9, 0},   {"YDT", -9, 1},  {"PST", -8, 0},  {"PDT", -8, 1},  {"MST", -7, 0},
    {"MDT", -7, 1},   {"CST", -6, 0},  {"CDT", -6, 1},  {"EST", -5, 0},  {"EDT", -5, 1},
    {"AST", -3, 0},   {"ADT", -3, 1},  {"WAT", -1, 0},  {"GMT", 0, 0},   {"UTC", 0, 0},
    {"Z", 0, 0},      {"WET", 0, 0},   {"BST", 0, 1},   {"CET", 1, 0},   {"MET", 1, 0},
    {"MEWT", 1, 0},   {"MEST", 1, 1},  {"CEST", 1, 1},  {"MESZ", 1, 1},  {"FWT", 1, 0},
    {"FST", 1, 1},    {"EET", 2, 0},   {"EEST", 2, 1},  {"WAST", 7, 0},  {"WADT", 7, 1},
    {"CCT", 8, 0},    {"JST", 9, 0},   {"EAST", 10, 0}, {"EADT", 10, 1}, {"GST", 10, 0},
    {"NZT", 12, 0},   {"NZST", 12, 0}, {"NZDT", 12, 1}, {"IDLE", 12, 0},
};

// Relative phrases are clamped to this far back (about 100,000 years) so that
// absurd counts such as "99999999999999 weeks" cannot overflow anything; the
// result is then simply far outside any printable date.
constexpr unsigned long long max_back_years = 100000;
constexpr unsigned long long max_back_seconds = max_back_years * 366 * 86400;
constexpr int min_year = -1000000000;

// Only ASCII counts: bytes of 0x80 and above are neither letters nor digits,
// whatever the locale says.
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_alpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool is_alnum(char c) {
    return is_digit(c) || is_alpha(c);
}
inline char to_upper(char c) {
    return is_alpha(c) ? static_cast<char>(c & ~0x20) : c;
}

// A run of decimal digits. Saturates at ULLONG_MAX rather than overflowing:
// every caller treats such a value as out of range.
unsigned long long read_number(const char* p, const char** end) {
    unsigned long long n = 0;
    while (is_digit(*p)) {
        unsigned d = static_cast<unsigned>(*p - '0');
        n = n > (ULLONG_MAX - d) / 10 ? ULLONG_MAX : n * 10 + d;
        ++p;
    }
    *end = p;
    return n;
}

// Narrows a parsed number for range checks; anything past INT_MAX is out of
// every range those checks accept.
inline long long small(unsigned long long n) {
    return n > INT_MAX ? INT_MAX : static_cast<long long>(n);
}

atm unknown_tm() {
    return atm{-1, -1, -1, -1, -1, unknown_year, -1, -1, -1, 0};
}

struct tm to_struct_tm(const atm& a) {
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_sec = a.sec;
    t.tm_min = a.min;
    t.tm_hour = a.hour;
    t.tm_mday = a.mday;
    t.tm_mon = a.mon;
    t.tm_year = a.year;
    t.tm_wday = a.wday;
    t.tm_yday = a.yday;
    t.tm_isdst = a.isdst;
    return t;
}

void from_struct_tm(const struct tm& t, atm* a) {
    a->sec = t.tm_sec;
    a->min = t.tm_min;
    a->hour = t.tm_hour;
    a->mday = t.tm_mday;
    a->mon = t.tm_mon;
    a->year = t.tm_year;
    a->wday = t.tm_wday;
    a->yday = t.tm_yday;
    a->isdst = t.tm_isdst;
}

time_t now_seconds(clock_now* now) {
    if (!now->known) {
        now->sec = now->given ? now->given->tv_sec : time(nullptr);
        now->known = true;
    }
    return now->sec;
}

const struct tm& now_utc(clock_now* now) {
    if (!now->tm_known) {
        time_t sec = now_seconds(now);
        if (!gmtime_r(&sec, &now->utc)) memset(&now->utc, 0, sizeof now->utc);
        now->tm_known = true;
    }
    return now->utc;
}

// Leading characters on which text and word agree (letters compared
// upper-cased). A disagreement inside a word means no match at all, so "Mon,"
// gives 3 against "Mondays" but "Monkey" gives 0.
int match_string(const char* date, const char* str) {
    int i = 0;
    for (; date[i]; i++) {
        if (to_upper(date[i]) != to_upper(str[i])) return is_alnum(date[i]) ? 0 : i;
    }
    return i;
}

// Whether a match_string result covers all of word (the text's word may not
// go on, match_string already returned 0 then).
inline bool matched_whole(const char* word, int match) {
    return match > 0 && word[match] == '\0';
}

int skip_alpha(const char* date) {
    int i = 0;
    do {
        i++;
    } while (is_alpha(date[i]));
    return i;
}

bool nodate(const atm& tm) {
    return tm.sec < 0 && tm.min < 0 && tm.hour < 0 && tm.mday < 0 && tm.mon < 0 &&
           tm.year == unknown_year;
}

// The record read as UTC, without the C library: only 1970 to 2099, where
// every fourth year is a leap year.
time_t tm_to_time_t(const atm& tm) {
    long long year = static_cast<long long>(tm.year) - 70;
    int month = tm.mon;
    if (year < 0 || year > 129) return -1;
    if (month < 0 || month > 11) return -1;
    // An unknown day would land two days before the first of the month; a
    // date without its day is not a full date.
    if (tm.mday < 1) return -1;
    long long day = tm.mday;
    if (month < 2 || (year + 2) % 4) day--;
    if (tm.hour < 0 || tm.min < 0 || tm.sec < 0) return -1;
    long long days = year * 365 + (year + 1) / 4 + month_days[month] + day;
    return static_cast<time_t>(days * 86400 + tm.hour * 3600LL + tm.min * 60LL + tm.sec);
}

// Accepts year/month/day candidates (year -1 when the text gave none) and
// stores them; refuses impossible ones and dates more than ten days ahead.
bool is_date(long long year, long long month, long long day, atm* tm, clock_now* now) {
    if (month < 1 || month > 12) return false;
    if (day < 1 || day > 31) return false;

    atm r = *tm;
    r.mon = static_cast<int>(month - 1);
    r.mday = static_cast<int>(day);

    if (year == -1) {
        r.year = now_utc(now).tm_year;
    } else if (year >= 1970 && year < 2100) {
        r.year = static_cast<int>(year - 1900);
    } else if (year > 70 && year < 100) {
        r.year = static_cast<int>(year);
    } else if (year < 38) {
        r.year = static_cast<int>(year + 100);
    } else {
        return false;
    }

    // A timestamp cannot sensibly lie far in the future; this is what lets
    // "12/11" fall back to the day-first order when month-first is ahead.
    // Without a time of day yet the check cannot be made and passes.
    time_t specified = tm_to_time_t(r);
    if (specified != -1 && specified > now_seconds(now) + 10 * 24 * 3600) return false;

    tm->mon = r.mon;
    tm->mday = r.mday;
    if (year != -1) tm->year = r.year;
    return true;
}

// num, then separator c, then a digit at end + 1: a time or a date. Returns
// the length of the whole group, or 0 when it is neither.
int match_multi_number(unsigned long long num, char c, const char* date, const char* end, atm* tm,
                       clock_now* now) {
    long long num2 = small(read_number(end + 1, &end));
    long long num3 = -1;
    long long usec = 0;
    if (*end == c && is_digit(end[1])) {
        num3 = small(read_number(end + 1, &end));
        if (*end == '.' && is_digit(end[1])) {
            // Microseconds are the first six digits; longer fractions are
            // truncated (not taken whole, which would exceed a second).
            const char* p = end + 1;
            int digits = 0;
            for (; is_digit(*p); p++) {
                if (digits < 6) {
                    usec = usec * 10 + (*p - '0');
                    digits++;
                }
            }
            for (; digits < 6; digits++) usec *= 10;
            end = p;
        }
    }
    long long first = small(num);

    switch (c) {
        case ':':
            if (num3 < 0) num3 = 0;
            if (first < 25 && num2 >= 0 && num2 < 60 && num3 >= 0 && num3 <= 60) {
                tm->hour = static_cast<int>(first);
                tm->min = static_cast<int>(num2);
                tm->sec = static_cast<int>(num3);
                tm->usec = usec;
                break;
            }
            return 0;

        case '-':
        case '/':
        case '.':
            if (first > 70) {
                if (is_date(first, num2, num3, tm, now)) break;  // yyyy-mm-dd
                if (is_date(first, num3, num2, tm, now)) break;  // yyyy-dd-mm
            }
            if (c != '.' && is_date(num3, first, num2, tm, now)) break;  // mm/dd/yy
            if (is_date(num3, num2, first, tm, now)) break;              // dd.mm.yy
            if (c == '.' && is_date(num3, first, num2, tm, now)) break;  // mm.dd.yy
            return 0;

        default:
            return 0;
    }
    return static_cast<int>(end - date);
}

// A word of the strict reading. *was_month tells the caller that a dash right
// after the word belongs to a date ("06-Nov-94").
int match_alpha(const char* date, strict_state* s, bool* was_month) {
    *was_month = false;
    for (int i = 0; i < 12; i++) {
        int match = match_string(date, month_names[i]);
        if (match >= 3) {
            s->tm.mon = i;
            *was_month = true;
            return match;
        }
    }

    for (int i = 0; i < 7; i++) {
        int match = match_string(date, weekday_names[i]);
        if (match >= 3) {
            s->tm.wday = i;
            return match;
        }
    }

    for (const zone& z : zone_names) {
        int match = match_string(date, z.name);
        if (match >= 3 || matched_whole(z.name, match)) {
            if (!s->offset_known) {
                s->offset = 60 * (z.offset + z.dst);
                s->offset_known = true;
            }
            return match;
        }
    }

    if (match_string(date, "PM") == 2) {
        s->tm.hour = (s->tm.hour % 12) + 12;
        return 2;
    }
    if (match_string(date, "AM") == 2) {
        s->tm.hour = s->tm.hour % 12;
        return 2;
    }

    return skip_alpha(date);
}

// A number of the strict reading.
int match_digit(const char* date, strict_state* s) {
    atm* tm = &s->tm;
    const char* end;
    unsigned long long num = read_number(date, &end);

    // Nine or more digits before anything else: seconds since the epoch.
    // Values no time_t or broken-down year can hold are consumed unused.
    if (num >= 100000000 && nodate(*tm)) {
        if (num <= static_cast<unsigned long long>(INT64_MAX)) {
            time_t t = static_cast<time_t>(num);
            struct tm out;
            if (gmtime_r(&t, &out)) {
                from_struct_tm(out, tm);
                s->given_as_utc = true;
            }
        }
        return static_cast<int>(end - date);
    }

    if ((*end == ':' || *end == '-' || *end == '/' || *end == '.') && is_digit(end[1])) {
        int match = match_multi_number(num, *end, date, end, tm, s->now);
        if (match) return match;
    }

    int n = static_cast<int>(end - date);

    if (n == 4) {
        // hhmm without a sign, as some mailers write it; otherwise a year.
        if (num <= 1400 && !s->offset_known) {
            unsigned minutes = static_cast<unsigned>(num % 100);
            unsigned hours = static_cast<unsigned>(num / 100);
            s->offset = static_cast<int>(hours * 60 + minutes);
            s->offset_known = true;
        } else if (num > 1900 && num < 2100) {
            tm->year = static_cast<int>(num) - 1900;
        }
        return n;
    }

    if (n < 3) {
        int v = static_cast<int>(num);
        if (v > 0 && v < 32 && tm->mday < 0) {
            tm->mday = v;
            return n;
        }
        if (n == 2 && tm->year == unknown_year) {
            if (v < 10 && tm->mday >= 0) {
                tm->year = v + 100;
                return n;
            }
            if (v >= 70) {
                tm->year = v;
                return n;
            }
        }
        if (v > 0 && v < 13 && tm->mon < 0) tm->mon = v - 1;
    }

    return n;
}

// "+hhmm", "-hh", "+hh:mm" at a sign followed by a digit. Anything else is
// consumed without effect.
int match_tz(const char* date, strict_state* s) {
    const char* end;
    unsigned long long hour = read_number(date + 1, &end);
    int n = static_cast<int>(end - (date + 1));
    unsigned long long min = 0;
    bool valid = true;

    if (n == 4) {
        min = hour % 100;
        hour = hour / 100;
    } else if (n != 2) {
        valid = false;
    } else if (*end == ':') {
        min = read_number(end + 1, &end);
        if (end - (date + 1) != 5) valid = false;
    }

    if (valid && min < 60 && hour < 24) {
        int offset = static_cast<int>(hour * 60 + min);
        s->offset = *date == '-' ? -offset : offset;
        s->offset_known = true;
    }
    return static_cast<int>(end - date);
}

// "@<seconds> +hhmm": epoch seconds plus the zone offset of whoever wrote them.
// The seconds are taken as they are; the offset is only reported.
bool match_object_header_date(const char* date, struct timeval* tv, int* offset) {
    if (!is_digit(*date)) return false;
    const char* end;
    unsigned long long stamp = read_number(date, &end);
    if (stamp == ULLONG_MAX || stamp > static_cast<unsigned long long>(INT64_MAX)) return false;
    if (*end != ' ') return false;
    end++;
    if (*end != '+' && *end != '-') return false;
    char sign = *end++;
    for (int i = 0; i < 4; i++) {
        if (!is_digit(end[i])) return false;
    }
    if (end[4] != '\0' && end[4] != '\n') return false;
    int hhmm = (end[0] - '0') * 1000 + (end[1] - '0') * 100 + (end[2] - '0') * 10 + (end[3] - '0');
    int off = (hhmm / 100) * 60 + hhmm % 100;
    *offset = sign == '-' ? -off : off;
    tv->tv_sec = static_cast<time_t>(stamp);
    tv->tv_usec = 0;
    return true;
}

// Strict reading with an explicit clock for the ten-days check.
int parse_date_strict(const char* date, struct timeval* tv, int* offset_out, clock_now* now) {
    strict_state s;
    s.tm = unknown_tm();
    s.offset = -1;
    s.offset_known = false;
    s.given_as_utc = false;
    s.now = now;

    int local_offset;
    if (!offset_out) offset_out = &local_offset;

    if (*date == '@' && match_object_header_date(date + 1, tv, offset_out)) return 0;

    const char* month_end = nullptr;
    for (const char* p = date; *p && *p != '\n';) {
        char c = *p;
        int match = 0;
        if (is_alpha(c)) {
            bool was_month;
            match = match_alpha(p, &s, &was_month);
            month_end = was_month ? p + match : nullptr;
        } else if (is_digit(c)) {
            match = match_digit(p, &s);
        } else if (c == '-' && p == month_end) {
            // "06-Nov-94": the dash joins the month to the year; read as an
            // offset it would lose the year and the date.
        } else if ((c == '-' || c == '+') && is_digit(p[1])) {
            match = match_tz(p, &s);
        }
        p += match > 0 ? match : 1;
    }

    time_t seconds = tm_to_time_t(s.tm);
    if (seconds == -1) {
        *offset_out = s.offset;
        return -1;
    }

    if (!s.offset_known) {
        // No zone in the text: the wall clock of this machine at that date.
        struct tm local = to_struct_tm(s.tm);
        local.tm_isdst = -1;
        time_t as_local = mktime(&local);
        s.offset = static_cast<int>((static_cast<long long>(seconds) - as_local) / 60);
        s.offset_known = true;
    }

    *offset_out = s.offset;
    tv->tv_usec = static_cast<suseconds_t>(s.tm.usec);
    tv->tv_sec = s.given_as_utc ? seconds : seconds - static_cast<time_t>(s.offset) * 60;
    return 0;
}

// ---- approximate reading ----

bool same_wall_clock(const atm& a, const atm& b) {
    return a.sec == b.sec && a.min == b.min && a.hour == b.hour && a.mday == b.mday &&
           a.mon == b.mon && a.year == b.year;
}

void fill_local(approx_state* st, time_t t) {
    struct tm out;
    if (!localtime_r(&t, &out)) return;
    int64_t usec = st->tm.usec;
    from_struct_tm(out, &st->tm);
    st->tm.usec = usec;
    st->filled = st->tm;
}

// Completes the record from now (a month after the current one means last
// year), goes back sec seconds and returns the instant.
time_t update_tm(approx_state* st, long long sec) {
    atm* tm = &st->tm;
    const atm& now = st->now;
    if (tm->mday < 0) tm->mday = now.mday;
    if (tm->mon < 0) tm->mon = now.mon;
    if (tm->year == unknown_year) {
        tm->year = now.year;
        if (tm->mon > now.mon) tm->year--;
    }

    struct tm t = to_struct_tm(*tm);
    // The DST flag is only trustworthy for the wall-clock time it came with;
    // once a field was changed, let mktime work it out, or a winter date read
    // in summer would be an hour off.
    if (!same_wall_clock(*tm, st->filled)) t.tm_isdst = -1;
    time_t n = mktime(&t) - static_cast<time_t>(sec);
    fill_local(st, n);
    return n;
}

unsigned long long clamp_count(unsigned long long n, unsigned long long max) {
    return n > max ? max : n;
}

// Repeated "N years ago" must not walk the year out of an int.
int floor_year(long long year) {
    return year < min_year ? min_year : static_cast<int>(year);
}

void date_time(approx_state* st, int hour) {
    if (st->tm.hour < hour) update_tm(st, 24 * 60 * 60);
    st->tm.hour = hour;
    st->tm.min = 0;
    st->tm.sec = 0;
}

void date_yesterday(approx_state* st) {
    update_tm(st, 24 * 60 * 60);
}
void date_noon(approx_state* st) {
    date_time(st, 12);
}
void date_midnight(approx_state* st) {
    date_time(st, 0);
}
void date_tea(approx_state* st) {
    date_time(st, 17);
}

// "PM" and "AM": a pending number is the hour (on the full hour), else the hour so far.
int meridian_hour(approx_state* st) {
    if (!st->number) return st->tm.hour;
    int hour = static_cast<int>(st->number % 12);
    st->number = 0;
    st->tm.min = 0;
    st->tm.sec = 0;
    return hour;
}

void date_pm(approx_state* st) {
    st->tm.hour = (meridian_hour(st) % 12) + 12;
}

void date_am(approx_state* st) {
    st->tm.hour = meridian_hour(st) % 12;
}

void date_never(approx_state* st) {
    fill_local(st, 0);
}

void date_now(approx_state* st) {
    update_tm(st, 0);
}

struct special {
    const char* name;
    void (*action)(approx_state*);
};

const special special_words[] = {
    {"yesterday", date_yesterday},
    {"noon", date_noon},
    {"midnight", date_midnight},
    {"tea", date_tea},
    {"PM", date_pm},
    {"AM", date_am},
    {"never", date_never},
    {"now", date_now},
};

// A settled pending number: day, month or year, whichever is free and fits.
void pending_number(approx_state* st) {
    unsigned long long n = st->number;
    if (!n) return;
    st->number = 0;
    atm* tm = &st->tm;
    if (tm->mday < 0 && n < 32) {
        tm->mday = static_cast<int>(n);
        return;
    }
    if (tm->mon < 0 && n < 13) {
        tm->mon = static_cast<int>(n) - 1;
        return;
    }
    if (tm->year == unknown_year) {
        if (n >= 1970 && n < 2100) {
            tm->year = static_cast<int>(n) - 1900;
        } else if (n > 69 && n < 100) {
            tm->year = static_cast<int>(n);
        } else if (n < 38) {
            tm->year = static_cast<int>(n) + 100;
        }
    }
}

const char* approxidate_digit(const char* date, approx_state* st) {
    const char* end;
    unsigned long long number = read_number(date, &end);

    if ((*end == '-' || *end == '.' || *end == '/' || *end == ':') && is_digit(end[1])) {
        int match = match_multi_number(number, *end, date, end, &st->tm, st->clock);
        if (match) return date + match;
    }

    // "0002" is no count of anything; "02" can still be a day or month.
    if (*date != '0' || end - date <= 2) st->number = number;
    return end;
}

const char* approxidate_alpha(const char* date, approx_state* st) {
    const char* end = date + skip_alpha(date);

    for (int i = 0; i < 12; i++) {
        if (match_string(date, month_names[i]) >= 3) {
            st->tm.mon = i;
            st->touched = true;
            return end;
        }
    }

    for (const special& s : special_words) {
        if (matched_whole(s.name, match_string(date, s.name))) {
            s.action(st);
            st->touched = true;
            return end;
        }
    }

    if (!st->number) {
        for (int i = 1; i < 11; i++) {
            if (matched_whole(number_names[i], match_string(date, number_names[i]))) {
                st->number = static_cast<unsigned long long>(i);
                st->touched = true;
                return end;
            }
        }
        if (match_string(date, "last") == 4) {
            st->number = 1;
            st->touched = true;
        }
        return end;
    }

    unsigned long long n = st->number;

    for (const unit& u : unit_names) {
        // "day" and "days", "hour" and "hours" alike.
        int match = match_string(date, u.name);
        if (matched_whole(u.name, match) || (match > 0 && matched_whole(u.name, match + 1))) {
            unsigned long long per = static_cast<unsigned long long>(u.seconds);
            unsigned long long back = n > max_back_seconds / per ? max_back_seconds : n * per;
            update_tm(st, static_cast<long long>(back));
            st->number = 0;
            st->touched = true;
            return end;
        }
    }

    for (int i = 0; i < 7; i++) {
        if (match_string(date, weekday_names[i]) >= 3) {
            // The n-th previous such weekday; today's own weekday counts as a
            // full week back.
            unsigned long long k = clamp_count(n, max_back_years * 53) - 1;
            int diff = st->tm.wday - i;
            if (diff <= 0) k++;
            long long days = diff + 7 * static_cast<long long>(k);
            update_tm(st, days * 24 * 60 * 60);
            st->number = 0;
            st->touched = true;
            return end;
        }
    }

    if (match_string(date, "months") >= 5) {
        update_tm(st, 0);
        long long month = st->tm.mon - static_cast<long long>(clamp_count(n, max_back_years * 12));
        long long year = st->tm.year;
        if (month < 0) {
            long long borrow = (-month + 11) / 12;
            year -= borrow;
            month += borrow * 12;
        }
        st->tm.mon = static_cast<int>(month);
        st->tm.year = floor_year(year);
        st->number = 0;
        st->touched = true;
        return end;
    }

    if (match_string(date, "years") >= 4) {
        update_tm(st, 0);
        st->tm.year =
            floor_year(st->tm.year - static_cast<long long>(clamp_count(n, max_back_years)));
        st->number = 0;
        st->touched = true;
        return end;
    }

    return end;
}

// Approximate reading: tv holds the current time on entry and the result on
// success; untouched when the text says nothing usable.
int approxidate_str(const char* date, struct timeval* tv, clock_now* clock) {
    approx_state st;
    time_t time_sec = tv->tv_sec;
    struct tm local;
    if (!localtime_r(&time_sec, &local)) return -1;
    from_struct_tm(local, &st.now);
    st.now.usec = 0;
    st.tm = st.now;
    st.filled = st.now;
    st.tm.year = unknown_year;
    st.tm.mon = -1;
    st.tm.mday = -1;
    st.number = 0;
    st.touched = false;
    st.clock = clock;

    for (const char* p = date; *p;) {
        char c = *p;
        if (is_digit(c)) {
            pending_number(&st);
            p = approxidate_digit(p, &st);
            st.touched = true;
        } else if (is_alpha(c)) {
            p = approxidate_alpha(p, &st);
        } else {
            p++;
        }
    }
    pending_number(&st);
    if (!st.touched) return -1;
    tv->tv_sec = update_tm(&st, 0);
    return 0;
}

}  // namespace

int parse_date_basic(const char* date, struct timeval* tv, int* offset) {
    clock_now now{};
    return parse_date_strict(date, tv, offset, &now);
}

int approxidate_relative(const char* date, struct timeval* tv, const struct timeval* now) {
    // The forms servers write are read exactly first, for every year they can hold.
    if (parse_server_date(date, tv, now)) return 0;
    clock_now clock{};
    clock.given = now;
    if (parse_date_strict(date, tv, nullptr, &clock) == 0) return 0;
    *tv = *now;
    return approxidate_str(date, tv, &clock);
}

int approxidate(const char* date, struct timeval* tv) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return approxidate_relative(date, tv, &now);
}
