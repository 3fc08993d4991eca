// --json output read back with a JSON parser, field by field.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>

#include "agent_home.h"
#include "agents.h"
#include "cli.h"

namespace morvane {
namespace {

// Ordered, so that the key order the output promises is checked too.
using json = nlohmann::ordered_json;
using testing::printed;

class JsonOutput : public testing::AgentHome {
 protected:
  json listJson() {
    testing::Printed shown = printed([](std::ostream& out) { return CLI::listJson(out); });
    EXPECT_EQ(shown.status, 0);
    return json::parse(shown.text);
  }
  json statusJson(const std::string& name) {
    testing::Printed shown = printed([&](std::ostream& out) { return CLI::statusJson(out, name); });
    EXPECT_EQ(shown.status, 0) << shown.text;
    return json::parse(shown.text);
  }
  void load(const std::string& name) {
    ASSERT_EQ(printed([&](std::ostream& out) { return CLI::setLoaded(out, name, true); }).status,
              0);
  }
};

std::vector<std::string> keys(const json& object) {
  std::vector<std::string> names;
  for (const auto& [key, value] : object.items())
    names.push_back(key);
  return names;
}

TEST_F(JsonOutput, ListingCarriesEveryFactWithItsType) {
  const std::string quoted = "com.example.\"quoted\"\t备份";
  writeAgent("running.plist", "com.example.running", testing::kSleeper);
  writeAgent("fails.plist", "com.example.fails", {"/bin/sh", "-c", "exit 3"});
  writeAgent("killed.plist", "com.example.killed", testing::kSleeper);
  writeAgent("quoted.plist", quoted, testing::kSleeper);
  writeSettings(R"({"friendlyNames":{"com.example.running":"Runner \"R\" 跑"}})");
  launchctl({"disable", Agents::serviceTarget(quoted)});
  load("com.example.running");
  load("com.example.fails");
  load("com.example.killed");
  const std::optional<int64_t> killed = pidOf("com.example.killed");
  ASSERT_TRUE(killed);
  ::kill(static_cast<pid_t>(*killed), SIGTERM);
  waitForExit("com.example.fails", 3);
  waitForExit("com.example.killed", -SIGTERM);

  json listed = listJson();
  ASSERT_TRUE(listed.is_array());
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(keys(listed[0]),
            (std::vector<std::string>{"label", "file", "path", "loaded", "pid", "lastExitStatus",
                                      "disabled", "friendlyName"}));
  // Loaded first, then by label.
  EXPECT_EQ(listed[0]["label"], "com.example.fails");
  EXPECT_EQ(listed[0]["lastExitStatus"], 3);
  EXPECT_TRUE(listed[0]["pid"].is_null());
  EXPECT_EQ(listed[1]["label"], "com.example.killed");
  EXPECT_EQ(listed[1]["lastExitStatus"], -15);
  EXPECT_EQ(listed[1]["loaded"], true);

  const json& running = listed[2];
  EXPECT_EQ(running["label"], "com.example.running");
  EXPECT_EQ(running["file"], "running.plist");
  EXPECT_EQ(running["path"], (agents() / "running.plist").string());
  EXPECT_EQ(running["loaded"], true);
  ASSERT_TRUE(running["pid"].is_number_integer());
  EXPECT_EQ(running["pid"].get<int64_t>(), pidOf("com.example.running"));
  EXPECT_EQ(running["lastExitStatus"], 0);
  EXPECT_EQ(running["disabled"], false);
  EXPECT_EQ(running["friendlyName"], "Runner \"R\" 跑");

  const json& idle = listed[3];
  EXPECT_EQ(idle["label"], quoted);
  EXPECT_EQ(idle["loaded"], false);
  EXPECT_TRUE(idle["pid"].is_null());
  EXPECT_TRUE(idle["lastExitStatus"].is_null());
  EXPECT_EQ(idle["disabled"], true);
  EXPECT_TRUE(idle["friendlyName"].is_null());
}

TEST_F(JsonOutput, ControlCharactersAreEscapedAndBadBytesReplaced) {
  writeAgent("tab.plist", "com.example.tab\there", testing::kSleeper);
  testing::writeFile(agents() / "bad-\xFF.plist", "");
  testing::Printed shown = printed([](std::ostream& out) { return CLI::listJson(out); });
  EXPECT_NE(shown.text.find(R"("com.example.tab\there")"), std::string::npos) << shown.text;
  // One agent per line between the brackets; a tab inside a label stays escaped on its line.
  EXPECT_EQ(std::count(shown.text.begin(), shown.text.end(), '\n'), 4);
  json listed = json::parse(shown.text);  // throws on invalid UTF-8
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["file"], "bad-\xEF\xBF\xBD.plist");
  EXPECT_EQ(listed[1]["label"], "com.example.tab\there");
}

TEST_F(JsonOutput, EmptyDirectoryIsAnEmptyArray) {
  EXPECT_EQ(printed([](std::ostream& out) { return CLI::listJson(out); }).text, "[]\n");
}

TEST_F(JsonOutput, StatusAddsProgramArgumentsAndLogPaths) {
  const std::string log = (agents().parent_path() / "fails \"out\".log").string();
  writeAgent("fails.plist", "com.example.fails", {"/bin/sh", "-c", "echo \"hi\"; exit 3"},
             {{"StandardOutPath", log}});
  load("fails");
  waitForExit("com.example.fails", 3);

  json status = statusJson("fails.plist");
  EXPECT_EQ(keys(status),
            (std::vector<std::string>{"label", "file", "path", "loaded", "pid", "lastExitStatus",
                                      "disabled", "friendlyName", "program", "arguments",
                                      "standardOutPath", "standardErrorPath", "schedule", "nextRun",
                                      "calendar", "runs", "runsProblem"}));
  EXPECT_EQ(status["label"], "com.example.fails");
  EXPECT_EQ(status["loaded"], true);
  EXPECT_TRUE(status["pid"].is_null());
  EXPECT_EQ(status["lastExitStatus"], 3);
  EXPECT_EQ(status["program"], "/bin/sh");
  EXPECT_EQ(status["arguments"], json::array({"/bin/sh", "-c", "echo \"hi\"; exit 3"}));
  EXPECT_EQ(status["standardOutPath"], log);
  EXPECT_TRUE(status["standardErrorPath"].is_null());
  EXPECT_EQ(status["schedule"], "at load");
  EXPECT_TRUE(status["nextRun"].is_null());
  EXPECT_EQ(status["calendar"], json::array());
  // Its one run: started at load, exited 3, with its times in local time and its duration.
  ASSERT_EQ(status["runs"].size(), 1u) << status["runs"];
  json run = status["runs"][0];
  EXPECT_EQ(run["exitCode"], 3);
  EXPECT_TRUE(run["signal"].is_null());
  EXPECT_EQ(run["cause"], "load");
  EXPECT_EQ(run["endedByUnload"], false);
  EXPECT_TRUE(std::regex_match(run["started"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << run["started"];
  EXPECT_GE(run["durationSeconds"].get<double>(), 0);
  EXPECT_LT(run["durationSeconds"].get<double>(), 60);
  EXPECT_TRUE(status["runsProblem"].is_null());
}

TEST_F(JsonOutput, StatusOfAnUnreadableListHasNullsAndAnUnknownNameFails) {
  testing::writeFile(agents() / "junk.plist", "junk");
  json status = statusJson("junk");
  EXPECT_EQ(status["label"], "junk");
  EXPECT_TRUE(status["program"].is_null());
  EXPECT_EQ(status["arguments"], json::array());
  EXPECT_EQ(status["runs"], json::array()) << "an agent that is not loaded has no runs";

  testing::Printed unknown =
      printed([](std::ostream& out) { return CLI::statusJson(out, "nothing"); });
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.text, "✗ No agent named nothing\n");
}

}  // namespace
}  // namespace morvane
