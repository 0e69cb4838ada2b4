// Timers. Nothing here waits for real time: a timer is back-dated instead,
// and a result is checked against bounds read from the clock around the call.
#include "common/chrono.h"

#include <gtest/gtest.h>

#include <climits>
#include <regex>
#include <string>

#include "common/chronolog.h"
#include "common/logstate.h"
#include "support/host_doubles.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

long long WholeMs(Clock::duration d) {
    return std::chrono::duration_cast<milliseconds>(d).count();
}

template <typename Base>
struct Backdated : Base {
    using Base::Base;
    void StartedAgo(Clock::duration d) { this->start = Clock::now() - d; }
    Clock::time_point Started() const { return this->start; }
};

// Checks one elapsed() call against whole milliseconds measured around it.
template <typename Timer>
void ExpectTruncatedElapsed(Timer& timer) {
    Clock::time_point before = Clock::now();
    long long ms = timer.elapsed();
    Clock::time_point after = Clock::now();
    EXPECT_GE(ms, WholeMs(before - timer.Started()));
    EXPECT_LE(ms, WholeMs(after - timer.Started()));
}

TEST(Chrono, ElapsedIsWholeMillisecondsTruncated) {
    Backdated<Chrono> timer;
    // 1.6 ms: rounding would give 2, truncation 1.
    timer.StartedAgo(microseconds(1600));
    ExpectTruncatedElapsed(timer);
    timer.StartedAgo(microseconds(900));
    ExpectTruncatedElapsed(timer);
    timer.StartedAgo(milliseconds(250) + microseconds(700));
    ExpectTruncatedElapsed(timer);
}

TEST(Chrono, ResetStartsAgainFromNow) {
    Backdated<Chrono> timer;
    timer.StartedAgo(std::chrono::seconds(30));
    EXPECT_GE(timer.elapsed(), 30000);
    Clock::time_point before = Clock::now();
    timer.reset();
    EXPECT_GE(timer.Started(), before);
    ExpectTruncatedElapsed(timer);
    EXPECT_LT(timer.elapsed(), 30000);
}

TEST(CheckInterval, WithoutCheckpointEveryIntervalHasPassed) {
    CheckInterval interval;
    EXPECT_TRUE(interval.IsPassed(0));
    EXPECT_TRUE(interval.IsPassed(1));
    EXPECT_TRUE(interval.IsPassed(LLONG_MAX));
}

TEST(CheckInterval, AfterCheckpointTheIntervalIsMeasuredInclusively) {
    Backdated<CheckInterval> interval;
    interval.SetCheckPoint();
    EXPECT_TRUE(interval.IsPassed(0)) << "an interval that has exactly elapsed has passed";
    EXPECT_TRUE(interval.IsPassed(-1));
    EXPECT_FALSE(interval.IsPassed(LLONG_MAX));

    interval.StartedAgo(std::chrono::seconds(10));
    EXPECT_TRUE(interval.IsPassed(5000));
    EXPECT_TRUE(interval.IsPassed(10000));
    EXPECT_FALSE(interval.IsPassed(60000));
}

TEST(CheckInterval, SecondCheckpointRestartsTheInterval) {
    Backdated<CheckInterval> interval;
    interval.SetCheckPoint();
    interval.StartedAgo(std::chrono::seconds(10));
    ASSERT_TRUE(interval.IsPassed(5000));
    interval.SetCheckPoint();
    EXPECT_FALSE(interval.IsPassed(5000));
    EXPECT_TRUE(interval.IsPassed(0));
}

class ChronoLogTest : public ::testing::Test {
protected:
    void SetUp() override { logger.store(&recorder); }
    void TearDown() override { logger.store(nullptr); }
    RecordingLogger recorder;
};

TEST_F(ChronoLogTest, LogsNameAndTruncatedMillisecondsAtInfoProtocol) {
    Clock::time_point started, before, after;
    {
        Backdated<ChronoLog> timer("Read");
        timer.StartedAgo(milliseconds(250) + microseconds(600));
        started = timer.Started();
        before = Clock::now();
    }
    after = Clock::now();

    std::vector<LogLine> lines = recorder.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1026);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0].text, match, std::regex("Read : (\\d+)ms")))
        << lines[0].text;
    long long ms = std::stoll(match[1]);
    EXPECT_GE(ms, WholeMs(before - started));
    EXPECT_LE(ms, WholeMs(after - started));
}

TEST_F(ChronoLogTest, NameIsPassedAsAnArgumentNotAsAFormat) {
    { ChronoLog timer("100%s %d"); }
    std::vector<LogLine> lines = recorder.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.rfind("100%s %d : ", 0), 0u) << lines[0].text;
}

TEST_F(ChronoLogTest, SilentWithoutLogger) {
    logger.store(nullptr);
    { ChronoLog timer("quiet"); }
    EXPECT_TRUE(recorder.Lines().empty());
}

TEST(LogCall, ForwardsLevelFormatAndArgumentsUnchanged) {
    RecordingLogger recorder;
    __LOG__A(&recorder, LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , exec error: [%d]", "Delete", "/a",
             404);
    __LOG__A(&recorder, LOG_TRACE | LOG_TRANSFER, "%lld", 1LL << 40);
    std::vector<LogLine> lines = recorder.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, 1032);
    EXPECT_EQ(lines[0].text, "Delete id: [/a] , exec error: [404]");
    EXPECT_EQ(lines[1].level, 8193);
    EXPECT_EQ(lines[1].text, "1099511627776");
}

}  // namespace
