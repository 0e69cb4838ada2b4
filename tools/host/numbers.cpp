#include "numbers.h"

#include <cstdint>

namespace {

// Digits of base from text[0, end); false for an empty run, another character or overflow.
bool Digits(const std::string& text, size_t end, int base, long long max, long long* out) {
    if (end == 0) return false;
    long long value = 0;
    for (size_t i = 0; i < end; ++i) {
        int digit = text[i] - '0';
        if (digit < 0 || digit >= base) return false;
        if (value > (max - digit) / base) return false;
        value = value * base + digit;
    }
    *out = value;
    return true;
}

}  // namespace

bool ParseBytes(const std::string& text, long long* out) {
    static const struct {
        const char* suffix;
        int shift;
    } suffixes[] = {{"K", 10}, {"M", 20},   {"G", 30},   {"k", 10},  {"m", 20},
                    {"g", 30}, {"KiB", 10}, {"MiB", 20}, {"GiB", 30}};
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    std::string suffix = text.substr(digits);
    int shift = 0;
    if (!suffix.empty()) {
        shift = -1;
        for (auto& s : suffixes)
            if (suffix == s.suffix) shift = s.shift;
        if (shift < 0) return false;
    }
    long long value = 0;
    if (!Digits(text, digits, 10, INT64_MAX >> shift, &value)) return false;
    *out = value << shift;
    return true;
}

bool ParseCount(const std::string& text, long long max, long long* out) {
    return Digits(text, text.size(), 10, max, out);
}

bool ParseOctalMask(const std::string& text, unsigned* out) {
    long long value = 0;
    if (!Digits(text, text.size(), 8, 0777, &value)) return false;
    *out = static_cast<unsigned>(value);
    return true;
}
