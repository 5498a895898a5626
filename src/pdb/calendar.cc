#include "pdb/calendar.h"

namespace {

const int64_t kSecondsPerDay = 86400;
// Day numbers count from 0000-03-01, so that a leap day ends its year.
const int64_t kDaysFrom0000To1970 = 719468;
const int64_t kDaysPer400Years = 146097;

int64_t floorDivide(int64_t value, int64_t divisor) {
  int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

bool isLeapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int daysInMonth(int64_t year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

int64_t daysSince1970(int64_t year, int month, int day) {
  if (month <= 2) --year;
  const int64_t era = floorDivide(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * kDaysPer400Years + dayOfEra - kDaysFrom0000To1970;
}

}  // namespace

CalendarTime calendarTimeOf(int64_t seconds) {
  CalendarTime time;
  const int64_t days = floorDivide(seconds, kSecondsPerDay);
  const int64_t within = seconds - days * kSecondsPerDay;
  time.hour = int(within / 3600);
  time.minute = int(within / 60 % 60);
  time.second = int(within % 60);

  const int64_t shifted = days + kDaysFrom0000To1970;
  const int64_t era = floorDivide(shifted, kDaysPer400Years);
  const int64_t dayOfEra = shifted - era * kDaysPer400Years;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  time.day = int(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  time.month = int(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  time.year = yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0);
  return time;
}

bool secondsSince1970(const CalendarTime& time, int64_t* seconds) {
  // Far enough for any build time, near enough that nothing overflows.
  if (time.year < -1000000 || time.year > 1000000) return false;
  if (time.month < 1 || time.month > 12 || time.day < 1 ||
      time.day > daysInMonth(time.year, time.month)) {
    return false;
  }
  if (time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 ||
      time.second > 59) {
    return false;
  }
  *seconds = daysSince1970(time.year, time.month, time.day) * kSecondsPerDay + time.hour * 3600 +
             time.minute * 60 + time.second;
  return true;
}

const char* monthAbbreviation(int month) {
  static const char* const kNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return month >= 1 && month <= 12 ? kNames[month - 1] : "???";
}
