// --check: each agent file's problems with their fixes, as text and as JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent_home.h"
#include "agents.h"
#include "cli.h"

namespace morvane {
namespace {

using testing::printed;

class Check : public testing::AgentHome {
 protected:
  testing::Printed check(const std::vector<std::string>& names, bool json = false) {
    return printed([&](std::ostream& out, std::ostream& err) {
      return json ? CLI::checkJson(out, names, err) : CLI::check(out, names, err);
    });
  }
};

TEST_F(Check, NamesEachProblemUnderItsAgentAndCountsThem) {
  writeAgent("com.example.good.plist", "com.example.good", {"/bin/true"});
  const std::string gone = (home_ / "gone").string();
  writeAgent("com.example.bad.plist", "com.example.bad", {gone}, {{"RunAtload", "yes"}});
  writeAgent("com.example.odd.plist", "com.example.odd", {"/bin/true"}, {{"Colour", "blue"}});
  launchctl({"disable", Agents::serviceTarget("com.example.odd")});

  testing::Printed all = check({});
  EXPECT_EQ(
      all.text,
      "com.example.bad\n"
      "  ✗ Its program " +
          gone +
          " does not exist: install it or correct the path.\n"
          "  ✗ RunAtload: did you mean RunAtLoad?\n"
          "com.example.good\n"
          "  ✓ no problems\n"
          "com.example.odd\n"
          "  · Colour is not a key the service manager knows: it is ignored; correct it if it "
          "is a typo.\n"
          "  · It is disabled: enable it with launchctl enable " +
          Agents::serviceTarget("com.example.odd") +
          "; loading it here does so first.\n"
          "3 agents checked: 2 errors, 2 notes\n");
  EXPECT_EQ(all.status, 1);

  // Notes alone are no failure; a name nothing answers to is.
  testing::Printed some = check({"com.example.odd", "com.example.good.plist"});
  EXPECT_TRUE(some.text.ends_with("2 agents checked: 0 errors, 2 notes\n")) << some.text;
  EXPECT_EQ(some.status, 0);
  testing::Printed unknown = check({"com.example.nothing"});
  EXPECT_TRUE(unknown.text.starts_with("✗ ")) << unknown.text;
  EXPECT_TRUE(unknown.text.ends_with("0 agents checked: 0 errors, 0 notes\n"));
  EXPECT_EQ(unknown.status, 1);

  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(check({"com.example.good"}).text,
            "com.example.good\n  ✓ 没有发现问题\n检查了 1 个启动项：0 个错误，0 个提示\n");
}

TEST_F(Check, JsonCarriesEachProblemsSeverityKindAndText) {
  writeAgent("com.example.good.plist", "com.example.good", {"/bin/true"});
  writeAgent("twin.plist", "com.example.good", {"/bin/true"});
  testing::writeFile(agents() / "broken.plist", "<plist><dict><key>Label</key></plist>");

  testing::Printed printedJson = check({}, true);
  EXPECT_EQ(printedJson.status, 1);
  const nlohmann::json array = nlohmann::json::parse(printedJson.text);
  ASSERT_EQ(array.size(), 3u);
  std::map<std::string, nlohmann::json> byFile;
  for (const nlohmann::json& agent : array)
    byFile[agent["file"]] = agent;
  EXPECT_EQ(byFile["broken.plist"]["valid"], false);
  EXPECT_EQ(byFile["broken.plist"]["problems"][0]["kind"], "not-property-list");
  EXPECT_EQ(byFile["broken.plist"]["problems"][0]["severity"], "error");
  EXPECT_NE(byFile["broken.plist"]["problems"][0]["text"].get<std::string>().find("line 1"),
            std::string::npos);
  EXPECT_EQ(byFile["twin.plist"]["problems"][0]["kind"], "duplicate-label");
  EXPECT_EQ(byFile["twin.plist"]["problems"][0]["text"],
            "com.example.good.plist uses the label com.example.good as well: give one of them "
            "another Label.");
  EXPECT_EQ(byFile["com.example.good.plist"]["label"], "com.example.good");
}

}  // namespace
}  // namespace morvane
