// Character-set conversion of entry names.

#include <gtest/gtest.h>

#include <string>

#include "webdav/protocol.h"

namespace {

TEST(IconvCovert, ConvertsAndReportsFullSuccess) {
    int status = 99;
    EXPECT_EQ(iconv_covert("ISO-8859-1", "UTF-8", "café", &status), "caf\xE9");
    EXPECT_EQ(status, 0);
    status = 99;
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-8859-1", "caf\xE9", &status), "café");
    EXPECT_EQ(status, 0);
    status = 99;
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-8859-1", "", &status), "");
    EXPECT_EQ(status, 0);
    // Stateful target: the shift sequence back to ASCII is part of the result.
    status = 99;
    std::string jis = iconv_covert("ISO-2022-JP", "UTF-8", "日本a", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-2022-JP", jis, &status), "日本a");
}

TEST(IconvCovert, FailuresKeepTheText) {
    int status = 99;
    // Unknown character set: unchanged, status untouched.
    EXPECT_EQ(iconv_covert("NO-SUCH-CHARSET", "UTF-8", "abc", &status), "abc");
    EXPECT_EQ(status, 99);
    // Invalid input.
    EXPECT_EQ(iconv_covert("ISO-8859-1", "UTF-8", "caf\xE9", &status), "caf\xE9");
    EXPECT_EQ(status, -1);
    // Incomplete input.
    status = 99;
    EXPECT_EQ(iconv_covert("ISO-8859-1", "UTF-8", "ab\xC3", &status), "ab\xC3");
    EXPECT_EQ(status, -1);
    // Not representable in the target.
    status = 99;
    EXPECT_EQ(iconv_covert("ISO-8859-1", "UTF-8", "日本", &status), "日本");
    EXPECT_EQ(status, -1);
    // Irreversible conversions are counted, and the text is still kept.
    status = 99;
    EXPECT_EQ(iconv_covert("ASCII//TRANSLIT", "UTF-8", "é", &status), "é");
    EXPECT_GT(status, 0);
    // More output than the 64 KiB area holds.
    status = 99;
    std::string big(40000, '\xE9');
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-8859-1", big, &status), big);
    EXPECT_EQ(status, -1);
    // A null status pointer is allowed.
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-8859-1", "caf\xE9", nullptr), "café");
}

TEST(IconvCovert, OutputEndsAtAnEmbeddedNul) {
    int status = 99;
    std::string withNul("ab\0cd", 5);
    EXPECT_EQ(iconv_covert("UTF-8", "ISO-8859-1", withNul, &status), "ab");
    EXPECT_EQ(status, 0);
}

}  // namespace
