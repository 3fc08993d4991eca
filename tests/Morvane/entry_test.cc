#include "entry.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

Mode mode(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/Applications/Morvane.app/Contents/MacOS/Morvane");
  return chooseMode(arguments);
}

TEST(ChooseMode, FirstOptionInPrecedenceOrderWinsWhereverItStands) {
  EXPECT_EQ(mode({"--list"}), Mode::list);
  EXPECT_EQ(mode({"--update", "--list"}), Mode::list);
  EXPECT_EQ(mode({"--update", "--selftest"}), Mode::selfTest);
  EXPECT_EQ(mode({"x", "--update"}), Mode::update);
  EXPECT_EQ(mode({"--check", "--update"}), Mode::checkForUpdate);
}

TEST(ChooseMode, AnythingElseStartsTheMenuBarApplication) {
  EXPECT_EQ(mode({}), Mode::menuBarApp);
  EXPECT_EQ(mode({"--json", "--lines"}), Mode::menuBarApp);
  EXPECT_EQ(mode({"--LIST", "-list", "--list=1", " --list", "--selfTest"}), Mode::menuBarApp);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

std::expected<Invocation, UsageError> parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "Morvane");
  return parseInvocation(arguments);
}

TEST(ChooseMode, ListSelftestAndUpdateWinThenLoadUnloadStatusHelpAndVersionInThatOrder) {
  EXPECT_EQ(mode({"--load", "a", "--list"}), Mode::list);
  EXPECT_EQ(mode({"--status", "a", "--selftest"}), Mode::selfTest);
  EXPECT_EQ(mode({"--help", "--update"}), Mode::update);
  EXPECT_EQ(mode({"--unload", "a", "--load", "b"}), Mode::load);
  EXPECT_EQ(mode({"--status", "a", "--unload", "b"}), Mode::unload);
  EXPECT_EQ(mode({"--help", "--status", "a"}), Mode::status);
  EXPECT_EQ(mode({"--version", "--help"}), Mode::help);
  EXPECT_EQ(mode({"--check", "--update"}), Mode::checkForUpdate);
  EXPECT_EQ(mode({"--check", "--status", "a"}), Mode::status);
  EXPECT_EQ(mode({"--help", "--check"}), Mode::check);
  EXPECT_EQ(mode({"--version"}), Mode::version);
  EXPECT_EQ(mode({"-load", "a", "--Status", "a", "-help", "--VERSION", "--json", "--lines"}),
            Mode::menuBarApp);
}

TEST(ParseInvocation, TheAgentIsTheArgumentAfterItsOption) {
  auto load = parse({"x", "--load", "com.example.job", "y"});
  ASSERT_TRUE(load);
  EXPECT_EQ(load->mode, Mode::load);
  EXPECT_EQ(load->agent, "com.example.job");
  EXPECT_EQ(parse({"--unload", "job.plist"})->agent, "job.plist");
  auto status = parse({"--json", "--status", "备份 \"q\""});
  EXPECT_EQ(status->agent, "备份 \"q\"");
  EXPECT_TRUE(status->json);
  EXPECT_EQ(status->lines, 10u);
  // The first occurrence names the agent.
  EXPECT_EQ(parse({"--load", "a", "--load", "b"})->agent, "a");
  // --check takes every name after it, and none means all.
  auto check = parse({"x", "--check", "a", "--json", "b.plist"});
  EXPECT_EQ(check->agents, (std::vector<std::string>{"a", "b.plist"}));
  EXPECT_TRUE(check->json);
  EXPECT_TRUE(parse({"--check"})->agents.empty());
  // --schedule takes its options wherever they stand; one without its operand is left to the
  // check.
  auto schedule = parse({"--at", "7:05", "--schedule", "job", "--on", "weekdays", "--day"});
  ASSERT_TRUE(schedule);
  EXPECT_EQ(schedule->mode, Mode::schedule);
  EXPECT_EQ(schedule->agent, "job");
  EXPECT_EQ(schedule->schedule.at, "7:05");
  EXPECT_EQ(schedule->schedule.on, "weekdays");
  EXPECT_EQ(schedule->schedule.day, "");
  EXPECT_FALSE(schedule->schedule.every || schedule->schedule.none);
  auto none = parse({"--schedule", "job", "--every", "--none"});
  EXPECT_TRUE(none->schedule.none);
  EXPECT_EQ(none->schedule.every, "");
  EXPECT_EQ(mode({"--schedule", "a", "--new", "b", "--", "tool"}), Mode::newAgent);
  EXPECT_EQ(mode({"--check", "--help", "--schedule", "a"}), Mode::schedule);
}

TEST(ParseInvocation, AnOptionThatNeedsAnAgentAndHasNoneIsAnError) {
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"--load"},
                                             {"--load", "--json"},
                                             {"--status", "--lines", "5", "job"},
                                             {"--schedule", "--at", "09:00"}}) {
    auto parsed = parse(arguments);
    ASSERT_FALSE(parsed) << arguments[0];
    EXPECT_EQ(parsed.error().kind, UsageError::missingAgent);
    EXPECT_EQ(parsed.error().option, arguments[0]);
  }
  EXPECT_EQ(parse({"--unload"}).error().option, "--unload");
  // A losing option needs nothing.
  EXPECT_TRUE(parse({"--list", "--load"}));
}

TEST(ParseInvocation, NewTakesItsLabelOptionsAndEverythingAfterTheSeparator) {
  auto full = parse({"--new", "com.example.job", "--keep-alive", "--every", "60", "--log",
                     "out.log", "--at-load", "--", "/bin/echo", "--list", "--", "two words"});
  ASSERT_TRUE(full);
  EXPECT_EQ(full->mode, Mode::newAgent);
  EXPECT_EQ(full->newAgent.label, "com.example.job");
  EXPECT_TRUE(full->newAgent.atLoad);
  EXPECT_TRUE(full->newAgent.keepAlive);
  EXPECT_EQ(full->newAgent.schedule.every, "60");
  EXPECT_EQ(full->newAgent.log, "out.log");
  // What follows "--" is the program's, options included.
  EXPECT_EQ(full->newAgent.command,
            (std::vector<std::string>{"/bin/echo", "--list", "--", "two words"}));
  auto plain = parse({"--new", "job", "--", "tool"});
  EXPECT_FALSE(plain->newAgent.atLoad || plain->newAgent.keepAlive ||
               plain->newAgent.schedule.every || plain->newAgent.log);
  // The earlier options still win; after "--new" they lose to it, as for the other modes.
  EXPECT_EQ(mode({"--new", "job", "--", "tool", "--status", "x"}), Mode::newAgent);
  EXPECT_EQ(mode({"--status", "x", "--new", "job", "--", "tool"}), Mode::status);
  EXPECT_EQ(mode({"--new", "job", "--help", "--", "tool"}), Mode::newAgent);
  EXPECT_EQ(mode({"--list", "--new", "job", "--", "tool"}), Mode::list);
  // Without "--new", "--" means nothing.
  EXPECT_EQ(mode({"--", "--list"}), Mode::list);

  const std::pair<std::vector<std::string>, UsageError> refused[] = {
      {{"--new"}, {UsageError::missingLabel, "--new"}},
      {{"--new", "--at-load", "--", "tool"}, {UsageError::missingLabel, "--new"}},
      {{"--new", "job"}, {UsageError::missingProgram, "--new"}},
      {{"--new", "job", "--at-load", "--"}, {UsageError::missingProgram, "--new"}},
      {{"--new", "job", "--log", "--", "tool"}, {UsageError::missingLogFile, "--log"}},
      {{"--new", "job", "--keepalive", "--", "tool"},
       {UsageError::unknownNewOption, "--keepalive"}},
      {{"--new", "job", "tool"}, {UsageError::unknownNewOption, "tool"}},
  };
  for (const auto& [arguments, error] : refused) {
    auto parsed = parse(arguments);
    ASSERT_FALSE(parsed) << arguments.size();
    EXPECT_EQ(parsed.error().kind, error.kind) << arguments.back();
    EXPECT_EQ(parsed.error().option, error.option);
    EXPECT_TRUE(parsed.error().ofNewAgent());
  }
  auto timed = parse({"--new", "job", "--at", "09:30", "--on", "mon,fri", "--day", "--", "x"});
  ASSERT_TRUE(timed);
  EXPECT_EQ(timed->newAgent.schedule.at, "09:30");
  EXPECT_EQ(timed->newAgent.schedule.on, "mon,fri");
  EXPECT_EQ(timed->newAgent.schedule.day, "");
  EXPECT_EQ(timed->newAgent.command, (std::vector<std::string>{"x"}));
  // "--every" without its number is left to the interval check.
  EXPECT_EQ(parse({"--new", "job", "--every", "--", "tool"})->newAgent.schedule.every, "");
}

TEST(ParseInvocation, LinesTakesAWholeNumberUpToTheLimit) {
  EXPECT_EQ(parse({"--status", "a", "--lines", "0"})->lines, 0u);
  EXPECT_EQ(parse({"--lines", "1000", "--status", "a"})->lines, 1000u);
  for (const char* bad : {"-1", "1001", "+5", "5x", "", "--json"}) {
    auto parsed = parse({"--status", "a", "--lines", bad});
    ASSERT_FALSE(parsed) << bad;
    EXPECT_EQ(parsed.error().kind, UsageError::badLineCount) << bad;
  }
  EXPECT_FALSE(parse({"--status", "a", "--lines"}));
  // Only the status reads it.
  EXPECT_TRUE(parse({"--load", "a", "--lines", "many"}));
}

}  // namespace
}  // namespace morvane
