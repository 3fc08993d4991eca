// Making a new agent: the arguments line, the checks of each field, the property list.
#include "new_agent.h"

#include <gtest/gtest.h>

#include "language.h"
#include "property_list.h"
#include "shell_words.h"
#include "test_support.h"

namespace morvane {
namespace {

using Words = std::vector<std::string>;

TEST(SplitShellWords, QuotesAndBackslashesAsAShellReadsThemWithoutExpanding) {
  const std::pair<const char*, Words> cases[] = {
      {"", {}},
      {"  \t\n ", {}},
      {"a  b\tc\nd", {"a", "b", "c", "d"}},
      {"'two words' \"and three words\"", {"two words", "and three words"}},
      {"a\"b\"'c'd", {"abcd"}},
      {"'' \"\"", {"", ""}},
      {R"('it''s' "say \"hi\"" back\ slash)", {"its", "say \"hi\"", "back slash"}},
      {R"("\$HOME \a \\ \`")", {R"($HOME \a \ `)"}},
      {R"('\n stays' \\)", {R"(\n stays)", "\\"}},
      {"$HOME ~/x *.log", {"$HOME", "~/x", "*.log"}},
      {"join\\\nlines end\\", {"joinlines", "end\\"}},
      {"备份 'ü ß'", {"备份", "ü ß"}},
  };
  for (const auto& [line, words] : cases) {
    Result<Words> split = splitShellWords(line);
    ASSERT_TRUE(split) << line;
    EXPECT_EQ(*split, words) << line;
  }
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  for (const char* unclosed : {"'open", "a \"open", R"("escaped \")", "'a' 'b"}) {
    Result<Words> split = splitShellWords(unclosed);
    ASSERT_FALSE(split) << unclosed;
    EXPECT_EQ(split.error().text, "A quote in the arguments is not closed");
  }
}

class NewAgentChecks : public ::testing::Test {
 protected:
  void SetUp() override { Language::apply(std::nullopt); }

  /// The problems of `agent` in the temporary folder, as field and text.
  std::vector<std::pair<NewAgents::Field, std::string>> check(
      const NewAgent& agent, const NewAgents::TakenLabels& taken = {}) {
    std::vector<std::pair<NewAgents::Field, std::string>> found;
    for (const NewAgents::Problem& problem : NewAgents::problems(agent, dir_.path(), taken))
      found.emplace_back(problem.field, problem.text);
    return found;
  }

  testing::ScopedEnv english_{"MORVANE_LANG", "en"};
  testing::TempDir dir_;
};

TEST_F(NewAgentChecks, EachFieldSaysWhatIsWrongWithIt) {
  using NewAgents::Field;
  NewAgent good{"com.example.job", "/bin/sh", {"-c", "true"}, true, false, 60, "/tmp/job.log"};
  EXPECT_TRUE(check(good).empty());

  NewAgent bad{"", "", {"ok", "\xff"}, false, false, 0, "job.log"};
  EXPECT_EQ(check(bad), (std::vector<std::pair<Field, std::string>>{
                            {Field::label, "Enter a label"},
                            {Field::program, "Choose a program"},
                            {Field::arguments, "Not valid UTF-8 text"},
                            {Field::interval, "The interval must be a whole number above 0"},
                            {Field::log, "Give the log file's full path"}}));

  const std::pair<std::string, std::string> labels[] = {
      {"tab\there", "A label cannot contain “/” or control characters"},
      {"c1\xc2\x85", "A label cannot contain “/” or control characters"},
      {"bad\xe2\x28", "Not valid UTF-8 text"},
      {"com.\u202Eevil.gnp",
       "A label cannot contain characters that reorder text (such as U+202E)"},
      {"mark\u200F", "A label cannot contain characters that reorder text (such as U+202E)"},
      {std::string(250, 'x'), "The label is too long"},
  };
  for (const auto& [label, text] : labels) {
    NewAgent agent = good;
    agent.label = label;
    EXPECT_EQ(check(agent), (std::vector<std::pair<Field, std::string>>{{Field::label, text}}));
  }
  NewAgent longest = good;
  longest.label = std::string(249, 'x');  // with ".plist", the longest file name there is
  EXPECT_TRUE(check(longest).empty());

  NewAgent both = good;
  both.calendar = {{.minute = 0, .hour = 9}};
  EXPECT_EQ(check(both),
            (std::vector<std::pair<Field, std::string>>{
                {Field::calendar, "Choose either an interval or times of day, not both"}}));
  both.startInterval.reset();
  EXPECT_TRUE(check(both).empty());

  NewAgent logs = good;
  logs.log = dir_.path().string();
  EXPECT_EQ(check(logs)[0].second, dir_.path().string() + " is a folder");
  logs.log = "/nonexistent/job.log";
  EXPECT_EQ(check(logs)[0].second, "No such folder: /nonexistent");

  // Taken labels and an existing file, in Chinese too.
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(check(good, {{{"com.example.job", "old.plist"}}, {}})[0].second,
            "「com.example.job」已被 old.plist 使用");
  EXPECT_EQ(check(good, {{}, {"com.example.job"}})[0].second,
            "「com.example.job」已在 launchd 中加载");
  testing::writeFile(dir_ / "com.example.job.plist", "");
  EXPECT_EQ(check(good)[0].second, (dir_ / "com.example.job.plist").string() + " 已经存在");
  EXPECT_EQ(check(NewAgent{"x", "/nonexistent", {}, false, false, {}, {}})[0].second,
            "找不到程序：/nonexistent");
  EXPECT_EQ(check(NewAgent{"a\u2066b", "/bin/sh", {}, false, false, {}, {}})[0].second,
            "标签不能含有改变文字方向的字符（如 U+202E）");
}

TEST(NewAgentFields, IntervalsAndProgramsAsTyped) {
  EXPECT_EQ(NewAgents::interval("5", 60), 300);
  EXPECT_EQ(NewAgents::interval("2147483647", 1), 2147483647);
  EXPECT_FALSE(NewAgents::interval("2147483647", 60));  // in minutes, beyond StartInterval
  for (const char* bad : {"0", "-1", "+1", " 1", "1 ", "1.0", "1e3", "x", ""})
    EXPECT_FALSE(NewAgents::interval(bad, 1)) << bad;

  testing::TempDir dir;
  testing::writeScript(dir / "bin/tool", "true");
  testing::writeScript(dir / "relative/other", "true");
  testing::ScopedEnv path("PATH", "relative:" + (dir / "bin").string() + ":/usr/bin:/bin");
  EXPECT_EQ(NewAgents::resolvedProgram("tool", "/"), (dir / "bin/tool").string());
  EXPECT_EQ(NewAgents::resolvedProgram("other", dir.path()), "other");  // relative PATH entry
  EXPECT_EQ(NewAgents::resolvedProgram("./bin/../bin/tool", dir.path()),
            (dir / "bin/tool").string());
  EXPECT_EQ(NewAgents::resolvedProgram("/abs/x", dir.path()), "/abs/x");
}

TEST(NewAgentPropertyList, WritesOnlyTheKeysAskedForInTheirTypes) {
  NewAgent agent{"com.example.job", "/bin/echo", {"<b>&amp;</b>", ""}, false, true, 90,
                 "/tmp/j.log"};
  PlistPtr root = parsePropertyList(NewAgents::propertyList(agent));
  ASSERT_TRUE(root);
  EXPECT_EQ(dictionaryString(root.get(), "Label"), "com.example.job");
  plist_t arguments = plist_dict_get_item(root.get(), "ProgramArguments");
  ASSERT_EQ(plist_array_get_size(arguments), 3u);
  char* second = nullptr;
  plist_get_string_val(plist_array_get_item(arguments, 1), &second);
  EXPECT_STREQ(second, "<b>&amp;</b>");
  std::free(second);
  EXPECT_EQ(plist_dict_get_item(root.get(), "RunAtLoad"), nullptr);
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root.get(), "KeepAlive")), PLIST_BOOLEAN);
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root.get(), "StartInterval")), PLIST_UINT);
  EXPECT_EQ(dictionaryString(root.get(), "StandardErrorPath"), "/tmp/j.log");
  EXPECT_EQ(plist_dict_get_size(root.get()), 6u);

  agent.startInterval.reset();
  agent.calendar = {{.minute = 0, .hour = 9, .weekday = 1}, {.minute = 0, .hour = 9, .weekday = 5}};
  root = parsePropertyList(NewAgents::propertyList(agent));
  ASSERT_TRUE(root);
  EXPECT_EQ(plist_dict_get_item(root.get(), "StartInterval"), nullptr);
  plist_t calendar = plist_dict_get_item(root.get(), "StartCalendarInterval");
  ASSERT_EQ(plist_get_node_type(calendar), PLIST_ARRAY);
  EXPECT_EQ(plist_array_get_size(calendar), 2u);
}

}  // namespace
}  // namespace morvane
