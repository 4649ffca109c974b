#pragma once
// Recorder time and shown time.
//
// Every time the recorder sends is its own local time. The client shows it
// moved by the recorder's time-zone offset and, inside the daylight-saving
// period, by the daylight bias; times the user picks go back the other way
// before they are sent. TimeManager holds the rules of packet 135 and does
// both conversions. The client view keeps one and the event manager a copy;
// copy the whole object to hand the rules on.
//
// Inside one year moments are compared by an hour index,
// month * 744 + day * 24 + hour (744 = 31 * 24: every month is given 31 days
// of hours, so the index grows with time within a year). The comparisons are
// made on unsigned 32-bit values.
//
// Plain data, no locks: use one object from one thread at a time.

#include <cstdint>

namespace packets {
struct TimeZoneRules;
}

// A calendar time, proleptic Gregorian, no time zone. weekday: 0 = Sunday.
// Conversions fill in weekday and valid; a time built by hand only needs the
// first six fields (valid defaults to true).
struct CalendarTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;
    bool valid = true;
};

// 100-nanosecond units since 0001-01-01 00:00:00. Signed: the valid years
// -29000 ... 29000 lie within about +-9.15e18 of that epoch.
using TimeCount = std::int64_t;

namespace recorder_time {

constexpr int kMinYear = -29000;
constexpr int kMaxYear = 29000;
constexpr TimeCount kUnitsPerSecond = 10'000'000;
constexpr TimeCount kUnitsPerMinute = 60 * kUnitsPerSecond;

// Calendar time to count. Fails (false, *out untouched) when t is marked
// invalid, its year is outside kMinYear ... kMaxYear or its month outside
// 1 ... 12. Day, hour, minute and second are not range-checked: they count
// on from the start of the month (day 0 is the last day of the month before,
// minute 90 is 01:30), as the arithmetic needs.
bool ToCount(const CalendarTime& t, TimeCount* out);

// Count to calendar time with its weekday; invalid when the year falls
// outside kMinYear ... kMaxYear.
CalendarTime FromCount(TimeCount count);

// The same moment with weekday filled in and fields carried into range
// (seconds into minutes and so on); invalid when ToCount fails.
CalendarTime Normalized(const CalendarTime& t);

// t plus minutes (negative subtracts). An invalid time stays invalid, and so
// does a result outside the valid years.
CalendarTime AddMinutes(const CalendarTime& t, std::int64_t minutes);

// month * 744 + day * 24 + hour, as the rules compare it.
std::uint32_t HourIndex(const CalendarTime& t);

int DaysInMonth(int year, int month);

}  // namespace recorder_time

class TimeManager {
public:
    // The rules in force, field for field as the client has always kept them.
    struct Rules {
        std::int32_t offsetMinutes = 0;  // added to recorder time; negative allowed
        std::uint16_t endMonth = 0;      // 1 ... 12; 0 = no rule
        std::uint16_t endWeek = 0;       // 0 = fixed date, 1 ... 4 = n-th, 5 = last
        std::uint16_t endWeekday = 0;    // 0 = Sunday ... 6 = Saturday
        std::uint16_t endDay = 0;        // day of month when the rule is a fixed date
        std::uint16_t endHour = 0;       // in daylight time
        std::uint16_t startMonth = 0;    // 0 = no rule
        std::uint16_t startWeek = 0;
        std::uint16_t startWeekday = 0;
        std::uint16_t startDay = 0;
        std::uint16_t startHour = 0;   // in standard time
        std::int32_t biasMinutes = 0;  // daylight shift
        std::uint32_t dstEnabled = 0;  // 1 = daylight rules in force
    };

    struct Shown {
        CalendarTime time;
        bool daylight = false;  // the daylight bias was applied
    };

    // Takes the rules of packet 135. A packet whose validity word is not 1 is
    // ignored and false returned; the caller answers only accepted packets.
    // The offset and the enabled flag are always taken. The remaining fields
    // are replaced only when endMonth >= startMonth; otherwise they keep
    // their earlier values (a period across the new year must still arrive
    // with endMonth >= startMonth).
    bool SetRules(const packets::TimeZoneRules& packet);
    const Rules& rules() const { return m_rules; }

    // Recorder time to shown time: offset, then the bias when the moment
    // falls in the daylight period. Invalid in, invalid out.
    Shown ToShown(const CalendarTime& recorderTime) const;

    // Shown time back to recorder time. preferDaylight picks the reading of
    // the hour that is shown twice when daylight saving ends: true the first
    // (daylight) one, false the second (standard) one.
    CalendarTime ToRecorder(const CalendarTime& shownTime, bool preferDaylight) const;

    // True when shownTime lies in the hour that is shown twice at the end of
    // daylight saving (the hour before the end moment).
    bool IsRepeatedHour(const CalendarTime& shownTime) const;

    // Day of the month of the n-th (1 ... 4) or last (5) `weekday` of the
    // month; 0 on failure: year <= 1970, month outside 1 ... 12, n outside
    // 1 ... 5 or weekday > 6.
    static int NthWeekday(int year, int month, int n, int weekday);

    // Where the daylight period of `year` lies: 1 inside the year (start
    // before end), 0 across its end (start after end), 2 when no period can
    // be told (equal, or a weekday rule failed for that year). This test
    // weighs months as 720 hours.
    int YearOrder(int year) const;

private:
    struct Period {
        std::uint32_t start = 0;
        std::uint32_t end = 0;
    };
    bool DaylightRulesActive() const;
    // Start and end days of the year's period; a failed weekday rule gives 0.
    int StartDay(int year) const;
    int EndDay(int year) const;
    Period PeriodOf(int year) const;

    Rules m_rules;
};
