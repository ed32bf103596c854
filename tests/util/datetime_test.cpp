// Calendar conversions checked against fixed dates and against the C library's
// own UTC calendar (timegm / gmtime_r), which shares no code with ours.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>

#include "util/DateTime.h"

namespace {

constexpr int64_t kEpoch2000 = 946684800; // 2000-01-01 00:00:00 as a Unix time

DateTime Make(int year, int month, int day, int hour, int minute, int second) {
    return DateTime{year, month, day, hour, minute, second, 0};
}

// Seconds since 2000 from the C library, for fields taken as UTC.
int64_t ReferenceCount(const DateTime& dt) {
    std::tm tm{};
    tm.tm_year = dt.year - 1900;
    tm.tm_mon = dt.month - 1;
    tm.tm_mday = dt.day;
    tm.tm_hour = dt.hour;
    tm.tm_min = dt.minute;
    tm.tm_sec = dt.second;
    return static_cast<int64_t>(timegm(&tm)) - kEpoch2000;
}

DateTime ReferenceFields(int32_t count) {
    const std::time_t t = static_cast<std::time_t>(kEpoch2000 + count);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return Make(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void ExpectFields(const DateTime& expected, const DateTime& actual, int64_t count) {
    EXPECT_EQ(expected.year, actual.year) << "count " << count;
    EXPECT_EQ(expected.month, actual.month) << "count " << count;
    EXPECT_EQ(expected.day, actual.day) << "count " << count;
    EXPECT_EQ(expected.hour, actual.hour) << "count " << count;
    EXPECT_EQ(expected.minute, actual.minute) << "count " << count;
    EXPECT_EQ(expected.second, actual.second) << "count " << count;
}

struct KnownDate {
    DateTime fields;
    int32_t count;
    bool countToFields; // the count direction is only promised from 2000 on
};

} // namespace

TEST(DateTime, KnownDatesConvertBothWays) {
    const KnownDate cases[] = {
        {Make(2000, 1, 1, 0, 0, 0), 0, true},
        {Make(2000, 2, 29, 0, 0, 0), 5097600, true},
        {Make(2000, 3, 1, 0, 0, 0), 5184000, true},
        {Make(2000, 12, 31, 23, 59, 59), 31622399, true},
        {Make(2001, 1, 1, 0, 0, 0), 31622400, true},
        {Make(2003, 12, 31, 0, 0, 0), 126144000, true},
        {Make(2004, 1, 1, 0, 0, 0), 126230400, true},
        {Make(2024, 3, 1, 12, 34, 56), 762611696, true},
        {Make(2068, 1, 19, 3, 14, 7), std::numeric_limits<int32_t>::max(), true},
        {Make(1999, 12, 31, 23, 59, 59), -1, false},
        {Make(1931, 12, 13, 20, 45, 52), std::numeric_limits<int32_t>::min(), false},
    };
    for (const KnownDate& c : cases) {
        DateTime dt = c.fields;
        dt.totalSeconds = 12345; // must be overwritten
        CalDateTimeFromTimeToVar(&dt);
        EXPECT_EQ(c.count, dt.totalSeconds)
            << c.fields.year << "-" << c.fields.month << "-" << c.fields.day;

        if (c.countToFields) {
            DateTime back{-1, -1, -1, -1, -1, -1, c.count};
            CalDateTimeFromVarToTime(&back);
            ExpectFields(c.fields, back, c.count);
            EXPECT_EQ(c.count, back.totalSeconds);
        }
    }
}

TEST(DateTime, FirstAndLastDayOfEveryYearAndMonthStart) {
    // Each year's first and last day, and the first of every month, exercise
    // the block index and the month search at their boundaries.
    for (int year = 2000; year <= 2067; ++year) {
        for (int month = 1; month <= 12; ++month) {
            DateTime first = Make(year, month, 1, 0, 0, 0);
            CalDateTimeFromTimeToVar(&first);
            ASSERT_EQ(ReferenceCount(first), first.totalSeconds) << year << "-" << month;

            DateTime lastSecondBefore{0, 0, 0, 0, 0, 0, first.totalSeconds - 1};
            if (first.totalSeconds > 0) {
                CalDateTimeFromVarToTime(&lastSecondBefore);
                ExpectFields(ReferenceFields(first.totalSeconds - 1), lastSecondBefore,
                             first.totalSeconds - 1);
            }
            DateTime back{0, 0, 0, 0, 0, 0, first.totalSeconds};
            CalDateTimeFromVarToTime(&back);
            ExpectFields(Make(year, month, 1, 0, 0, 0), back, first.totalSeconds);
        }
    }
}

TEST(DateTime, RandomCountsAgreeWithCLibrary) {
    std::mt19937 rng(20240301);
    std::uniform_int_distribution<int32_t> positive(0, std::numeric_limits<int32_t>::max());
    for (int i = 0; i < 200000; ++i) {
        const int32_t count = positive(rng);
        DateTime dt{0, 0, 0, 0, 0, 0, count};
        CalDateTimeFromVarToTime(&dt);
        const DateTime expected = ReferenceFields(count);
        ExpectFields(expected, dt, count);

        DateTime again = expected;
        CalDateTimeFromTimeToVar(&again);
        ASSERT_EQ(count, again.totalSeconds);
        if (HasFailure()) {
            return;
        }
    }
}

TEST(DateTime, RandomDatesBefore2000AgreeWithCLibrary) {
    // The fields-to-count direction also covers 1931-12-13 .. 1999-12-31.
    std::mt19937 rng(1931);
    std::uniform_int_distribution<int32_t> negative(std::numeric_limits<int32_t>::min(), -1);
    for (int i = 0; i < 100000; ++i) {
        const int32_t count = negative(rng);
        DateTime dt = ReferenceFields(count);
        CalDateTimeFromTimeToVar(&dt);
        ASSERT_EQ(count, dt.totalSeconds);

        // Our choice for counts before 2000: they convert back to the real date.
        DateTime back{0, 0, 0, 0, 0, 0, count};
        CalDateTimeFromVarToTime(&back);
        ExpectFields(ReferenceFields(count), back, count);
        if (HasFailure()) {
            return;
        }
    }
}

TEST(DateTime, AddSecondCrossesLeapDayAndMonthEnd) {
    DateTime dt = Make(2000, 2, 28, 12, 0, 0);
    CalDateTimeFromTimeToVar(&dt);

    DateTimeAddSecond(86400, &dt);
    ExpectFields(Make(2000, 2, 29, 12, 0, 0), dt, dt.totalSeconds);
    EXPECT_EQ(5097600 + 12 * 3600, dt.totalSeconds);

    DateTimeAddSecond(86400, &dt);
    ExpectFields(Make(2000, 3, 1, 12, 0, 0), dt, dt.totalSeconds);

    // A common year has no 29 February.
    DateTime common = Make(2001, 2, 28, 23, 59, 59);
    CalDateTimeFromTimeToVar(&common);
    DateTimeAddSecond(1, &common);
    ExpectFields(Make(2001, 3, 1, 0, 0, 0), common, common.totalSeconds);

    DateTimeAddSecond(-1, &common);
    ExpectFields(Make(2001, 2, 28, 23, 59, 59), common, common.totalSeconds);
}

// A month outside 1..12 indexes no table and invents no date: the count stays.
TEST(DateTime, MonthOutsideTheYearLeavesTheCount) {
    for (int32_t month :
         {0, 13, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        DateTime dt = Make(2024, 1, 1, 0, 0, 0);
        dt.month = month;
        dt.totalSeconds = 12345;
        EXPECT_EQ(0, CalDateTimeFromTimeToVar(&dt)) << month;
        EXPECT_EQ(12345, dt.totalSeconds) << month;
    }
    DateTime december = Make(2024, 12, 31, 0, 0, 0);
    EXPECT_EQ(1, CalDateTimeFromTimeToVar(&december));
}

TEST(DateTime, CopyTakesAllSevenFieldsAndToleratesSelf) {
    const DateTime source{2024, 3, 1, 12, 34, 56, 762611696};
    DateTime destination{1, 2, 3, 4, 5, 6, 7};
    DateTimeCopy(&source, &destination);
    EXPECT_EQ(0, std::memcmp(&source, &destination, sizeof(DateTime)));

    DateTime same{2068, 1, 19, 3, 14, 7, std::numeric_limits<int32_t>::max()};
    const DateTime before = same;
    DateTimeCopy(&same, &same);
    EXPECT_EQ(0, std::memcmp(&before, &same, sizeof(DateTime)));
}

TEST(DateTime, GetNowMatchesLocalClock) {
    // Read the local clock on both sides of the call; if the second did not
    // change in between, the record must show exactly that moment.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        DateTime dt{};
        DateTimeGetNow(&dt);
        const std::time_t after = std::time(nullptr);
        if (before != after) {
            continue;
        }
        std::tm local{};
        localtime_r(&before, &local);
        const DateTime expected = Make(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                       local.tm_hour, local.tm_min, local.tm_sec);
        ExpectFields(expected, dt, dt.totalSeconds);
        EXPECT_EQ(ReferenceCount(expected), dt.totalSeconds);
        return;
    }
    FAIL() << "the clock changed second during every attempt";
}
