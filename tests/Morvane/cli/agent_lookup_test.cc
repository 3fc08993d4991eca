#include "agent_lookup.h"

#include <gtest/gtest.h>

#include "label_suggestions.h"
#include "language.h"
#include "test_support.h"

namespace morvane {
namespace {

Agent agent(const std::string& file, const std::string& label) {
  return Agent{file, "/agents/" + file, label, false, std::nullopt, false};
}

class Lookup : public ::testing::Test {
 protected:
  void SetUp() override { Language::apply(std::nullopt); }
  testing::ScopedEnv english_{"MORVANE_LANG", "en"};
};

TEST_F(Lookup, LabelOrFileNameWithOrWithoutSuffix) {
  const std::vector<Agent> agents = {agent("sync.plist", "com.example.sync"),
                                     agent("com.example.backup.plist", "com.example.backup")};
  EXPECT_EQ(findAgent(agents, "com.example.sync")->file, "sync.plist");
  EXPECT_EQ(findAgent(agents, "sync")->label, "com.example.sync");
  EXPECT_EQ(findAgent(agents, "sync.plist")->label, "com.example.sync");
  // A label and its own file name mean the same agent: no ambiguity.
  EXPECT_EQ(findAgent(agents, "com.example.backup")->file, "com.example.backup.plist");
  EXPECT_FALSE(findAgent(agents, "SYNC"));
  EXPECT_FALSE(findAgent(agents, "sync.PLIST"));
  EXPECT_FALSE(findAgent(agents, ""));
}

TEST_F(Lookup, SeveralAgentsAnsweringToANameAreRefusedAndAFileNameChooses) {
  const std::vector<Agent> agents = {agent("a.plist", "twin"), agent("twin.plist", "other"),
                                     agent("b.plist", "twin")};
  Result<Agent> found = findAgent(agents, "twin");
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error().text,
            "twin names more than one agent: a.plist, b.plist, twin.plist. "
            "Give the file name to choose one");
  EXPECT_EQ(findAgent(agents, "twin.plist")->label, "other");
  EXPECT_EQ(findAgent(agents, "b")->file, "b.plist");
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(findAgent(agents, "twin").error().text,
            "「twin」对应多个启动项：a.plist、b.plist、twin.plist。请用文件名指定其中一个");
}

TEST_F(Lookup, SuggestionsPreferLabelsContainingTheNameThenFewEdits) {
  const std::vector<Agent> agents = {
      agent("1.plist", "com.example.sync"),     agent("2.plist", "com.example.syncthing"),
      agent("3.plist", "org.other.Sync"),       agent("4.plist", "com.example.backup"),
      agent("5.plist", "com.example.sync"),     agent("6.plist", "com.exampel.backup"),
      agent("7.plist", "com.example.unrelated")};
  EXPECT_EQ(
      closestLabels(agents, "sync"),
      (std::vector<std::string>{"org.other.Sync", "com.example.sync", "com.example.syncthing"}));
  EXPECT_EQ(closestLabels(agents, "com.example.bakup"),
            (std::vector<std::string>{"com.example.backup", "com.exampel.backup"}));
  EXPECT_EQ(closestLabels(agents, "com.example.backup", 1),
            (std::vector<std::string>{"com.example.backup"}));
  EXPECT_TRUE(closestLabels(agents, "zzz").empty());
  EXPECT_TRUE(closestLabels(agents, "").empty());
}

TEST_F(Lookup, EditsAreCountedUpToTheAllowanceOnlyAndAbsurdNamesOnlyByContainment) {
  // A 60-character name allows 12 edits, whichever kind.
  const std::string a60(60, 'a');
  auto suggested = [](const std::string& label, const std::string& name) {
    return closestLabels({agent("x.plist", label)}, name).size() == 1;
  };
  EXPECT_TRUE(suggested(a60, std::string(12, 'b') + std::string(48, 'a')));
  EXPECT_FALSE(suggested(a60, std::string(13, 'b') + std::string(47, 'a')));
  EXPECT_TRUE(suggested(std::string(48, 'a'), a60));
  EXPECT_FALSE(suggested(std::string(47, 'a'), a60));
  EXPECT_TRUE(suggested("ab" + a60 + "cd" + a60.substr(2), "ba" + a60 + "dc" + a60.substr(2)));
  // A name longer than any typo: contained in a label, or nothing.
  EXPECT_FALSE(suggested(std::string(299, 'a'), std::string(300, 'a')));
  EXPECT_TRUE(suggested("x" + std::string(300, 'a'), std::string(300, 'a')));
  std::vector<Agent> many;
  for (int i = 0; i < 5000; ++i)
    many.push_back(agent(std::to_string(i) + ".plist", "com.example.agent-" + std::to_string(i)));
  EXPECT_TRUE(closestLabels(many, std::string(100000, 'e')).empty());
}

TEST_F(Lookup, NotFoundTextListsTheSuggestions) {
  const std::vector<Agent> agents = {agent("a.plist", "备份.daily"),
                                     agent("b.plist", "备份.weekly"), agent("c.plist", "mail")};
  EXPECT_EQ(findAgent(agents, "备份").error().text,
            "No agent named 备份. Did you mean 备份.daily or 备份.weekly?");
  EXPECT_EQ(findAgent(agents, "male").error().text, "No agent named male. Did you mean mail?");
  EXPECT_EQ(findAgent(agents, "calendar").error().text, "No agent named calendar");
}

}  // namespace
}  // namespace morvane
