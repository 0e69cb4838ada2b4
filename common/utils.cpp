#include "utils.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <memory>
#include <vector>

std::string string_format(std::string format, ...) {
    int size = static_cast<int>(format.size() * 2);
    for (;;) {
        std::unique_ptr<char[]> buffer(new char[size > 0 ? size : 1]);
        va_list args;
        va_start(args, format);
        int written = vsnprintf(buffer.get(), static_cast<size_t>(size), format.c_str(), args);
        va_end(args);
        if (written >= 0 && written < size) return std::string(buffer.get());
        // Cut output reports the exact size needed (written + 1); an encoding
        // error reports -1, which doubles the buffer for the next attempt.
        size += std::abs(written - size + 1);
    }
}

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> SplitBy(const std::basic_string<Char>& text,
                                             const std::basic_regex<Char>& separator) {
    using Iterator = std::regex_token_iterator<typename std::basic_string<Char>::const_iterator>;
    std::vector<std::basic_string<Char>> pieces;
    for (Iterator it(text.begin(), text.end(), separator, -1), end; it != end; ++it)
        pieces.push_back(it->str());
    return pieces;
}

template <typename Char>
void ReplaceAll(std::basic_string<Char>& text, const std::basic_string<Char>& from,
                const std::basic_string<Char>& to) {
    if (from.empty()) return;
    size_t position = 0;
    while ((position = text.find(from, position)) != std::basic_string<Char>::npos) {
        text.replace(position, from.size(), to);
        // Resume after the inserted text so it is never searched again.
        position += to.size();
    }
}

bool SameChar(char a, char b, bool ignoreCase) {
    if (!ignoreCase) return a == b;
    // The byte goes through unsigned char: passing a negative char other than
    // EOF to toupper is undefined, and glibc folds both forms alike.
    return toupper(static_cast<unsigned char>(a)) == toupper(static_cast<unsigned char>(b));
}

bool SameChar(wchar_t a, wchar_t b, bool ignoreCase) {
    if (!ignoreCase) return a == b;
    return towupper(static_cast<wint_t>(a)) == towupper(static_cast<wint_t>(b));
}

template <typename Char>
const Char* LastDot(const Char* from) {
    const Char* dot = nullptr;
    for (; *from; ++from)
        if (*from == Char('.')) dot = from;
    return dot;
}

// One algorithm for both widths. It never steps past the name's NUL: a `?`
// with nothing left fails, a `>` with nothing left covers nothing, and a `<`
// with no "." ahead behaves like `*`. Wildcards backtrack; a pair of places
// (in the expression, in the name) that failed once is remembered, so many
// wildcards against a long name cost at most one try per pair instead of
// growing exponentially.
template <typename Char>
class Matcher {
public:
    Matcher(const Char* expression, const Char* name, bool ignoreCase)
        : expressionStart(expression),
          nameStart(name),
          ignoreCase(ignoreCase),
          width(Length(name) + 1) {}

    bool Run() { return Matches(expressionStart, nameStart); }

private:
    bool Try(const Char* expression, const Char* name) {
        if (!failed.empty() && failed[Key(expression, name)]) return false;
        if (Matches(expression, name)) return true;
        // Only the first failure makes the table worth its memory.
        if (failed.empty()) failed.assign((Length(expressionStart) + 1) * width, false);
        failed[Key(expression, name)] = true;
        return false;
    }

    size_t Key(const Char* expression, const Char* name) const {
        return static_cast<size_t>(expression - expressionStart) * width +
               static_cast<size_t>(name - nameStart);
    }

    static size_t Length(const Char* text) {
        size_t n = 0;
        while (text[n]) ++n;
        return n;
    }

    bool Matches(const Char* expression, const Char* name) {
        while (*expression) {
            Char wildcard = *expression;
            if (wildcard == Char('*')) {
                ++expression;
                if (*expression == 0) return true;
                for (; *name; ++name)
                    if (Try(expression, name)) return true;
                continue;  // name is at its end: the rest must match nothing
            }
            if (wildcard == Char('<')) {
                ++expression;
                const Char* dot = LastDot(name);
                if (dot == nullptr) {
                    if (*expression == 0) return true;
                    for (; *name; ++name)
                        if (Try(expression, name)) return true;
                    continue;
                }
                for (; name < dot; ++name)
                    if (Try(expression, name)) return true;
                continue;  // the last "." is left for the rest of the expression
            }
            if (wildcard == Char('>')) {
                ++expression;
                if (*name == Char('.')) {
                    if (LastDot(name + 1) != nullptr) ++name;
                } else if (*name) {
                    ++name;
                }
                continue;
            }
            if (wildcard == Char('"')) {
                ++expression;
                if (*name == Char('.')) ++name;
                continue;
            }
            if (wildcard == Char('?')) {
                if (*name == 0) return false;
                ++expression;
                ++name;
                continue;
            }
            if (*name == 0 || !SameChar(wildcard, *name, ignoreCase)) return false;
            ++expression;
            ++name;
        }
        return *name == 0;
    }

    const Char* expressionStart;
    const Char* nameStart;
    bool ignoreCase;
    size_t width;              // places in the name: its length + 1
    std::vector<bool> failed;  // by Key(); empty until a first try fails
};

template <typename Char>
bool Matches(const Char* expression, const Char* name, bool ignoreCase) {
    return Matcher<Char>(expression, name, ignoreCase).Run();
}

}  // namespace

std::vector<std::string> split(const std::string& text, const std::regex& separator) {
    return SplitBy(text, separator);
}

std::vector<std::wstring> split(const std::wstring& text, const std::wregex& separator) {
    return SplitBy(text, separator);
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    ReplaceAll(text, from, to);
}

void replace_all(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    ReplaceAll(text, from, to);
}

bool IsNameInExpression(const wchar_t* expression, const wchar_t* name, bool ignoreCase) {
    if (expression == nullptr || name == nullptr) return false;
    return Matches(expression, name, ignoreCase);
}

bool IsNameInExpressionA(const char* expression, const char* name, bool ignoreCase) {
    if (expression == nullptr || name == nullptr) return false;
    return Matches(expression, name, ignoreCase);
}
