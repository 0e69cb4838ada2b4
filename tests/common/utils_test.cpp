// GCC 12 with the sanitizers reports a false "may be used uninitialized"
// inside <regex> when it builds an automaton.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "common/utils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

TEST(StringFormat, FormatsLikePrintf) {
    EXPECT_EQ(string_format("%d-%s", 42, "x"), "42-x");
    EXPECT_EQ(string_format(""), "");
    EXPECT_EQ(string_format("no conversions"), "no conversions");
    EXPECT_EQ(string_format("%lld|%X|%%", 1LL << 40, 255u), "1099511627776|FF|%");
}

TEST(StringFormat, OutputLongerThanTwiceTheFormatIsComplete) {
    std::string long_argument(100, 'q');
    EXPECT_EQ(string_format("%s", long_argument.c_str()), long_argument);
    std::string huge(100000, 'z');
    EXPECT_EQ(string_format("<%s>", huge.c_str()), "<" + huge + ">");
}

TEST(Split, PiecesBetweenSeparators) {
    struct {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a,b,,c,", {"a", "b", "", "c"}},
        {",a", {"", "a"}},
        {"abc", {"abc"}},
        {"", {""}},
        {",", {""}},
        {",,", {"", ""}},
    };
    for (auto& c : cases) EXPECT_EQ(split(c.text, std::regex(",")), c.pieces) << c.text;
    EXPECT_EQ(split(std::string("/data/user"), std::regex("/")),
              (std::vector<std::string>{"", "data", "user"}));
    EXPECT_EQ(split(std::string("a1b22c"), std::regex("[0-9]+")),
              (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Split, WideFormFollowsTheSameRules) {
    EXPECT_EQ(split(std::wstring(L"a,b,,c,"), std::wregex(L",")),
              (std::vector<std::wstring>{L"a", L"b", L"", L"c"}));
    EXPECT_EQ(split(std::wstring(L""), std::wregex(L",")), (std::vector<std::wstring>{L""}));
    EXPECT_EQ(split(std::wstring(L"\u00e9/\u4e2d"), std::wregex(L"/")),
              (std::vector<std::wstring>{L"\u00e9", L"\u4e2d"}));
}

TEST(ReplaceAll, LeftToRightWithoutRescanningInsertedText) {
    struct {
        std::string text, from, to, result;
    } cases[] = {
        {"a.b.c", ".", "/", "a/b/c"}, {"aXa", "a", "aa", "aaXaa"}, {"aaa", "aa", "b", "ba"},
        {"abc", "", "x", "abc"},      {"abc", "abc", "", ""},      {"", "a", "b", ""},
        {"xyz", "q", "r", "xyz"},
    };
    for (auto& c : cases) {
        std::string text = c.text;
        replace_all(text, c.from, c.to);
        EXPECT_EQ(text, c.result) << c.text << " " << c.from << "->" << c.to;
    }
    std::wstring wide = L"aXa";
    replace_all(wide, L"a", L"aa");
    EXPECT_EQ(wide, L"aaXaa");
    replace_all(wide, L"", L"z");
    EXPECT_EQ(wide, L"aaXaa");
}

struct MatchCase {
    const char* expression;
    const char* name;
    bool ignoreCase;
    bool matches;
};

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

// Every case runs through both widths: they share one algorithm.
const MatchCase match_cases[] = {
    // * and ?
    {"*", "", false, true},
    {"*", "any.name", false, true},
    {"*.txt", "notes.TXT", false, false},
    {"*.txt", "notes.TXT", true, true},
    {"*.txt", "notes.txt.bak", false, false},
    {"a*b*c", "axxbyyc", false, true},
    {"a*b*c", "axxbyy", false, false},
    {"*a", "", false, false},
    {"a?c", "abc", false, true},
    {"a?c", "abbc", false, false},
    {"?", "", false, false},
    {"ab?", "ab", false, false},  // ? never steps past the end of the name
    {"ab?*", "ab", false, false},
    // literal text and case folding
    {"", "", false, true},
    {"", "a", false, false},
    {"abc", "", false, false},
    {"abc", "ABC", false, false},
    {"abc", "ABC", true, true},
    {"ab", "abc", false, false},
    {"abc", "ab", false, false},
    // < covers up to the last "."
    {"<.txt", "a.b.txt", false, true},
    {"<.txt", ".txt", false, true},
    {"<.txt", "a.b.doc", false, false},
    {"<", "a.b", false, false},  // the last "." is left over
    {"<.b", "a.b", false, true},
    {"<b", "a.b", false, false},
    {"x<.txt", "xa.TXT", true, true},
    // < with no "." ahead covers any run up to the end, like *
    {"<", "", false, true},
    {"<", "abc", false, true},
    {"a<", "abc", false, true},
    {"<c", "abc", false, true},
    {"<x", "abc", false, false},
    {"a<c", "ac", false, true},
    // > covers one character, but not the last "."
    {"a>.txt", "a.txt", false, true},
    {"a>c", "abc", false, true},
    {"a>c", "ac", false, false},
    {"a>", "a", false, true},  // at the end of the name > covers nothing
    {"a>>", "ab", false, true},
    {"a>", "abc", false, false},
    {">.b", "a.b", false, true},
    {">", ".", false, false},  // the last "." is not covered
    {">b", ".a.b", false, false},
    {">a.b", ".a.b", false, true},  // a "." that is not the last one is covered
    // " stands for an optional "."
    {"abc\"", "abc", false, true},
    {"abc\"", "abc.", false, true},
    {"abc\"", "ABC.", true, true},
    {"abc\"", "abcd", false, false},
    {"a\"b", "ab", false, true},
    {"a\"b", "a.b", false, true},
    // wildcard characters in the name are literal
    {"a*", "a*", false, true},
    {"a?", "a<", false, true},
    {"a<", "a?", false, true},
    {"a.c", "a?c", false, false},
    {"*\"", "name.", false, true},
};

TEST(NameMatching, NarrowTable) {
    for (const MatchCase& c : match_cases)
        EXPECT_EQ(IsNameInExpressionA(c.expression, c.name, c.ignoreCase), c.matches)
            << "expression [" << c.expression << "] name [" << c.name << "] ignoreCase "
            << c.ignoreCase;
}

TEST(NameMatching, WideTable) {
    for (const MatchCase& c : match_cases)
        EXPECT_EQ(
            IsNameInExpression(Widen(c.expression).c_str(), Widen(c.name).c_str(), c.ignoreCase),
            c.matches)
            << "expression [" << c.expression << "] name [" << c.name << "] ignoreCase "
            << c.ignoreCase;
}

// Many wildcards against a long name that almost matches: a search that
// tried every way of placing them would not finish in any reasonable time.
TEST(NameMatching, ManyWildcardsAgainstALongNameStayTractable) {
    std::string stars, lts, name(300, 'a');
    for (int i = 0; i < 25; ++i) {
        stars += "*a";
        lts += "<a";
    }
    EXPECT_FALSE(IsNameInExpressionA((stars + "*b").c_str(), name.c_str(), false));
    EXPECT_FALSE(IsNameInExpressionA((lts + "<b").c_str(), (name + ".x").c_str(), false));
    EXPECT_FALSE(IsNameInExpression(Widen((stars + "?b").c_str()).c_str(),
                                    Widen(name.c_str()).c_str(), true));
    EXPECT_TRUE(IsNameInExpressionA((stars + "*b").c_str(), (name + "b").c_str(), false));
    EXPECT_TRUE(IsNameInExpressionA((lts + ".x").c_str(), (name + ".x").c_str(), false));
}

TEST(NameMatching, WideFoldsBeyondAscii) {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_TRUE(IsNameInExpression(L"\u00e9t\u00e9.*", L"\u00c9T\u00c9.doc", true));
    EXPECT_FALSE(IsNameInExpression(L"\u00e9t\u00e9.*", L"\u00c9T\u00c9.doc", false));
    EXPECT_TRUE(IsNameInExpression(L"<.\u0434\u043e\u043a", L"a.b.\u0414\u041e\u041a", true));
    std::setlocale(LC_CTYPE, "C");
}

TEST(NameMatching, NarrowFoldsOnlyWhatTheLocaleFolds) {
    // UTF-8 bytes of é and É: the C locale folds neither, so they differ.
    EXPECT_FALSE(IsNameInExpressionA("\xc3\xa9", "\xc3\x89", true));
    EXPECT_TRUE(IsNameInExpressionA("\xc3\xa9*", "\xc3\xa9XYZ", true));
    EXPECT_TRUE(IsNameInExpressionA("?\xa9", "\xc3\xa9", false));
    // High bytes against high bytes with folding on: no out-of-range lookup.
    for (int byte = 0x80; byte <= 0xff; ++byte) {
        char text[2] = {static_cast<char>(byte), 0};
        EXPECT_TRUE(IsNameInExpressionA(text, text, true)) << byte;
    }
}

TEST(NameMatching, NeverReadsPastTheName) {
    // The name ends exactly at the end of its allocation; the sanitizer build
    // reports any read beyond it.
    const char* expressions[] = {"?",    ">",       "\"",  "<",    "*?",   "<?",  "a>>>>",
                                 "a???", "a\"\"\"", "a<>", "a*>?", "a<\"", "a>?<"};
    for (const char* expression : expressions) {
        std::vector<char> name = {'a', '\0'};
        IsNameInExpressionA(expression, name.data(), true);
        std::vector<wchar_t> wide = {L'a', L'\0'};
        IsNameInExpression(Widen(expression).c_str(), wide.data(), true);
    }
}

TEST(NameMatching, NullArgumentsDoNotMatch) {
    EXPECT_FALSE(IsNameInExpressionA(nullptr, "a", false));
    EXPECT_FALSE(IsNameInExpressionA("*", nullptr, false));
    EXPECT_FALSE(IsNameInExpression(nullptr, L"a", false));
    EXPECT_FALSE(IsNameInExpression(L"*", nullptr, false));
}

}  // namespace
