#include "common/utils.h"

#include <gtest/gtest.h>

// Expression, name, then c(ase-sensitive) or i(gnore case), + (match) or - (none). Names end
// where their memory does, so the sanitizers see any read past them.
TEST(NameMatching, BothWidthsFollowTheWildcardRulesAndTextIsReplacedOnce) {
    std::vector<std::string> rows = {
        "*",      "",        "c+", "*.txt", "notes.TXT", "c-", "*.txt",   "notes.TXT", "i+",
        "a*b*c",  "axxbyyc", "c+", "a?c",   "abbc",      "c-", "ab?",     "ab",        "c-",
        "",       "",        "c+", "<.txt", "a.b.txt",   "c+", "<.txt",   "a.b.doc",   "c-",
        "x<.txt", "xa.TXT",  "i+", "<",     "abc",       "c+", "a<c",     "ac",        "c+",
        "a>.txt", "a.txt",   "c+", "a>c",   "ac",        "c-", ">",       ".",         "c-",
        "abc\"",  "abc",     "c+", "abc\"", "ABC.",      "i+", "a\"b",    "a.b",       "c+",
        "a???",   "a",       "i-", "a>?<",  "a",         "i-", "a\"\"\"", "a",         "i+"};
    // Many wildcards against a long name that almost matches: no search of every placement.
    std::string stars, lts, name(300, 'a');
    for (int i = 0; i < 25; ++i) stars += "*a", lts += "<a";
    rows.insert(rows.end(), {stars + "*b", name, "c-", lts + "<b", name + ".x", "c-", stars + "*b",
                             name + "b", "c+"});
    for (size_t i = 0; i < rows.size(); i += 3) {
        std::vector<char> narrow(rows[i + 1].c_str(), rows[i + 1].c_str() + rows[i + 1].size() + 1);
        std::vector<wchar_t> wide(narrow.begin(), narrow.end());
        bool fold = rows[i + 2][0] == 'i';
        std::string got =
            std::to_string(IsNameInExpressionA(rows[i].c_str(), narrow.data(), fold)) +
            std::to_string(IsNameInExpression(std::wstring(rows[i].begin(), rows[i].end()).c_str(),
                                              wide.data(), fold));
        EXPECT_EQ(got, rows[i + 2][1] == '+' ? "11" : "00") << rows[i] << " " << rows[i + 1];
    }
    std::string text = "aXa.b";
    replace_all(text, "a", "aa");  // never inside what was put in
    EXPECT_EQ(text, "aaXaa.b");
}
