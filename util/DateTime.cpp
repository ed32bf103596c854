// Calendar date-time on a count of seconds since 2000-01-01 00:00:00.
//
// Years are grouped in four-year blocks that start with the leap year (2000,
// 2004, ...). Between 1901 and 2099 every fourth year is a leap year, which
// covers the whole range a signed 32-bit count of seconds can reach from 2000.
#include "util/DateTime.h"

#include "platform/System.h"

const int32_t gYear4DayCnt[4] = {0, 366, 731, 1096};
const int32_t gMonDayCnt[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

namespace {

constexpr int32_t kDaysPerBlock = 1461;
constexpr int32_t kSecondsPerDay = 86400;

// Floor division and its non-negative remainder, so that counts before 2000
// still land on the right day and second instead of mirroring around zero.
int32_t FloorDiv(int32_t a, int32_t b) {
    int32_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

int32_t FloorMod(int32_t a, int32_t b) {
    int32_t r = a % b;
    if (r != 0 && ((r < 0) != (b < 0))) {
        r += b;
    }
    return r;
}

} // namespace

int CalDateTimeFromTimeToVar(DateTime* dt) {
    // No month to look up: the record is no date, and any count would be a
    // made-up one, so it keeps the count it has.
    if (dt->month < 1 || dt->month > 12) {
        return 0;
    }
    const int32_t y = dt->year - 2000;
    // An arithmetic shift rounds towards minus infinity and the low two bits are
    // the position in the block, so years before 2000 need no special case.
    const int32_t block = y >> 2;
    const int32_t index = y & 3;

    int64_t days = int64_t{block} * kDaysPerBlock + gYear4DayCnt[index];
    days += gMonDayCnt[dt->month - 1] + dt->day - 1;
    if (dt->month > 2 && index == 0) {
        days += 1;
    }
    // Worked in 64 bits so that fields outside the representable range wrap
    // instead of overflowing; every real date in range fits exactly.
    const int64_t seconds = ((days * 24 + dt->hour) * 60 + dt->minute) * 60 + dt->second;
    dt->totalSeconds = static_cast<int32_t>(seconds);
    return 1;
}

void CalDateTimeFromVarToTime(DateTime* dt) {
    const int32_t total = dt->totalSeconds;
    const int32_t secondOfDay = FloorMod(total, kSecondsPerDay);
    dt->second = secondOfDay % 60;
    dt->minute = (secondOfDay % 3600) / 60;
    dt->hour = secondOfDay / 3600;

    const int32_t days = FloorDiv(total, kSecondsPerDay);
    const int32_t block = FloorDiv(days, kDaysPerBlock);
    const int32_t r = FloorMod(days, kDaysPerBlock);

    int32_t index = 3;
    while (r < gYear4DayCnt[index]) {
        --index;
    }
    dt->year = 2000 + 4 * block + index;

    const int32_t dayOfYear = r - gYear4DayCnt[index];
    const bool leap = (index == 0);
    int32_t month = 12;
    int32_t start = 0;
    for (; month >= 1; --month) {
        start = gMonDayCnt[month - 1] + ((leap && month >= 3) ? 1 : 0);
        if (dayOfYear >= start) {
            break;
        }
    }
    dt->month = month;
    dt->day = dayOfYear - start + 1;
}

void DateTimeGetNow(DateTime* dt) {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    GetSystemTime(&hours, &minutes, &seconds);
    int month = 0;
    int day = 0;
    int year = 0;
    GetSystemDate(&month, &day, &year);

    dt->hour = hours;
    dt->minute = minutes;
    dt->second = seconds;
    dt->month = month;
    dt->day = day;
    dt->year = year;
    CalDateTimeFromTimeToVar(dt);
}

void DateTimeAddSecond(int32_t seconds, DateTime* dt) {
    // A sum past the 32-bit range wraps rather than being undefined.
    dt->totalSeconds = static_cast<int32_t>(int64_t{dt->totalSeconds} + seconds);
    CalDateTimeFromVarToTime(dt);
}

void DateTimeCopy(const DateTime* source, DateTime* destination) {
    if (source == destination) {
        return;
    }
    *destination = *source;
}
