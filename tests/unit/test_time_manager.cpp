// Recorder time: the calendar arithmetic under it, the rules of packet 135,
// and both conversions around the daylight-saving changes.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "media/time_manager.h"
#include "protocol/packets.h"

namespace rt = recorder_time;

namespace {

CalendarTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return CalendarTime{y, mo, d, h, mi, s};
}

std::string Text(const CalendarTime& t) {
    if (!t.valid) {
        return "invalid";
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

// Packets as the recorder sends them. Weekday rules: week 1..4 or 5 = last.
packets::TimeZoneRules WeekdayRules(int startMonth, int startWeek, int startWeekday, int startHour,
                                    int endMonth, int endWeek, int endWeekday, int endHour,
                                    int bias = 60, int offset = 0) {
    packets::TimeZoneRules p;
    p.validity = 1;
    p.startMonth = static_cast<std::uint8_t>(startMonth);
    p.startHour = static_cast<std::uint8_t>(startHour);
    p.endMonth = static_cast<std::uint8_t>(endMonth);
    p.endHour = static_cast<std::uint8_t>(endHour);
    p.dstOn = 1;
    p.dstBiasMinutes = static_cast<std::uint8_t>(bias);
    p.offsetMinutes = offset;
    p.startWeek = static_cast<std::uint8_t>(startWeek);
    p.startWeekday = static_cast<std::uint8_t>(startWeekday);
    p.endWeek = static_cast<std::uint8_t>(endWeek);
    p.endWeekday = static_cast<std::uint8_t>(endWeekday);
    return p;
}

packets::TimeZoneRules FixedRules(int startMonth, int startDay, int startHour, int endMonth,
                                  int endDay, int endHour, int bias = 60, int offset = 0) {
    packets::TimeZoneRules p =
        WeekdayRules(startMonth, 0, 0, startHour, endMonth, 0, 0, endHour, bias, offset);
    p.startDay = static_cast<std::uint8_t>(startDay);
    p.endDay = static_cast<std::uint8_t>(endDay);
    return p;
}

packets::TimeZoneRules OffsetOnly(int offset) {
    packets::TimeZoneRules p;
    p.validity = 1;
    p.offsetMinutes = offset;
    return p;
}

// Third Sunday of March 02:00 to first Sunday of November 02:00, one hour.
packets::TimeZoneRules NorthAmerica(int offset = 0) {
    return WeekdayRules(3, 3, 0, 2, 11, 1, 0, 2, 60, offset);
}
// Last Sunday of March 01:00 to last Sunday of October 02:00.
packets::TimeZoneRules LastSundays() {
    return WeekdayRules(3, 5, 0, 1, 10, 5, 0, 2);
}

TimeManager With(const packets::TimeZoneRules& p) {
    TimeManager tm;
    EXPECT_TRUE(tm.SetRules(p));
    return tm;
}

}  // namespace

// --- calendar arithmetic -------------------------------------------------------

TEST(RecorderCalendar, CountsFromTheFirstDayOfYearOne) {
    TimeCount c = -1;
    ASSERT_TRUE(rt::ToCount(At(1, 1, 1), &c));
    EXPECT_EQ(c, 0);
    ASSERT_TRUE(rt::ToCount(At(1, 1, 2, 0, 0, 1), &c));
    EXPECT_EQ(c, 86'401 * rt::kUnitsPerSecond);
    ASSERT_TRUE(rt::ToCount(At(1970, 1, 1), &c));
    EXPECT_EQ(c, 719'162LL * 86'400 * rt::kUnitsPerSecond);
    ASSERT_TRUE(rt::ToCount(At(0, 12, 31, 23, 59, 59), &c));
    EXPECT_EQ(c, -rt::kUnitsPerSecond);
}

TEST(RecorderCalendar, WeekdaysAndRoundTrips) {
    struct Case {
        CalendarTime t;
        int weekday;
    };
    const Case cases[] = {
        {At(1, 1, 1), 1},                // the epoch, a Monday
        {At(1970, 1, 1), 4},             // Thursday
        {At(1900, 1, 1), 1},             // 1900 is no leap year
        {At(2000, 2, 29, 12, 0, 0), 2},  // 2000 is one
        {At(2009, 3, 15, 2), 0},         // the days of the rule examples
        {At(2009, 11, 1, 1, 59, 59), 0},
        {At(2024, 2, 29), 4},
        {At(0, 2, 29), 2},  // year 0 is a leap year (proleptic)
        {At(-1, 12, 31, 23, 59, 59), 5},
        {At(-29000, 1, 1), -1},  // limits of the valid range
        {At(29000, 12, 31, 23, 59, 59), -1},
    };
    for (const Case& c : cases) {
        TimeCount count = 0;
        ASSERT_TRUE(rt::ToCount(c.t, &count)) << Text(c.t);
        const CalendarTime back = rt::FromCount(count);
        EXPECT_EQ(Text(back), Text(c.t));
        if (c.weekday >= 0) {
            EXPECT_EQ(back.weekday, c.weekday) << Text(c.t);
        }
    }
}

TEST(RecorderCalendar, YearAndMonthOutsideTheRangeAreInvalid) {
    const CalendarTime bad[] = {At(29001, 1, 1), At(-29001, 12, 31), At(2009, 0, 1),
                                At(2009, 13, 1), At(2009, -1, 1)};
    for (const CalendarTime& t : bad) {
        TimeCount c = 42;
        EXPECT_FALSE(rt::ToCount(t, &c)) << t.year << "-" << t.month;
        EXPECT_EQ(c, 42);
        EXPECT_FALSE(rt::Normalized(t).valid);
    }
    // Days, hours and minutes carry past the end of the valid range.
    EXPECT_FALSE(rt::Normalized(At(29000, 12, 32)).valid);
    EXPECT_FALSE(rt::Normalized(At(-29000, 1, 1, 0, 0, -1)).valid);
}

TEST(RecorderCalendar, FieldsCarryIntoRange) {
    struct Case {
        CalendarTime in;
        const char* out;
    };
    const Case cases[] = {
        {At(2009, 3, 0), "2009-02-28 00:00:00"},
        {At(2008, 3, 0), "2008-02-29 00:00:00"},
        {At(2100, 2, 29), "2100-03-01 00:00:00"},
        {At(2009, 12, 31, 23, 59, 60), "2010-01-01 00:00:00"},
        {At(2009, 1, 1, 0, -1), "2008-12-31 23:59:00"},
        {At(2009, 6, 1, 0, 90), "2009-06-01 01:30:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(rt::Normalized(c.in)), c.out);
    }
}

TEST(RecorderCalendar, AddingMinutes) {
    EXPECT_EQ(Text(rt::AddMinutes(At(2009, 12, 31, 23, 30), 45)), "2010-01-01 00:15:00");
    EXPECT_EQ(Text(rt::AddMinutes(At(2009, 3, 1, 0, 30), -45)), "2009-02-28 23:45:00");
    EXPECT_EQ(Text(rt::AddMinutes(At(2012, 2, 28, 12), 24 * 60)), "2012-02-29 12:00:00");
    EXPECT_EQ(rt::AddMinutes(At(2009, 3, 10), 0).weekday, 2);

    // Past the end of the range, and absurd amounts, give an invalid time ...
    EXPECT_FALSE(rt::AddMinutes(At(29000, 12, 31, 23, 30), 30).valid);
    EXPECT_FALSE(rt::AddMinutes(At(-29000, 1, 1, 0, 0), -1).valid);
    EXPECT_FALSE(rt::AddMinutes(At(2009, 1, 1), INT64_MAX).valid);
    EXPECT_FALSE(rt::AddMinutes(At(2009, 1, 1), INT64_MIN).valid);
    // ... which stays invalid even when a later addition would bring it back.
    const CalendarTime over = rt::AddMinutes(At(29000, 12, 31, 23, 30), 30);
    EXPECT_FALSE(rt::AddMinutes(over, -60).valid);
}

TEST(RecorderCalendar, DaysInMonth) {
    EXPECT_EQ(rt::DaysInMonth(2009, 2), 28);
    EXPECT_EQ(rt::DaysInMonth(2008, 2), 29);
    EXPECT_EQ(rt::DaysInMonth(1900, 2), 28);
    EXPECT_EQ(rt::DaysInMonth(2000, 2), 29);
    EXPECT_EQ(rt::DaysInMonth(2009, 4), 30);
    EXPECT_EQ(rt::DaysInMonth(2009, 12), 31);
    EXPECT_EQ(rt::DaysInMonth(2009, 13), 0);
}

// --- rule helpers ----------------------------------------------------------------

TEST(TimeManagerRules, NthWeekday) {
    struct Case {
        int year, month, n, weekday, day;
    };
    const Case cases[] = {
        {2009, 2, 5, 0, 22},                       // no fifth Sunday in February 2009: the fourth
        {2009, 3, 3, 0, 15},                       // March 2009 starts on a Sunday
        {2009, 3, 1, 0, 1},  {2009, 3, 5, 0, 29},  // a real fifth
        {2009, 11, 1, 0, 1}, {2009, 10, 5, 0, 25}, {2009, 3, 1, 6, 7},  // first Saturday
        {2012, 2, 5, 3, 29},                      // fifth Wednesday only in the leap year
        {2011, 2, 5, 3, 23}, {1971, 1, 1, 0, 3},  // the first year allowed
        {1970, 3, 1, 0, 0},                       // failures: years up to 1970 ...
        {1900, 3, 1, 0, 0},  {2009, 0, 1, 0, 0},  // ... month, n and weekday out of range
        {2009, 13, 1, 0, 0}, {2009, 3, 0, 0, 0},   {2009, 3, 6, 0, 0},
        {2009, 3, 1, 7, 0},  {2009, 3, 1, -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeManager::NthWeekday(c.year, c.month, c.n, c.weekday), c.day)
            << c.year << "-" << c.month << " n=" << c.n << " wd=" << c.weekday;
    }
}

TEST(TimeManagerRules, YearOrder) {
    struct Case {
        const char* what;
        packets::TimeZoneRules rules;
        int year;
        int order;
    };
    const Case cases[] = {
        {"weekday rules, northern", NorthAmerica(), 2009, 1},
        {"last-weekday rules, northern", LastSundays(), 2010, 1},
        {"fixed dates, northern", FixedRules(4, 1, 2, 10, 1, 2), 2009, 1},
        {"fixed dates across the new year (same month)", FixedRules(10, 25, 2, 10, 5, 2), 2009, 0},
        {"weekday rules across the new year", WeekdayRules(4, 5, 0, 2, 4, 1, 0, 2), 2009, 0},
        {"start equals end", FixedRules(4, 1, 2, 4, 1, 2), 2009, 2},
        {"weekday rules before 1971", NorthAmerica(), 1970, 2},
        {"fixed dates ignore the year", FixedRules(4, 1, 2, 10, 1, 2), 1960, 1},
        {"failed end rule", WeekdayRules(3, 3, 0, 2, 11, 0, 0, 2), 2009, 2},
        // Months weigh 720 hours here: 31 March and 1 April come out equal ...
        {"31 March to 1 April, equal hours", FixedRules(3, 31, 2, 4, 1, 2), 2009, 2},
        // ... and a later hour on 31 March counts as after 1 April.
        {"31 March 03:00 to 1 April 02:00", FixedRules(3, 31, 3, 4, 1, 2), 2009, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(With(c.rules).YearOrder(c.year), c.order) << c.what;
    }
    EXPECT_EQ(TimeManager().YearOrder(2009), 2) << "no rules";
}

TEST(TimeManagerRules, SetRulesStoresThePacket) {
    TimeManager tm;
    EXPECT_EQ(tm.rules().offsetMinutes, 0);
    EXPECT_EQ(tm.rules().dstEnabled, 0u);

    packets::TimeZoneRules p = NorthAmerica(-300);
    p.dstOn = 7;  // any non-zero flag means on
    p.dstBiasMinutes = 30;
    ASSERT_TRUE(tm.SetRules(p));
    const TimeManager::Rules& r = tm.rules();
    EXPECT_EQ(r.offsetMinutes, -300);
    EXPECT_EQ(r.dstEnabled, 1u);
    EXPECT_EQ(r.biasMinutes, 30);
    EXPECT_EQ(r.startMonth, 3);
    EXPECT_EQ(r.startWeek, 3);
    EXPECT_EQ(r.startWeekday, 0);
    EXPECT_EQ(r.startHour, 2);
    EXPECT_EQ(r.endMonth, 11);
    EXPECT_EQ(r.endWeek, 1);
    EXPECT_EQ(r.endHour, 2);

    // End before start: only the offset and the flag are taken.
    packets::TimeZoneRules southern = FixedRules(10, 5, 2, 4, 1, 3, 45, 600);
    southern.dstOn = 0;
    ASSERT_TRUE(tm.SetRules(southern));
    EXPECT_EQ(tm.rules().offsetMinutes, 600);
    EXPECT_EQ(tm.rules().dstEnabled, 0u);
    EXPECT_EQ(tm.rules().startMonth, 3);
    EXPECT_EQ(tm.rules().endMonth, 11);
    EXPECT_EQ(tm.rules().biasMinutes, 30);
    EXPECT_EQ(tm.rules().startWeek, 3);

    // A packet with end >= start replaces everything, zeros included.
    ASSERT_TRUE(tm.SetRules(FixedRules(4, 1, 2, 10, 1, 2, 60, 0)));
    EXPECT_EQ(tm.rules().startWeek, 0);
    EXPECT_EQ(tm.rules().endWeek, 0);
    EXPECT_EQ(tm.rules().startDay, 1);
    EXPECT_EQ(tm.rules().offsetMinutes, 0);

    // A packet whose validity word is not 1 changes nothing.
    packets::TimeZoneRules ignored = OffsetOnly(120);
    ignored.validity = 2;
    EXPECT_FALSE(tm.SetRules(ignored));
    ignored.validity = 0;
    EXPECT_FALSE(tm.SetRules(ignored));
    EXPECT_EQ(tm.rules().offsetMinutes, 0);
    EXPECT_EQ(tm.rules().startMonth, 4);
}

// --- conversions -----------------------------------------------------------------

TEST(TimeManagerConvert, NoRulesLeavesTimesAlone) {
    const TimeManager tm;
    const TimeManager::Shown s = tm.ToShown(At(2009, 7, 1, 12));
    EXPECT_EQ(Text(s.time), "2009-07-01 12:00:00");
    EXPECT_FALSE(s.daylight);
    EXPECT_EQ(Text(tm.ToRecorder(At(2009, 7, 1, 12), true)), "2009-07-01 12:00:00");
    EXPECT_FALSE(tm.IsRepeatedHour(At(2009, 11, 1, 1)));
}

TEST(TimeManagerConvert, OffsetAlone) {
    struct Case {
        int offset;
        CalendarTime recorder;
        const char* shown;
    };
    const Case cases[] = {
        {540, At(2009, 3, 10, 20), "2009-03-11 05:00:00"},
        {-300, At(2009, 1, 1, 3, 15), "2008-12-31 22:15:00"},
        {-210, At(2009, 3, 1, 1), "2009-02-28 21:30:00"},
        {0, At(2009, 6, 1, 8, 7, 6), "2009-06-01 08:07:06"},
    };
    for (const Case& c : cases) {
        const TimeManager tm = With(OffsetOnly(c.offset));
        const TimeManager::Shown s = tm.ToShown(c.recorder);
        EXPECT_EQ(Text(s.time), c.shown) << c.offset;
        EXPECT_FALSE(s.daylight);
        EXPECT_EQ(Text(tm.ToRecorder(s.time, false)), Text(c.recorder)) << c.offset;
    }
}

TEST(TimeManagerConvert, RulesAreIgnoredWhenDisabledOrWithoutStartMonth) {
    packets::TimeZoneRules off = NorthAmerica(60);
    off.dstOn = 0;
    packets::TimeZoneRules noStart = NorthAmerica(60);
    noStart.startMonth = 0;
    for (const auto& p : {off, noStart}) {
        const TimeManager tm = With(p);
        const TimeManager::Shown s = tm.ToShown(At(2009, 7, 1, 12));
        EXPECT_EQ(Text(s.time), "2009-07-01 13:00:00");
        EXPECT_FALSE(s.daylight);
        EXPECT_EQ(Text(tm.ToRecorder(At(2009, 7, 1, 13), true)), "2009-07-01 12:00:00");
        EXPECT_FALSE(tm.IsRepeatedHour(At(2009, 11, 1, 1)));
    }
}

TEST(TimeManagerConvert, InvalidStaysInvalid) {
    const TimeManager tm = With(NorthAmerica(540));
    EXPECT_FALSE(tm.ToShown(At(2009, 13, 1)).time.valid);
    EXPECT_FALSE(tm.ToShown(At(2009, 13, 1)).daylight);
    EXPECT_FALSE(tm.ToShown(At(29000, 12, 31, 20)).time.valid);  // offset runs past the range
    CalendarTime marked = At(2009, 7, 1);
    marked.valid = false;
    EXPECT_FALSE(tm.ToShown(marked).time.valid);
    EXPECT_FALSE(tm.ToRecorder(marked, false).valid);
    EXPECT_FALSE(tm.ToRecorder(At(-29000, 1, 1), false).valid);
    EXPECT_FALSE(tm.IsRepeatedHour(marked));
}

struct ShownCase {
    CalendarTime recorder;
    const char* shown;
    bool daylight;
};

void ExpectShown(const TimeManager& tm, const ShownCase* begin, const ShownCase* end,
                 const char* rules) {
    for (const ShownCase* c = begin; c != end; ++c) {
        const TimeManager::Shown s = tm.ToShown(c->recorder);
        EXPECT_EQ(Text(s.time), c->shown) << rules << ", recorder " << Text(c->recorder);
        EXPECT_EQ(s.daylight, c->daylight) << rules << ", recorder " << Text(c->recorder);
    }
}

TEST(TimeManagerConvert, NorthernWeekdayRules) {
    const ShownCase cases[] = {
        {At(2009, 1, 15, 12), "2009-01-15 12:00:00", false},
        {At(2009, 3, 14, 2), "2009-03-14 02:00:00", false},
        {At(2009, 3, 15, 1, 59), "2009-03-15 01:59:00", false},
        {At(2009, 3, 15, 2), "2009-03-15 03:00:00", true},  // the start hour
        {At(2009, 7, 1, 23, 30), "2009-07-02 00:30:00", true},
        {At(2009, 10, 31, 23, 59), "2009-11-01 00:59:00", true},
        {At(2009, 11, 1, 0, 59), "2009-11-01 01:59:00", true},
        {At(2009, 11, 1, 1), "2009-11-01 01:00:00", false},  // end - 1 reached
        {At(2009, 11, 1, 2), "2009-11-01 02:00:00", false},
        {At(2009, 12, 31, 23, 59, 59), "2009-12-31 23:59:59", false},
        // Other years find their own Sundays: 2010 runs 21 March to 7 November.
        {At(2010, 3, 14, 2), "2010-03-14 02:00:00", false},
        {At(2010, 3, 21, 1, 59), "2010-03-21 01:59:00", false},
        {At(2010, 3, 21, 2), "2010-03-21 03:00:00", true},
        {At(2010, 11, 7, 0, 30), "2010-11-07 01:30:00", true},
        {At(2010, 11, 7, 1, 30), "2010-11-07 01:30:00", false},
        // Weekday rules do not apply up to 1970.
        {At(1970, 7, 1, 12), "1970-07-01 12:00:00", false},
        {At(1971, 7, 1, 12), "1971-07-01 13:00:00", true},
    };
    ExpectShown(With(NorthAmerica()), std::begin(cases), std::end(cases), "north america");
}

TEST(TimeManagerConvert, NorthernLastWeekdayRules) {
    // 2009: 29 March and 25 October; 2010: 28 March and 31 October.
    const ShownCase cases[] = {
        {At(2009, 3, 29, 0, 59), "2009-03-29 00:59:00", false},
        {At(2009, 3, 29, 1), "2009-03-29 02:00:00", true},
        {At(2009, 3, 22, 1), "2009-03-22 01:00:00", false},
        {At(2009, 10, 25, 0, 59), "2009-10-25 01:59:00", true},
        {At(2009, 10, 25, 1), "2009-10-25 01:00:00", false},
        {At(2010, 3, 28, 1), "2010-03-28 02:00:00", true},
        {At(2010, 10, 31, 0, 30), "2010-10-31 01:30:00", true},
        {At(2010, 10, 31, 1, 30), "2010-10-31 01:30:00", false},
    };
    ExpectShown(With(LastSundays()), std::begin(cases), std::end(cases), "last sundays");
}

TEST(TimeManagerConvert, NorthernFixedDates) {
    // 1 April 02:00 to 1 October 02:00 every year, 1970 and earlier included.
    const ShownCase cases[] = {
        {At(2009, 4, 1, 1, 59), "2009-04-01 01:59:00", false},
        {At(2009, 4, 1, 2), "2009-04-01 03:00:00", true},
        {At(2009, 9, 30, 23, 59), "2009-10-01 00:59:00", true},
        {At(2009, 10, 1, 0), "2009-10-01 01:00:00", true},
        {At(2009, 10, 1, 1), "2009-10-01 01:00:00", false},
        {At(1960, 6, 1, 12), "1960-06-01 13:00:00", true},
    };
    ExpectShown(With(FixedRules(4, 1, 2, 10, 1, 2)), std::begin(cases), std::end(cases), "fixed");
}

TEST(TimeManagerConvert, StartWeekAloneChoosesFixedDatesOrWeekdayRules) {
    // Fixed start, and an end that carries both a day (20) and a weekday rule
    // (first Sunday, 4 October 2009): the fixed day counts.
    packets::TimeZoneRules fixed = FixedRules(4, 1, 2, 10, 20, 2);
    fixed.endWeek = 1;
    const ShownCase fixedCases[] = {
        {At(2009, 10, 10, 12), "2009-10-10 13:00:00", true},
        {At(2009, 10, 20, 0, 30), "2009-10-20 01:30:00", true},
        {At(2009, 10, 20, 1, 30), "2009-10-20 01:30:00", false},
    };
    ExpectShown(With(fixed), std::begin(fixedCases), std::end(fixedCases), "fixed start");

    // Weekday start, and an end with a day but no week: the end rule fails
    // (day 0), and with it the whole period.
    packets::TimeZoneRules weekday = NorthAmerica();
    weekday.endWeek = 0;
    weekday.endDay = 20;
    const TimeManager tm = With(weekday);
    EXPECT_EQ(tm.YearOrder(2009), 2);
    EXPECT_FALSE(tm.ToShown(At(2009, 7, 1)).daylight);
}

TEST(TimeManagerConvert, SouthernPatternAcrossTheNewYear) {
    // Only one month may carry both changes (end month >= start month): daylight
    // from 25 October 02:00 round the new year to 5 October 02:00.
    const ShownCase cases[] = {
        {At(2009, 1, 15, 12), "2009-01-15 13:00:00", true},
        {At(2009, 10, 5, 0, 30), "2009-10-05 01:30:00", true},
        {At(2009, 10, 5, 1), "2009-10-05 01:00:00", false},
        {At(2009, 10, 15, 12), "2009-10-15 12:00:00", false},
        {At(2009, 10, 25, 1, 59), "2009-10-25 01:59:00", false},
        {At(2009, 10, 25, 2), "2009-10-25 03:00:00", true},
        {At(2009, 12, 31, 23, 30), "2010-01-01 00:30:00", true},
    };
    ExpectShown(With(FixedRules(10, 25, 2, 10, 5, 2)), std::begin(cases), std::end(cases),
                "southern fixed");

    // The same with weekday rules: last Sunday of April on, first Sunday off.
    const ShownCase weekday[] = {
        {At(2009, 4, 5, 0, 30), "2009-04-05 01:30:00", true},
        {At(2009, 4, 5, 1, 30), "2009-04-05 01:30:00", false},
        {At(2009, 4, 26, 1, 59), "2009-04-26 01:59:00", false},
        {At(2009, 4, 26, 2), "2009-04-26 03:00:00", true},
        {At(2009, 8, 1), "2009-08-01 01:00:00", true},
    };
    ExpectShown(With(WeekdayRules(4, 5, 0, 2, 4, 1, 0, 2)), std::begin(weekday), std::end(weekday),
                "southern weekday");
}

TEST(TimeManagerConvert, NegativeOffsetIsAppliedBeforeTheRules) {
    // Recorder five hours ahead of the shown zone: the rules see shown local time.
    const ShownCase cases[] = {
        {At(2009, 3, 15, 6, 59), "2009-03-15 01:59:00", false},
        {At(2009, 3, 15, 7), "2009-03-15 03:00:00", true},
        {At(2009, 11, 1, 5, 59), "2009-11-01 01:59:00", true},
        {At(2009, 11, 1, 6), "2009-11-01 01:00:00", false},
        {At(2010, 1, 1, 3), "2009-12-31 22:00:00", false},
    };
    const TimeManager tm = With(NorthAmerica(-300));
    ExpectShown(tm, std::begin(cases), std::end(cases), "offset -300");
    EXPECT_EQ(Text(tm.ToRecorder(At(2009, 11, 1, 1, 30), true)), "2009-11-01 05:30:00");
    EXPECT_EQ(Text(tm.ToRecorder(At(2009, 11, 1, 1, 30), false)), "2009-11-01 06:30:00");
}

TEST(TimeManagerConvert, ToRecorderAroundTheChanges) {
    const TimeManager tm = With(NorthAmerica());
    struct Case {
        CalendarTime shown;
        bool preferDaylight;
        const char* recorder;
    };
    const Case cases[] = {
        // The hour shown twice: standard reading unless daylight is preferred.
        {At(2009, 11, 1, 1, 30), false, "2009-11-01 01:30:00"},
        {At(2009, 11, 1, 1, 30), true, "2009-11-01 00:30:00"},
        {At(2009, 11, 1, 0, 30), false, "2009-10-31 23:30:00"},
        {At(2009, 11, 1, 2, 30), true, "2009-11-01 02:30:00"},
        // The start: 03:00 shown is 02:00; the skipped 02:xx is taken as standard.
        {At(2009, 3, 15, 3), false, "2009-03-15 02:00:00"},
        {At(2009, 3, 15, 2, 30), false, "2009-03-15 02:30:00"},
        {At(2009, 3, 15, 2, 30), true, "2009-03-15 02:30:00"},
        {At(2009, 7, 1, 0, 15), false, "2009-06-30 23:15:00"},
        {At(2009, 1, 10, 9), true, "2009-01-10 09:00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(tm.ToRecorder(c.shown, c.preferDaylight)), c.recorder)
            << Text(c.shown) << " prefer=" << c.preferDaylight;
    }
}

TEST(TimeManagerConvert, RepeatedHour) {
    struct Case {
        const char* what;
        packets::TimeZoneRules rules;
        CalendarTime shown;
        bool repeated;
    };
    const Case cases[] = {
        {"first minute", NorthAmerica(), At(2009, 11, 1, 1, 0), true},
        {"last minute", NorthAmerica(), At(2009, 11, 1, 1, 59, 59), true},
        {"hour before", NorthAmerica(), At(2009, 11, 1, 0, 59), false},
        {"end hour", NorthAmerica(), At(2009, 11, 1, 2, 0), false},
        {"other Sunday", NorthAmerica(), At(2009, 11, 8, 1, 30), false},
        {"2010's end", NorthAmerica(), At(2010, 11, 7, 1, 30), true},
        {"last Sunday rule", LastSundays(), At(2009, 10, 25, 1, 15), true},
        // An end at midnight repeats 23:00 of the day before.
        {"end at 00:00", FixedRules(4, 1, 2, 10, 25, 0), At(2009, 10, 24, 23, 30), true},
        {"end at 00:00, same day", FixedRules(4, 1, 2, 10, 25, 0), At(2009, 10, 25, 0, 30), false},
        {"weekday rules up to 1970", NorthAmerica(), At(1970, 11, 1, 1, 30), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(With(c.rules).IsRepeatedHour(c.shown), c.repeated) << c.what;
    }
}

// Every half hour of a year goes to the shown time and back again, the
// daylight reading chosen by the flag ToShown reported. (This holds for the
// usual one-hour bias; the hour-index rules cannot tell the readings apart
// for other amounts.)
TEST(TimeManagerConvert, RoundTripThroughAYear) {
    struct Case {
        const char* what;
        packets::TimeZoneRules rules;
    };
    const Case cases[] = {
        {"north america", NorthAmerica()},
        {"north america, offset -300", NorthAmerica(-300)},
        {"last sundays, offset +540", WeekdayRules(3, 5, 0, 1, 10, 5, 0, 2, 60, 540)},
        {"fixed dates", FixedRules(4, 1, 2, 10, 1, 2)},
        {"southern fixed", FixedRules(10, 25, 2, 10, 5, 2)},
        {"southern weekday", WeekdayRules(4, 5, 0, 2, 4, 1, 0, 2)},
    };
    for (const Case& c : cases) {
        const TimeManager tm = With(c.rules);
        int daylightHalfHours = 0;
        for (int step = 0; step < 365 * 48; ++step) {
            const CalendarTime recorder = rt::AddMinutes(At(2009, 1, 1), step * 30);
            const TimeManager::Shown s = tm.ToShown(recorder);
            daylightHalfHours += s.daylight ? 1 : 0;
            const CalendarTime back = tm.ToRecorder(s.time, s.daylight);
            if (Text(back) != Text(recorder)) {
                ADD_FAILURE() << c.what << ": " << Text(recorder) << " -> " << Text(s.time)
                              << (s.daylight ? " (daylight)" : "") << " -> " << Text(back);
                break;
            }
        }
        EXPECT_GT(daylightHalfHours, 0) << c.what;
        EXPECT_LT(daylightHalfHours, 365 * 48) << c.what;
    }
}
