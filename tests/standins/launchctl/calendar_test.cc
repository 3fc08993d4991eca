// When StartCalendarInterval entries fire, and the same times as systemd calendar expressions:
// both checked against systemd's own calendar arithmetic.

#include "calendar.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <random>
#include <sstream>

#include "calendar_bounds.h"

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
    useZone("UTC");
  }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
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
  EXPECT_EQ(nextCalendarStart({{.day = 31, .month = 4}}, now), std::nullopt);
  EXPECT_EQ(nextCalendarStart({{.day = 31, .weekday = 2, .month = 2}}, now), at(2025, 2, 4, 0, 0))
      << "a weekday in February comes even when the day does not";
  EXPECT_EQ(nextCalendarStart({{.minute = 0, .hour = 0, .day = 31}}, at(2025, 4, 1, 0, 0)),
            at(2025, 5, 31, 0, 0))
      << "months without the day are skipped";
  EXPECT_EQ(
      nextCalendarStart({{.minute = 0, .hour = 0, .day = 1, .month = 1}}, at(2025, 12, 31, 23, 59)),
      at(2026, 1, 1, 0, 0))
      << "across the year";
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
      // The date exists when the C library keeps it in its month in a leap year.
      std::tm date{};
      date.tm_year = 2024 - 1900;
      date.tm_mon = month - 1;
      date.tm_mday = day;
      date.tm_hour = 12;
      date.tm_isdst = -1;
      std::mktime(&date);
      const bool exists = date.tm_mon == month - 1;
      EXPECT_EQ(neverMatches(entry), !exists) << describeEntry(entry);
      EXPECT_EQ(nextCalendarStart({entry}, now).has_value(), exists) << describeEntry(entry);
      EXPECT_EQ(boundCalendar({entry}).neverFire.size(), exists ? 0u : 1u) << describeEntry(entry);
    }
  }
  EXPECT_FALSE(neverMatches({.day = 31, .weekday = 3, .month = 2})) << "any Wednesday in February";
  const BoundedCalendar bounded = boundCalendar(
      {{.minute = 7}, {.day = 30, .month = 2}, {.minute = 7}, {.hour = 7}, {.minute = 7}});
  EXPECT_EQ(bounded.entries.size(), 2u);
  EXPECT_EQ(bounded.entries[0].minute, 7);
  EXPECT_EQ(bounded.entries[1].hour, 7);
  ASSERT_EQ(bounded.neverFire.size(), 1u);
  EXPECT_EQ(describeEntry(bounded.neverFire[0]), "Month 2, Day 30");
}

/// A random entry: each field present about half the time, days of the month mostly near the
/// ends of months, weekdays and months as launchd reads them.
CalendarEntry randomEntry(std::mt19937& random) {
  auto present = [&] { return std::uniform_int_distribution<int>(0, 1)(random) == 1; };
  auto in = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  CalendarEntry entry;
  if (present())
    entry.minute = in(0, 59);
  if (in(0, 3) > 0)
    entry.hour = in(0, 23);
  if (present())
    entry.day = in(0, 2) == 0 ? in(1, 27) : in(28, 31);
  if (in(0, 2) == 0)
    entry.weekday = in(0, 6);
  if (present())
    entry.month = in(0, 2) == 0 ? 2 : in(1, 12);
  // Without an hour and a minute an entry fires every minute; some of those are worth having,
  // but mostly the dates are what is tested.
  if (!entry.minute && in(0, 3) > 0)
    entry.minute = in(0, 59);
  return entry;
}

/// Reads "2025-01-15 10:21:00" in local time.
std::time_t localMoment(const std::string& text) {
  std::tm time{};
  std::istringstream in(text);
  in >> std::get_time(&time, "%Y-%m-%d %H:%M:%S");
  time.tm_isdst = -1;
  return in.fail() ? -1 : std::mktime(&time);
}

/// The first `count` elapses systemd computes after `base` for each expression; empty for one
/// that never elapses. Empty as a whole when systemd-analyze cannot be run.
std::vector<std::vector<std::time_t>> systemdElapses(const std::vector<std::string>& expressions,
                                                     std::time_t base, int count) {
  std::string command = "systemd-analyze calendar --iterations=" + std::to_string(count) +
                        " --base-time=@" + std::to_string(base);
  for (const std::string& expression : expressions) {
    command += " '" + expression + "'";
  }
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return {};
  }
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  if (pclose(pipe) != 0) {
    ADD_FAILURE() << command << "\n" << output;
    return {};
  }
  std::vector<std::vector<std::time_t>> elapses;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Normalized form:") != std::string::npos) {
      elapses.emplace_back();
      continue;
    }
    const bool elapse =
        line.find("Next elapse:") != std::string::npos || line.find("Iter. #") != std::string::npos;
    if (elapse && line.find("never") == std::string::npos && !elapses.empty()) {
      // "    Next elapse: Fri 2026-12-11 07:00:00 UTC": the date follows the weekday.
      const size_t date = line.find(' ', line.find(':') + 2);
      elapses.back().push_back(localMoment(line.substr(date + 1, 19)));
    }
  }
  return elapses;
}

/// For a thousand random entries in each of two zones, the next three starts are the times
/// systemd computes for the expressions the entry becomes (either of two, for a day or a
/// weekday), from random moments over four years that hold a leap day.
TEST_F(CalendarTest, NextStartsAndExpressionsAgreeWithSystemd) {
  if (system("systemd-analyze --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  constexpr int kIterations = 3;
  constexpr int kBatches = 10;
  constexpr int kPerBatch = 100;
  std::mt19937 random(20250115);
  // Shanghai keeps one offset all year, so local time differs from UTC without a change of
  // clock, where the two calendars may rightly differ.
  for (const char* zone : {"UTC", "Asia/Shanghai"}) {
    if (std::string(zone) != "UTC" &&
        !std::filesystem::exists(std::filesystem::path("/usr/share/zoneinfo") / zone)) {
      continue;
    }
    useZone(zone);
    for (int batch = 0; batch < kBatches; ++batch) {
      const std::time_t base = at(2026, 1, 1, 0, 0) + std::uniform_int_distribution<std::time_t>(
                                                          0, 4 * 366 * 86400)(random);
      std::vector<CalendarEntry> entries;
      std::vector<std::string> expressions;
      std::vector<size_t> firstExpression;
      for (int i = 0; i < kPerBatch; ++i) {
        entries.push_back(randomEntry(random));
        firstExpression.push_back(expressions.size());
        for (const std::string& expression : calendarExpressions(entries.back())) {
          expressions.push_back(expression);
        }
      }
      firstExpression.push_back(expressions.size());
      const auto elapses = systemdElapses(expressions, base, kIterations);
      ASSERT_EQ(elapses.size(), expressions.size()) << zone;
      for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<std::time_t> expected;
        for (size_t e = firstExpression[i]; e < firstExpression[i + 1]; ++e) {
          expected.insert(expected.end(), elapses[e].begin(), elapses[e].end());
        }
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        expected.resize(std::min<size_t>(expected.size(), kIterations));
        std::string shown;
        for (size_t e = firstExpression[i]; e < firstExpression[i + 1]; ++e) {
          shown += " '" + expressions[e] + "'";
        }
        ASSERT_EQ(morvane::nextCalendarStarts({entries[i]}, base, kIterations), expected)
            << zone << ", from @" << base << ":" << shown;
      }
    }
  }
}

}  // namespace
}  // namespace launchctl
