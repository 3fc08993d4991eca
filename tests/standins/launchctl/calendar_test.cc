// When StartCalendarInterval entries fire, and the same times as systemd calendar expressions.

#include "calendar.h"
#include "calendar_bounds.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace launchctl {
namespace {

/// Seconds since the epoch of a UTC time.
std::time_t at(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return timegm(&time);
}

class CalendarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) {
      savedZone_ = zone;
    }
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (savedZone_) {
      setenv("TZ", savedZone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> savedZone_;
};

TEST_F(CalendarTest, MissingFieldsMatchEveryValueAndDayOrWeekdayIsEnough) {
  // Wednesday 2025-01-15 10:20:30.
  const std::time_t now = at(2025, 1, 15, 10, 20) + 30;
  EXPECT_EQ(nextCalendarStart({{}}, now), at(2025, 1, 15, 10, 21)) << "every minute";
  EXPECT_EQ(nextCalendarStart({{.minute = 5}}, now), at(2025, 1, 15, 11, 5)) << "every hour";
  EXPECT_EQ(nextCalendarStart({{.hour = 10}}, now), at(2025, 1, 15, 10, 21))
      << "every minute of that hour";
  EXPECT_EQ(nextCalendarStart({{.minute = 0, .hour = 9}}, now), at(2025, 1, 16, 9, 0));
  // The 20th, or any Friday: Friday the 17th comes first.
  EXPECT_EQ(nextCalendarStart({{.minute = 0, .hour = 0, .day = 20, .weekday = 5}}, now),
            at(2025, 1, 17, 0, 0));
  EXPECT_EQ(nextCalendarStart({{.minute = 0, .hour = 0, .weekday = 0}}, now), at(2025, 1, 19, 0, 0))
      << "Sunday";
  EXPECT_EQ(nextCalendarStart({{.minute = 0, .hour = 0, .day = 29, .month = 2}}, now),
            at(2028, 2, 29, 0, 0));
  EXPECT_EQ(nextCalendarStart({{.day = 31, .month = 2}}, now), std::nullopt);
  // The earliest of several entries.
  EXPECT_EQ(nextCalendarStart({{.day = 31, .month = 2}, {.minute = 45}, {.minute = 30}}, now),
            at(2025, 1, 15, 10, 30));
}

TEST_F(CalendarTest, ExpressionsSayTheSameForSystemd) {
  EXPECT_EQ(calendarExpressions({}), std::vector<std::string>{"*-*-* *:*:00"});
  EXPECT_EQ(calendarExpressions({.minute = 5, .hour = 9, .month = 12}),
            std::vector<std::string>{"*-12-* 09:05:00"});
  EXPECT_EQ(calendarExpressions({.minute = 0, .weekday = 1}),
            std::vector<std::string>{"Mon *-*-* *:00:00"});
  EXPECT_EQ(calendarExpressions({.hour = 7, .day = 20, .weekday = 5}),
            (std::vector<std::string>{"*-*-20 07:*:00", "Fri *-*-* 07:*:00"}));
}

TEST_F(CalendarTest, OnlyEntriesThatNoDateMatchesAreLeftOutAndCopiesCountOnce) {
  const std::time_t now = at(2025, 1, 15, 10, 20);
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= 31; ++day) {
      const CalendarEntry entry{.day = day, .month = month};
      EXPECT_EQ(canEverFire(entry), nextCalendarStart({entry}, now).has_value())
          << describeEntry(entry);
    }
  }
  EXPECT_TRUE(canEverFire({.day = 31, .weekday = 3, .month = 2})) << "any Wednesday in February";
  const BoundedCalendar bounded = boundCalendar(
      {{.minute = 7}, {.day = 30, .month = 2}, {.minute = 7}, {.hour = 7}, {.minute = 7}});
  EXPECT_EQ(bounded.entries.size(), 2u);
  EXPECT_EQ(bounded.entries[0].minute, 7);
  EXPECT_EQ(bounded.entries[1].hour, 7);
  ASSERT_EQ(bounded.neverFire.size(), 1u);
  EXPECT_EQ(describeEntry(bounded.neverFire[0]), "Month 2, Day 30");
}

}  // namespace
}  // namespace launchctl
