// An agent's schedule read from its property list and said in both languages.
#include "schedule.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "language.h"
#include "property_list.h"
#include "schedule_files.h"
#include "schedule_rewrite.h"
#include "schedule_text.h"
#include "test_support.h"

namespace morvane {
namespace {

/// A property list whose dictionary holds `body`.
PlistPtr plistWith(const std::string& body) {
  return parsePropertyList(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>Label</key><string>x</string>" +
      body + "</dict></plist>");
}

std::string summary(const std::string& body) {
  return ScheduleText::summary(readSchedule(plistWith(body).get()));
}

std::time_t utc(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return timegm(&time);
}

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_.emplace("TZ", "UTC");
    tzset();
  }
  void TearDown() override {
    zone_.reset();
    tzset();
  }
  std::optional<testing::ScopedEnv> zone_;
};

TEST_F(ScheduleTest, KeysAreReadAsTheServiceManagerReadsThem) {
  Schedule schedule = readSchedule(
      plistWith(
          "<key>StartInterval</key><integer>300</integer>"
          "<key>RunAtLoad</key><true/>"
          "<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict>"
          "<key>StartCalendarInterval</key><array>"
          "<dict><key>Weekday</key><integer>7</integer><key>Hour</key><integer>9</integer></dict>"
          "<dict><key>Minute</key><integer>60</integer></dict>"
          "<dict><key>Hour</key><string>9</string></dict>"
          "<dict><key>Day</key><integer>31</integer><key>Month</key><integer>2</integer></dict>"
          "</array>")
          .get());
  EXPECT_EQ(schedule.startInterval, 300);
  EXPECT_TRUE(schedule.runAtLoad);
  EXPECT_TRUE(schedule.keepAlive) << "a dictionary of conditions keeps it alive";
  // Weekday 7 is Sunday; out-of-range and mistyped entries are left out.
  EXPECT_EQ(schedule.calendar,
            (std::vector<CalendarEntry>{{.hour = 9, .weekday = 0}, {.day = 31, .month = 2}}));
  EXPECT_TRUE(readSchedule(plistWith("<key>StartInterval</key><integer>0</integer>"
                                     "<key>KeepAlive</key><false/>")
                               .get())
                  .empty());
  // A single dictionary is one entry.
  EXPECT_EQ(readSchedule(plistWith("<key>StartCalendarInterval</key><dict><key>Minute</key>"
                                   "<integer>15</integer></dict>")
                             .get())
                .calendar,
            (std::vector<CalendarEntry>{{.minute = 15}}));
}

TEST_F(ScheduleTest, SummariesInBothLanguages) {
  const auto at = [](const std::string& fields) {
    return "<key>StartCalendarInterval</key><dict>" + fields + "</dict>";
  };
  const std::string nine =
      "<key>Hour</key><integer>9</integer><key>Minute</key><integer>0</integer>";
  const std::string weekdays = [&] {
    std::string entries;
    for (int day = 1; day <= 5; ++day)
      entries += "<dict>" + nine + "<key>Weekday</key><integer>" + std::to_string(day) +
                 "</integer></dict>";
    return "<key>StartCalendarInterval</key><array>" + entries + "</array>";
  }();
  const std::string thrice =
      "<key>StartCalendarInterval</key><array>"
      "<dict><key>Hour</key><integer>8</integer><key>Minute</key><integer>0</integer></dict>"
      "<dict><key>Hour</key><integer>12</integer><key>Minute</key><integer>30</integer></dict>"
      "<dict><key>Hour</key><integer>18</integer><key>Minute</key><integer>0</integer></dict>"
      "</array>";
  struct Case {
    std::string body, english, chinese;
  };
  const Case cases[] = {
      {"<key>StartInterval</key><integer>300</integer>", "every 5 min", "每 5 分钟"},
      {"<key>StartInterval</key><integer>7200</integer>", "every 2 h", "每 2 小时"},
      {"<key>StartInterval</key><integer>90</integer>", "every 90 s", "每 90 秒"},
      {at(nine), "daily at 09:00", "每天 09:00"},
      {weekdays, "Mon–Fri at 09:00", "周一至周五 09:00"},
      {at("<key>Day</key><integer>1</integer><key>Hour</key><integer>3</integer>"
          "<key>Minute</key><integer>30</integer>"),
       "on the 1st at 03:30", "每月 1 日 03:30"},
      {at("<key>Day</key><integer>22</integer><key>Month</key><integer>12</integer>" + nine),
       "on 22 Dec at 09:00", "12月22日 09:00"},
      {at("<key>Weekday</key><integer>6</integer><key>Month</key><integer>1</integer>" + nine),
       "Sat in Jan at 09:00", "1月周六 09:00"},
      {at("<key>Minute</key><integer>15</integer>"), "hourly at :15", "每小时 :15"},
      {at("<key>Minute</key><integer>5</integer><key>Weekday</key><integer>0</integer>"),
       "hourly at :05, Sun", "周日 每小时 :05"},
      {at(""), "every minute", "每分钟"},
      {thrice, "3 times a day", "每天 3 次"},
      {thrice + "<key>RunAtLoad</key><true/><key>KeepAlive</key><true/>",
       "3 times a day, at load, kept alive", "每天 3 次，加载时运行，保持运行"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    {
      testing::ScopedEnv english("MORVANE_LANG", "en");
      Language::apply(std::nullopt);
      EXPECT_EQ(summary(c.body), c.english) << c.body;
    }
    testing::ScopedEnv chinese("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    EXPECT_EQ(summary(c.body), c.chinese) << c.body;
  }
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  // Several entries the summary only counts are listed one by one; merged ones are not.
  EXPECT_EQ(ScheduleText::entryLines(readSchedule(plistWith(thrice).get())),
            (std::vector<std::string>{"daily at 08:00", "daily at 12:30", "daily at 18:00"}));
  EXPECT_TRUE(ScheduleText::entryLines(readSchedule(plistWith(weekdays).get())).empty());
  EXPECT_EQ(ScheduleText::entry({.minute = 0, .hour = 9, .day = 2, .weekday = 3}),
            "on the 2nd or Wed at 09:00");
  EXPECT_EQ(ScheduleText::entry({.minute = 0, .hour = 9, .weekday = 6}), "Sat at 09:00");
}

TEST_F(ScheduleTest, NextRunSaysTheTimeTodayAndTheDateOtherwise) {
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  const std::time_t now = utc(2026, 12, 9, 11, 10);
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2026, 12, 9, 18, 0), now), "next 18:00");
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2026, 12, 10, 9, 0), now), "next 10 Dec 09:00");
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2028, 2, 29, 0, 5), now), "next 29 Feb 2028 00:05");
  EXPECT_EQ(ScheduleText::nextRunFull(utc(2026, 12, 10, 9, 0)), "2026-12-10 09:00 (Thu)");
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2026, 12, 9, 18, 0), now), "下次 18:00");
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2026, 12, 10, 9, 0), now), "下次 12月10日 09:00");
  EXPECT_EQ(ScheduleText::nextRunShort(utc(2028, 2, 29, 0, 5), now), "下次 2028年2月29日 00:05");
  EXPECT_EQ(ScheduleText::nextRunFull(utc(2026, 12, 10, 9, 0)), "2026-12-10 09:00（周四）");
  // The next run of a schedule is its calendar's; an interval alone gives none.
  Schedule schedule{.startInterval = 60, .calendar = {{.minute = 0, .hour = 9}}};
  EXPECT_EQ(nextRun(schedule, now), utc(2026, 12, 10, 9, 0));
  EXPECT_EQ(nextRun(Schedule{.startInterval = 60, .calendar = {}}, now), std::nullopt);

  // A row's words are kept, but not past the day they name, the start, or the language.
  NextRuns rows;
  EXPECT_EQ(*rows.shortText("x", schedule, utc(2026, 12, 9, 23, 0)), "下次 12月10日 09:00");
  EXPECT_EQ(*rows.shortText("x", schedule, utc(2026, 12, 10, 0, 30)), "下次 09:00");
  testing::ScopedEnv englishAgain("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  EXPECT_EQ(*rows.shortText("x", schedule, utc(2026, 12, 10, 0, 31)), "next 09:00");
  EXPECT_EQ(*rows.shortText("x", schedule, utc(2026, 12, 10, 9, 0)), "next 11 Dec 09:00");
  schedule.calendar = {{.minute = 30, .hour = 9}};
  EXPECT_EQ(*rows.shortText("x", schedule, utc(2026, 12, 10, 9, 1)), "next 09:30");
  EXPECT_EQ(rows.shortText("x", Schedule{.calendar = {{.day = 30, .month = 2}}}, now), nullptr);
}

TEST_F(ScheduleTest, TypedTimesAndDaysBecomeTheEntriesTheyMean) {
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  EXPECT_EQ(TimedStarts::timeOfDay("09:30"), (std::pair{9, 30}));
  EXPECT_EQ(TimedStarts::timeOfDay("7:05"), (std::pair{7, 5}));
  EXPECT_EQ(TimedStarts::timeOfDay("23:59"), (std::pair{23, 59}));
  for (const char* bad :
       {"24:00", "9:60", "9:5", "930", "-1:00", "+9:00", "9:00 ", ":30", "", "9h"})
    EXPECT_EQ(TimedStarts::timeOfDay(bad).error(), "The time must be HH:MM, from 00:00 to 23:59")
        << bad;
  EXPECT_EQ(TimedStarts::weekdays("Mon,fri,SUN"), (std::set<int>{0, 1, 5}));
  EXPECT_EQ(TimedStarts::weekdays("weekdays"), (std::set<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(TimedStarts::weekdays("daily"), std::set<int>{});
  EXPECT_EQ(TimedStarts::weekdays("sun,mon,tue,wed,thu,fri,sat"), std::set<int>{});
  EXPECT_EQ(TimedStarts::weekdays("mon,Funday").error(),
            "Unknown day “Funday”: use mon, tue, wed, thu, fri, sat, sun, weekdays or daily");
  EXPECT_EQ(TimedStarts::weekdays("mon,").error(),
            "Unknown day “”: use mon, tue, wed, thu, fri, sat, sun, weekdays or daily");
  EXPECT_EQ(TimedStarts::dayOfMonth("31"), 31);
  for (const char* bad : {"0", "32", "-1", "1st", "", "001"})
    EXPECT_FALSE(TimedStarts::dayOfMonth(bad)) << bad;

  // A choice gives entries and the entries give the choice back; what no choice writes is
  // left alone.
  const CalendarChoice choices[] = {
      {9, 30, {}, std::nullopt}, {9, 30, {1, 2, 3, 4, 5}, std::nullopt}, {3, 0, {}, 31}};
  for (const CalendarChoice& choice : choices)
    EXPECT_EQ(TimedStarts::choiceOf(TimedStarts::entries(choice)), choice);
  EXPECT_EQ(TimedStarts::entries({8, 0, {0, 6}, std::nullopt}),
            (std::vector<CalendarEntry>{{.minute = 0, .hour = 8, .weekday = 0},
                                        {.minute = 0, .hour = 8, .weekday = 6}}));
  const std::vector<CalendarEntry> beyond[] = {
      {{.minute = 0, .hour = 8}, {.minute = 0, .hour = 20}},
      {{.minute = 0, .hour = 8, .month = 1}},
      {{.hour = 8}},
      {{.minute = 0, .hour = 8, .day = 1, .weekday = 1}},
      {{.minute = 0, .hour = 8, .weekday = 1}, {.minute = 0, .hour = 8, .weekday = 1}},
      {}};
  for (const std::vector<CalendarEntry>& calendar : beyond)
    EXPECT_FALSE(TimedStarts::choiceOf(calendar)) << calendar.size();

  // Written: a dictionary for one entry, an array for several, read back as they were.
  for (const CalendarChoice& choice : choices) {
    PlistPtr root = plistWith("<key>StartInterval</key><integer>60</integer>");
    TimedStarts::write(root.get(), {std::nullopt, TimedStarts::entries(choice)});
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root.get(), "StartCalendarInterval")),
              choice.weekdays.empty() ? PLIST_DICT : PLIST_ARRAY);
    EXPECT_EQ(readSchedule(root.get()),
              (Schedule{std::nullopt, TimedStarts::entries(choice), false, false}));
  }
}

/// Everything in a property list but its schedule keys, as XML.
std::string withoutSchedule(const std::string& bytes) {
  PlistPtr root = parsePropertyList(bytes);
  EXPECT_TRUE(root);
  if (!root)
    return {};
  TimedStarts::write(root.get(), {});
  return toXmlPropertyList(root.get());
}

TEST_F(ScheduleTest, RewritingKeepsEveryOtherKeyTheFormAndThePermissions) {
  testing::TempDir dir;
  const std::string others =
      "<key>ProgramArguments</key><array><string>/bin/echo</string><string>&lt;ü&gt;</string>"
      "</array><key>Nice</key><integer>-5</integer><key>Umask</key><string>022</string>"
      "<key>ExitTimeOut</key><real>2.5</real><key>Data</key><data>AAEC</data>"
      "<key>EnvironmentVariables</key><dict><key>A</key><string>b</string></dict>"
      "<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict>";
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>Label</key><string>x</string><key>StartInterval</key><integer>60</integer>" +
      others + "</dict></plist>";
  const std::filesystem::path plist = dir / "x.plist";
  testing::writeFile(plist, xml);
  ::chmod(plist.c_str(), 0640);
  const TimedStart daily{std::nullopt, {{.minute = 30, .hour = 9}}};
  ASSERT_TRUE(rewriteSchedule(plist, daily));
  std::string written = testing::readText(plist);
  EXPECT_TRUE(written.starts_with("<?xml")) << written;
  EXPECT_EQ(withoutSchedule(written), withoutSchedule(xml));
  EXPECT_NE(written.find("<integer>-5</integer>"), std::string::npos) << written;
  Schedule read = readSchedule(parsePropertyList(written).get());
  EXPECT_EQ(read.startInterval, std::nullopt);
  EXPECT_EQ(read.calendar, daily.calendar);
  EXPECT_TRUE(read.keepAlive);
  struct stat info {};
  ASSERT_EQ(::stat(plist.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // A binary list stays binary, and a link stays a link to the file it names.
  PlistPtr root = parsePropertyList(xml);
  testing::writeFile(dir / "target.plist", toBinaryPropertyList(root.get()));
  ::chmod((dir / "target.plist").c_str(), 0600);
  std::filesystem::create_symlink("target.plist", dir / "link.plist");
  ASSERT_TRUE(rewriteSchedule(dir / "link.plist", {7200, {}}));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.plist"));
  written = testing::readText(dir / "target.plist");
  EXPECT_TRUE(isBinaryPropertyList(written));
  EXPECT_EQ(withoutSchedule(written), withoutSchedule(xml));
  EXPECT_EQ(readSchedule(parsePropertyList(written).get()).startInterval, 7200);
  ASSERT_EQ(::stat((dir / "target.plist").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_TRUE(rewriteSchedule(dir / "link.plist", {}));
  EXPECT_TRUE(readSchedule(parsePropertyList(testing::readText(dir / "target.plist")).get())
                  .calendar.empty());

  // What is no property list, or is missing, is left as it was.
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  testing::writeFile(dir / "broken.plist", "<plist><dict>");
  Outcome broken = rewriteSchedule(dir / "broken.plist", daily);
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().text, (dir / "broken.plist").string() + ": not a property list");
  EXPECT_EQ(testing::readText(dir / "broken.plist"), "<plist><dict>");
  EXPECT_FALSE(rewriteSchedule(dir / "missing.plist", daily));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.plist"));
}

}  // namespace
}  // namespace morvane
