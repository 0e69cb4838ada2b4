// Time-zone control for date tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

// TZ for one test, restored afterwards.
class ScopedTz {
public:
    explicit ScopedTz(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTz() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// Whether the machine's zone database has this zone.
inline bool have_zone(const char* name) {
    return access((std::string("/usr/share/zoneinfo/") + name).c_str(), R_OK) == 0;
}
