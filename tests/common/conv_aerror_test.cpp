#include "common/conv_aerror.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(ConvAerror, NamesAndErrnoOfEveryRangeAndItsGaps) {
    std::istringstream rows(  // code, name, negative errno
        "0 SUCCESS 0  1 FAILED -5  18 FILE_NOT_FOUND -2  19 PATH_NOT_FOUND -5  -1 Unknown -5\n"
        "39 WRITE_PROTECT -5  40 BAD_ARGUMENTS -5  41 Unknown -5  999 Unknown -5  3000 Unknown -5\n"
        "1000 ASYNCQ_STOPPED -5  1002 ASYNCQ_THREADCREATIONFAILED -5  1003 Unknown -5\n"
        "2000 Unknown -5  2001 FS_UNKNOWN_ERROR -5  2013 FS_NEED_AUTHORIZE -5  2014 Unknown -5\n"
        "3001 CACHE_TOO_SMALL -5  3014 CACHE_NO_RESERVED_BLOCKS -5  3015 Unknown -5  6001 Unknown "
        "-5");
    int code, error, named = 0;
    for (std::string name; rows >> code >> name >> error; ++named) {
        AERROR v = static_cast<AERROR>(code);
        EXPECT_EQ(GetAERRORA(v) + std::to_string(ConvertAERROR(v)), name + std::to_string(error));
    }
    EXPECT_EQ(named, 21);
}
