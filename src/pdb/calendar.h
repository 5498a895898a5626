// UTC calendar arithmetic for build times, which packages carry as
// unsigned 32-bit seconds since 1970 and so run to the year 2106. It works
// on 64-bit integers and never through time_t, which 32-bit systems may
// still keep at 32 bits, ending in 2038.
#ifndef PDB_CALENDAR_H_
#define PDB_CALENDAR_H_

#include <stdint.h>

struct CalendarTime {
  int64_t year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to the length of the month
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The calendar time `seconds` after 1970-01-01 00:00:00 UTC.
CalendarTime calendarTimeOf(int64_t seconds);

// The seconds since 1970 of `time`; false when a field is outside its
// range (February 30, hour 24, ...): nothing carries into the next field.
bool secondsSince1970(const CalendarTime& time, int64_t* seconds);

// "Jan" to "Dec"; "???" for a month outside 1 to 12.
const char* monthAbbreviation(int month);

#endif  // PDB_CALENDAR_H_
