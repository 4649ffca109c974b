#include "media/time_manager.h"

#include "protocol/packets.h"

namespace recorder_time {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr TimeCount kUnitsPerDay = kSecondsPerDay * kUnitsPerSecond;

// Days from 1970-01-01 in the proleptic Gregorian calendar (month 1 ... 12,
// any day; day counts on linearly from the first of the month).
std::int64_t DaysFromCivil(std::int64_t y, int m, std::int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + doe - 719'468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, int* m, int* d) {
    z += 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

// Our epoch, 0001-01-01, counted from 1970-01-01.
constexpr std::int64_t kEpochDaysFrom1970 = -719'162;

// First and last unit of the valid years.
TimeCount MinCount() {
    return (DaysFromCivil(kMinYear, 1, 1) - kEpochDaysFrom1970) * kUnitsPerDay;
}
TimeCount MaxCount() {
    return (DaysFromCivil(kMaxYear + 1, 1, 1) - kEpochDaysFrom1970) * kUnitsPerDay - 1;
}

}  // namespace

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[month - 1];
}

bool ToCount(const CalendarTime& t, TimeCount* out) {
    if (!t.valid || t.year < kMinYear || t.year > kMaxYear || t.month < 1 || t.month > 12) {
        return false;
    }
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day) - kEpochDaysFrom1970;
    // Hour, minute and second are ints, so this sum cannot overflow; the
    // product with the unit can, for absurd field values.
    const std::int64_t seconds = days * kSecondsPerDay + std::int64_t{t.hour} * 3600 +
                                 std::int64_t{t.minute} * 60 + t.second;
    TimeCount count = 0;
    if (__builtin_mul_overflow(seconds, kUnitsPerSecond, &count)) {
        return false;
    }
    if (count < MinCount() || count > MaxCount()) {
        return false;
    }
    *out = count;
    return true;
}

CalendarTime FromCount(TimeCount count) {
    CalendarTime t;
    if (count < MinCount() || count > MaxCount()) {
        t.valid = false;
        return t;
    }
    const std::int64_t days = FloorDiv(count, kUnitsPerDay);
    const std::int64_t secondOfDay = (count - days * kUnitsPerDay) / kUnitsPerSecond;
    const std::int64_t since1970 = days + kEpochDaysFrom1970;
    std::int64_t year = 0;
    CivilFromDays(since1970, &year, &t.month, &t.day);
    t.year = static_cast<int>(year);
    t.hour = static_cast<int>(secondOfDay / 3600);
    t.minute = static_cast<int>(secondOfDay / 60 % 60);
    t.second = static_cast<int>(secondOfDay % 60);
    // 1970-01-01 was a Thursday.
    t.weekday = static_cast<int>(since1970 + 4 - FloorDiv(since1970 + 4, 7) * 7);
    t.valid = true;
    return t;
}

CalendarTime Normalized(const CalendarTime& t) {
    TimeCount count = 0;
    if (!ToCount(t, &count)) {
        CalendarTime bad = t;
        bad.valid = false;
        return bad;
    }
    return FromCount(count);
}

CalendarTime AddMinutes(const CalendarTime& t, std::int64_t minutes) {
    TimeCount count = 0;
    TimeCount delta = 0;
    if (!ToCount(t, &count) || __builtin_mul_overflow(minutes, kUnitsPerMinute, &delta) ||
        __builtin_add_overflow(count, delta, &count)) {
        CalendarTime bad = t;
        bad.valid = false;
        return bad;
    }
    return FromCount(count);
}

std::uint32_t HourIndex(const CalendarTime& t) {
    return static_cast<std::uint32_t>(t.month) * 744u + static_cast<std::uint32_t>(t.day) * 24u +
           static_cast<std::uint32_t>(t.hour);
}

}  // namespace recorder_time

using recorder_time::AddMinutes;
using recorder_time::HourIndex;

bool TimeManager::SetRules(const packets::TimeZoneRules& packet) {
    if (packet.validity != 1) {
        return false;
    }
    m_rules.offsetMinutes = packet.offsetMinutes;
    m_rules.dstEnabled = packet.dstOn != 0 ? 1 : 0;
    if (packet.endMonth < packet.startMonth) {
        return true;
    }
    Rules r;
    r.offsetMinutes = m_rules.offsetMinutes;
    r.dstEnabled = m_rules.dstEnabled;
    r.endMonth = packet.endMonth;
    r.endWeek = packet.endWeek;
    r.endWeekday = packet.endWeekday;
    r.endDay = packet.endDay;
    r.endHour = packet.endHour;
    r.startMonth = packet.startMonth;
    r.startWeek = packet.startWeek;
    r.startWeekday = packet.startWeekday;
    r.startDay = packet.startDay;
    r.startHour = packet.startHour;
    r.biasMinutes = packet.dstBiasMinutes;
    m_rules = r;
    return true;
}

int TimeManager::NthWeekday(int year, int month, int n, int weekday) {
    if (year <= 1970 || month <= 0 || month > 12 || n < 1 || n > 5 || weekday < 0 || weekday > 6) {
        return 0;
    }
    const CalendarTime first = recorder_time::Normalized(CalendarTime{year, month, 1, 0, 0, 0});
    if (!first.valid) {
        return 0;
    }
    int day = 1 + (weekday - first.weekday + 7) % 7 + 7 * (n - 1);
    // Only the fifth can run past the month; it then means the last, the fourth.
    if (day > recorder_time::DaysInMonth(year, month)) {
        day -= 7;
    }
    return day;
}

bool TimeManager::DaylightRulesActive() const {
    return m_rules.dstEnabled != 0 && m_rules.startMonth != 0;
}

// startWeek alone chooses between fixed dates and weekday rules, for the end
// of the period as well as its start: the recorder sends both kinds alike.
int TimeManager::StartDay(int year) const {
    if (m_rules.startWeek == 0) {
        return m_rules.startDay;
    }
    return NthWeekday(year, m_rules.startMonth, m_rules.startWeek, m_rules.startWeekday);
}

int TimeManager::EndDay(int year) const {
    if (m_rules.startWeek == 0) {
        return m_rules.endDay;
    }
    return NthWeekday(year, m_rules.endMonth, m_rules.endWeek, m_rules.endWeekday);
}

TimeManager::Period TimeManager::PeriodOf(int year) const {
    Period p;
    p.start = m_rules.startMonth * 744u + static_cast<std::uint32_t>(StartDay(year)) * 24u +
              m_rules.startHour;
    p.end =
        m_rules.endMonth * 744u + static_cast<std::uint32_t>(EndDay(year)) * 24u + m_rules.endHour;
    return p;
}

int TimeManager::YearOrder(int year) const {
    const int startDay = StartDay(year);
    const int endDay = EndDay(year);
    if (m_rules.startWeek != 0 && (startDay == 0 || endDay == 0)) {
        return 2;
    }
    const std::uint32_t s =
        m_rules.startHour + 24u * static_cast<std::uint32_t>(startDay) + 720u * m_rules.startMonth;
    const std::uint32_t e =
        m_rules.endHour + 24u * static_cast<std::uint32_t>(endDay) + 720u * m_rules.endMonth;
    if (s < e) {
        return 1;
    }
    if (s > e) {
        return 0;
    }
    return 2;
}

TimeManager::Shown TimeManager::ToShown(const CalendarTime& recorderTime) const {
    Shown out;
    out.time = AddMinutes(recorderTime, m_rules.offsetMinutes);
    if (!out.time.valid || !DaylightRulesActive()) {
        return out;
    }
    const int order = YearOrder(out.time.year);
    const Period p = PeriodOf(out.time.year);
    const std::uint32_t o = HourIndex(out.time);
    // The end hour is given in daylight time while o is still standard time,
    // hence end - 1.
    const std::uint32_t lastStandard = p.end - 1u;
    const bool daylight = (order == 1 && p.start <= o && o < lastStandard) ||
                          (order == 0 && (o < lastStandard || o >= p.start));
    if (daylight) {
        out.time = AddMinutes(out.time, m_rules.biasMinutes);
        out.daylight = true;
    }
    return out;
}

CalendarTime TimeManager::ToRecorder(const CalendarTime& shownTime, bool preferDaylight) const {
    CalendarTime s = recorder_time::Normalized(shownTime);
    if (!s.valid) {
        return s;
    }
    if (DaylightRulesActive()) {
        const int order = YearOrder(s.year);
        const Period p = PeriodOf(s.year);
        const std::uint32_t m = HourIndex(s);
        const std::uint32_t end = preferDaylight ? p.end : p.end - 1u;
        const bool daylight =
            (order == 1 && p.start < m && m < end) || (order == 0 && (m < end || m > p.start));
        if (daylight) {
            s = AddMinutes(s, -std::int64_t{m_rules.biasMinutes});
        }
    }
    return AddMinutes(s, -std::int64_t{m_rules.offsetMinutes});
}

bool TimeManager::IsRepeatedHour(const CalendarTime& shownTime) const {
    if (!DaylightRulesActive()) {
        return false;
    }
    const CalendarTime s = recorder_time::Normalized(shownTime);
    if (!s.valid) {
        return false;
    }
    const CalendarTime endMoment{s.year, m_rules.endMonth, EndDay(s.year), m_rules.endHour, 0, 0};
    const CalendarTime hourBefore = AddMinutes(endMoment, -60);
    return hourBefore.valid && HourIndex(s) == HourIndex(hourBefore);
}
