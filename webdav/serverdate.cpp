// The date forms of HTTP (RFC 9110: IMF-fixdate, RFC 850, asctime) and of RFC 3339, read
// exactly. The free-form reader covers loose text but only years 1970 to 2099; these forms
// are what servers put in getlastmodified and creationdate, and a file dated 1969 or 2105
// must keep its year (hosts compare these instants with local files).

#include "serverdate.h"

#include <time.h>

#include <cstring>
#include <initializer_list>

namespace {

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const kWeekdays[] = {"sunday",   "monday", "tuesday", "wednesday",
                                 "thursday", "friday", "saturday"};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Proleptic Gregorian calendar, days since 1970-01-01 (negative before it).
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    long usec = 0;
    bool zoned = false;
    int offsetMinutes = 0;  // east of UTC
};

class Cursor {
public:
    explicit Cursor(const char* text) : p(text) {}

    bool Eat(char c) {
        if (*p != c) return false;
        ++p;
        return true;
    }
    bool Blanks() {  // at least one
        const char* start = p;
        while (*p == ' ' || *p == '\t') ++p;
        return p != start;
    }
    bool AtEnd() {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
        return *p == '\0';
    }
    // Between min and max digits.
    bool Number(int min, int max, int* value) {
        int n = 0, v = 0;
        while (n < max && IsDigit(p[n])) v = v * 10 + (p[n++] - '0');
        if (n < min || IsDigit(p[n])) return false;
        p += n;
        *value = v;
        return true;
    }
    // A word that is a name of the table in full or its first three letters.
    bool Name(const char* const* names, int count, int* index) {
        size_t n = 0;
        while ((p[n] >= 'a' && p[n] <= 'z') || (p[n] >= 'A' && p[n] <= 'Z')) ++n;
        for (int i = 0; i < count; ++i) {
            size_t full = std::strlen(names[i]);
            if (n != 3 && n != full) continue;
            size_t k = 0;
            while (k < n && Lower(p[k]) == names[i][k]) ++k;
            if (k == n) {
                p += n;
                *index = i;
                return true;
            }
        }
        return false;
    }
    bool Time(Stamp* s, bool secondsOptional) {
        if (!Number(2, 2, &s->hour) || !Eat(':') || !Number(2, 2, &s->minute)) return false;
        if (Eat(':')) return Number(2, 2, &s->second);
        return secondsOptional;
    }
    // "GMT", "UTC", "UT", "Z", "+hhmm", "-hh:mm" (isoForms: also "+hh"); absent is no zone.
    bool Zone(Stamp* s, bool isoForms) {
        if (isoForms && (*p == 'Z' || *p == 'z')) {
            ++p;
            s->zoned = true;
            return true;
        }
        for (const char* name : {"GMT", "UTC", "UT", "Z"}) {
            size_t n = std::strlen(name);
            if (isoForms || std::strncmp(p, name, n) != 0) continue;
            p += n;
            s->zoned = true;
            return true;
        }
        if (*p != '+' && *p != '-') return true;
        int sign = *p++ == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!Number(2, 2, &hours)) return false;
        if (Eat(':')) {
            if (!Number(2, 2, &minutes)) return false;
        } else if (IsDigit(*p)) {
            if (!Number(2, 2, &minutes)) return false;
        } else if (!isoForms) {
            return false;
        }
        if (hours > 23 || minutes > 59) return false;
        s->zoned = true;
        s->offsetMinutes = sign * (hours * 60 + minutes);
        return true;
    }
    // ".25" or ",25" after the seconds: microseconds (digits past six are dropped).
    void Fraction(Stamp* s) {
        if ((*p != '.' && *p != ',') || !IsDigit(p[1])) return;
        ++p;
        long scale = 100000;
        for (; IsDigit(*p); ++p, scale /= 10) s->usec += (*p - '0') * scale;
    }

private:
    const char* p;
};

// "Sun, 06 Nov 1994 08:49:37 GMT" and "Sunday, 06-Nov-94 08:49:37 GMT".
bool ReadRfc1123Or850(const char* text, Stamp* s, int nowYear) {
    Cursor c(text);
    int weekday = 0;
    c.Blanks();
    if (!c.Name(kWeekdays, 7, &weekday) || !c.Eat(',')) return false;
    c.Blanks();
    if (!c.Number(1, 2, &s->day)) return false;
    bool dashed = c.Eat('-');
    if (!dashed && !c.Blanks()) return false;
    if (!c.Name(kMonths, 12, &s->month)) return false;
    s->month += 1;
    if (dashed ? !c.Eat('-') : !c.Blanks()) return false;
    if (c.Number(4, 4, &s->year)) {
    } else if (dashed && c.Number(2, 2, &s->year)) {
        // RFC 9110: a two-digit year more than 50 years ahead lies in the past century.
        s->year += nowYear - nowYear % 100;
        if (s->year > nowYear + 50) s->year -= 100;
    } else {
        return false;
    }
    return c.Blanks() && c.Time(s, false) && (c.Blanks() || c.AtEnd()) && c.Zone(s, false) &&
           c.AtEnd();
}

// "Sun Nov  6 08:49:37 1994": names no zone, but is one of HTTP's date forms, all GMT.
bool ReadAsctime(const char* text, Stamp* s) {
    Cursor c(text);
    int weekday = 0;
    c.Blanks();
    if (!c.Name(kWeekdays, 7, &weekday) || !c.Blanks() || !c.Name(kMonths, 12, &s->month))
        return false;
    s->month += 1;
    s->zoned = true;  // an HTTP date, and HTTP dates are GMT
    return c.Blanks() && c.Number(1, 2, &s->day) && c.Blanks() && c.Time(s, false) && c.Blanks() &&
           c.Number(4, 4, &s->year) && c.AtEnd();
}

// "1994-11-06T08:49:37.25+02:00".
bool ReadIso8601(const char* text, Stamp* s) {
    Cursor c(text);
    c.Blanks();
    if (!c.Number(4, 4, &s->year) || !c.Eat('-') || !c.Number(2, 2, &s->month) || !c.Eat('-') ||
        !c.Number(2, 2, &s->day))
        return false;
    if (!c.Eat('T') && !c.Eat('t') && !c.Blanks()) return false;
    if (!c.Time(s, true)) return false;
    c.Fraction(s);
    return c.Zone(s, true) && c.AtEnd();
}

bool ReadAny(const char* text, Stamp* s, int nowYear) {
    *s = Stamp();
    if (ReadRfc1123Or850(text, s, nowYear)) return true;
    *s = Stamp();
    if (ReadAsctime(text, s)) return true;
    *s = Stamp();
    return ReadIso8601(text, s);
}

bool Valid(const Stamp& s) {
    return s.year >= 1 && s.year <= 9999 && s.month >= 1 && s.month <= 12 && s.day >= 1 &&
           s.day <= DaysInMonth(s.year, s.month) && s.hour <= 23 && s.minute <= 59 &&
           s.second <= 60;
}

}  // namespace

bool parse_server_date(const char* text, struct timeval* tv, const struct timeval* now) {
    if (text == nullptr) return false;
    struct tm nowUtc;
    time_t nowSeconds = now->tv_sec;
    if (!gmtime_r(&nowSeconds, &nowUtc)) return false;

    Stamp s;
    if (!ReadAny(text, &s, nowUtc.tm_year + 1900) || !Valid(s)) return false;

    time_t seconds;
    if (s.zoned) {
        long long days = DaysFromCivil(s.year, s.month, s.day);
        seconds = static_cast<time_t>(days * 86400 + s.hour * 3600LL + s.minute * 60LL + s.second -
                                      s.offsetMinutes * 60LL);
    } else {
        // No zone: the wall clock of this machine at that date, as for any zone-less text.
        struct tm local = {};
        local.tm_year = s.year - 1900;
        local.tm_mon = s.month - 1;
        local.tm_mday = s.day;
        local.tm_hour = s.hour;
        local.tm_min = s.minute;
        local.tm_sec = s.second;
        local.tm_isdst = -1;
        seconds = mktime(&local);
    }
    tv->tv_sec = seconds;
    tv->tv_usec = static_cast<suseconds_t>(s.usec);
    return true;
}
