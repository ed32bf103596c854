// Local date and time as calendar fields and as seconds since
// 2000-01-01 00:00:00 (local wall-clock time, no time zone).
#pragma once

#include <cstdint>

struct DateTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t totalSeconds;
};

extern const int32_t gYear4DayCnt[4];
extern const int32_t gMonDayCnt[13];

// 1, or 0 when month is outside 1..12: then totalSeconds is left as it was.
int CalDateTimeFromTimeToVar(DateTime* dt);
void CalDateTimeFromVarToTime(DateTime* dt);
void DateTimeGetNow(DateTime* dt);
void DateTimeAddSecond(int32_t seconds, DateTime* dt);
void DateTimeCopy(const DateTime* source, DateTime* destination);
