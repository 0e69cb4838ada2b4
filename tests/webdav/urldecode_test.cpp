// Percent-decoding of hrefs.

#include <gtest/gtest.h>

#include <string>

#include "webdav/protocol.h"

namespace {

TEST(URLDecode, DecodesEscapesInEitherCase) {
    EXPECT_EQ(URLDecode("a%20b"), "a b");
    EXPECT_EQ(URLDecode("%C3%BC%c3%bc"), "üü");
    EXPECT_EQ(URLDecode("x%231%25.txt"), "x#1%.txt");
    EXPECT_EQ(URLDecode("%2F%2f"), "//");
    EXPECT_EQ(URLDecode("%7E%41"), "~A");
}

TEST(URLDecode, LeavesEverythingElseAsItStands) {
    EXPECT_EQ(URLDecode("plus+and&.txt"), "plus+and&.txt");  // "+" is not a blank in a path
    EXPECT_EQ(URLDecode(""), "");
    EXPECT_EQ(URLDecode(nullptr), "");
    // Decoding happens once: an escaped "%" followed by digits stays text.
    EXPECT_EQ(URLDecode("%2541"), "%41");
    EXPECT_EQ(URLDecode("%2500"), "%00");
}

TEST(URLDecode, PercentWithoutTwoHexDigitsIsAnOrdinaryCharacter) {
    EXPECT_EQ(URLDecode("100% sure.txt"), "100% sure.txt");
    EXPECT_EQ(URLDecode("%zz"), "%zz");
    EXPECT_EQ(URLDecode("%4g"), "%4g");  // one digit is not enough
    EXPECT_EQ(URLDecode("%g4"), "%g4");
    EXPECT_EQ(URLDecode("%%41"), "%A");
    EXPECT_EQ(URLDecode("50%"), "50%");    // ends right after the "%"
    EXPECT_EQ(URLDecode("50%4"), "50%4");  // one character left
    EXPECT_EQ(URLDecode("%"), "%");
}

TEST(URLDecode, EncodedNulEndsTheText) {
    EXPECT_EQ(URLDecode("ab%00cd"), "ab");
    EXPECT_EQ(URLDecode("%00"), "");
}

TEST(URLDecode, LongTextsAreKeptWhole) {
    std::string encoded, decoded;
    for (int i = 0; i < 3000; ++i) {
        encoded += "%C3%A9x";
        decoded += "éx";
    }
    std::string result = URLDecode(encoded.c_str());
    EXPECT_EQ(result.size(), 9000u);
    EXPECT_EQ(result, decoded);
}

TEST(URLDecode, UndoesURLEncode) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(URLDecode(URLEncode(all.c_str()).c_str()), all);
}

}  // namespace
