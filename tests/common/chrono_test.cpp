#include "common/chrono.h"

#include <gtest/gtest.h>

#include <climits>

TEST(Timers, IntervalPassesWithoutCheckpointAndOnceExactlyElapsed) {
    CheckInterval interval;
    EXPECT_TRUE(interval.IsPassed(LLONG_MAX));
    interval.SetCheckPoint();
    EXPECT_TRUE(interval.IsPassed(0) && !interval.IsPassed(LLONG_MAX));
}
