#include "common/conv_aerror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>

namespace {

AERROR Code(long long value) {
    return static_cast<AERROR>(value);
}

TEST(GetAERRORA, NamesEveryRangeAndItsEdges) {
    struct {
        long long code;
        const char* name;
    } cases[] = {
        {0, "SUCCESS"},
        {1, "FAILED"},
        {3, "INSUFFICIENT_BUFFER"},
        {6, "NOT_SUPPORTED"},
        {18, "FILE_NOT_FOUND"},
        {19, "PATH_NOT_FOUND"},
        {23, "ACCESS_DENIED"},
        {40, "BAD_ARGUMENTS"},
        {1000, "ASYNCQ_STOPPED"},
        {1002, "ASYNCQ_THREADCREATIONFAILED"},
        {2001, "FS_UNKNOWN_ERROR"},
        {2013, "FS_NEED_AUTHORIZE"},
        {3001, "CACHE_TOO_SMALL"},
        {3014, "CACHE_NO_RESERVED_BLOCKS"},
    };
    for (auto& c : cases) EXPECT_STREQ(GetAERRORA(Code(c.code)), c.name) << c.code;
}

TEST(GetAERRORA, GapsAndOutOfRangeValuesAreUnknown) {
    for (long long code : {-1LL, 41LL, 500LL, 999LL, 1003LL, 2000LL, 2014LL, 3000LL, 3015LL, 6001LL,
                           static_cast<long long>(INT32_MIN), static_cast<long long>(INT32_MAX)})
        EXPECT_STREQ(GetAERRORA(Code(code)), "Unknown") << code;
}

TEST(GetAERRORA, NameMatchesTheEnumeratorForEveryDefinedValue) {
    // The enumerator names in the header are the names we report.
    EXPECT_STREQ(GetAERRORA(WRITE_PROTECT), "WRITE_PROTECT");
    EXPECT_STREQ(GetAERRORA(DIR_NOT_EMPTY), "DIR_NOT_EMPTY");
    EXPECT_STREQ(GetAERRORA(ASYNCQ_NULLOBJECT), "ASYNCQ_NULLOBJECT");
    EXPECT_STREQ(GetAERRORA(FS_MOUNT_POINT_ERROR), "FS_MOUNT_POINT_ERROR");
    EXPECT_STREQ(GetAERRORA(CACHE_READAHEAD), "CACHE_READAHEAD");
    // Every value of a range has its own name.
    int defined = 0;
    for (long long code = -5; code <= 3020; ++code)
        if (std::string(GetAERRORA(Code(code))) != "Unknown") ++defined;
    EXPECT_EQ(defined, 41 + 3 + 13 + 14);
}

TEST(ConvertAERROR, OnlySuccessAndNotFoundHaveTheirOwnErrno) {
    EXPECT_EQ(ConvertAERROR(SUCCESS), 0);
    EXPECT_EQ(ConvertAERROR(FILE_NOT_FOUND), -ENOENT);
    EXPECT_EQ(ConvertAERROR(FILE_NOT_FOUND), -2);
    for (long long code : {1LL, 19LL, 23LL, 5000LL, -1LL, 6001LL})
        EXPECT_EQ(ConvertAERROR(Code(code)), -5) << code;
}

}  // namespace
