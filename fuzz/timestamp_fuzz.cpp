// libFuzzer target: any bytes as a server timestamp. The answer must always be
// the fixed RFC 3339 form, whatever the input.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

#include <string>

#include "webdav/approxidate.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// YYYY-MM-DDThh:mm:ss.000Z
bool well_formed(const std::string& s) {
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.000Z";
    if (s.size() != sizeof shape - 1) return false;
    for (size_t i = 0; i < s.size(); i++) {
        if (shape[i] == 'd' ? !is_digit(s[i]) : s[i] != shape[i]) return false;
    }
    int month = (s[5] - '0') * 10 + (s[6] - '0');
    int day = (s[8] - '0') * 10 + (s[9] - '0');
    int hour = (s[11] - '0') * 10 + (s[12] - '0');
    int minute = (s[14] - '0') * 10 + (s[15] - '0');
    int second = (s[17] - '0') * 10 + (s[18] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 60;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const struct timeval now = {1234567890, 250000};
    if (!well_formed(convert_last_modified_to_rfc3339_at(text, &now))) abort();
    if (!well_formed(convert_last_modified_to_rfc3339(text))) abort();
    return 0;
}
