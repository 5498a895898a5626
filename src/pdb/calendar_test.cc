#include "pdb/calendar.h"

#include <stdio.h>
#include <time.h>

#include <string>

#include <gtest/gtest.h>

namespace {

std::string text(const CalendarTime& t) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(t.year),
           t.month, t.day, t.hour, t.minute, t.second);
  return buffer;
}

TEST(Calendar, KnownMomentsOfTheBuildTimeRange) {
  EXPECT_EQ("1970-01-01 00:00:00", text(calendarTimeOf(0)));
  EXPECT_EQ("2000-02-29 23:59:59", text(calendarTimeOf(951868799)));
  EXPECT_EQ("2038-01-19 03:14:08", text(calendarTimeOf(0x80000000ll)));
  EXPECT_EQ("2040-01-01 00:00:00", text(calendarTimeOf(2208988800ll)));
  EXPECT_EQ("2100-03-01 00:00:00", text(calendarTimeOf(4107542400ll)));
  EXPECT_EQ("2106-02-07 06:28:15", text(calendarTimeOf(0xFFFFFFFFll)));
  EXPECT_EQ("1969-12-31 23:59:59", text(calendarTimeOf(-1)));
  EXPECT_STREQ("Jan", monthAbbreviation(1));
  EXPECT_STREQ("Dec", monthAbbreviation(12));
  EXPECT_STREQ("???", monthAbbreviation(13));
}

TEST(Calendar, EveryDayOfTheRangeRoundTripsAndAgreesWithTheSystem) {
  // One moment a day from 1970 to 2106, each at another time of day; the
  // system's gmtime is asked only where its time_t is wide enough.
  for (int64_t day = 0; day <= 49710; ++day) {
    const int64_t seconds = day * 86400 + (day * 7919) % 86400;
    CalendarTime time = calendarTimeOf(seconds);
    int64_t back = -1;
    ASSERT_TRUE(secondsSince1970(time, &back)) << text(time);
    ASSERT_EQ(seconds, back) << text(time);
    if (sizeof(time_t) < 8) continue;
    const time_t value = time_t(seconds);
    struct tm fields;
    ASSERT_NE(nullptr, gmtime_r(&value, &fields));
    ASSERT_EQ(fields.tm_year + 1900, time.year);
    ASSERT_EQ(fields.tm_mon + 1, time.month);
    ASSERT_EQ(fields.tm_mday, time.day);
    ASSERT_EQ(fields.tm_hour * 3600 + fields.tm_min * 60 + fields.tm_sec,
              time.hour * 3600 + time.minute * 60 + time.second);
  }
}

TEST(Calendar, FieldsOutsideTheirRangeAreRefused) {
  int64_t seconds = 0;
  CalendarTime leap;
  leap.year = 2024;
  leap.month = 2;
  leap.day = 29;
  EXPECT_TRUE(secondsSince1970(leap, &seconds));
  EXPECT_EQ(1709164800, seconds);
  for (int64_t year : {2023, 2100}) {
    leap.year = year;
    EXPECT_FALSE(secondsSince1970(leap, &seconds)) << year;
  }
  leap.year = 2000;
  EXPECT_TRUE(secondsSince1970(leap, &seconds));
  CalendarTime bad;
  bad.month = 13;
  EXPECT_FALSE(secondsSince1970(bad, &seconds));
  bad = CalendarTime();
  bad.day = 32;
  EXPECT_FALSE(secondsSince1970(bad, &seconds));
  bad = CalendarTime();
  bad.hour = 24;
  EXPECT_FALSE(secondsSince1970(bad, &seconds));
  bad = CalendarTime();
  bad.second = 60;
  EXPECT_FALSE(secondsSince1970(bad, &seconds));
}

}  // namespace
