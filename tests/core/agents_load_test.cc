#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "agents.h"
#include "language.h"
#include "platform.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::readText;

/// setLoaded against small launchctl scripts that take the paths a real manager rarely takes.
class SetLoadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::launchctl, dir_ / "launchctl");
    Language::apply("en");
  }
  void TearDown() override { platform::resetToolPaths(); }

  /// A launchctl that logs each call, lists the labels in `loaded` (or fails to list while
  /// `broken` exists), and runs `body` otherwise.
  void fake(const std::string& body) {
    const std::string d = dir_.path().string();
    testing::writeScript(dir_ / "launchctl",
                         "d='" + d +
                             "'\necho \"$*\" >> \"$d/calls\"\n"
                             "if [ \"$1\" = list ]; then [ -e \"$d/broken\" ] && "
                             "{ echo 'state.json: unexpected end' >&2; exit 1; };"
                             " printf 'PID\\tStatus\\tLabel\\n';"
                             " cat \"$d/loaded\" 2>/dev/null; exit 0; fi\n" +
                             body);
  }

  std::string calls() const { return readText(dir_ / "calls"); }

  Agent agent(bool disabled = false) const {
    return Agent{"job.plist", "/agents/job.plist", "com.example.job",
                 false,       std::nullopt,        disabled};
  }

  testing::TempDir dir_;
  testing::ScopedEnv language_{"MORVANE_LANG", std::nullopt};
  const std::string domain_ = "gui/" + std::to_string(::getuid());
};

constexpr const char* kLoadOnBootstrap =
    "case $1 in bootstrap) printf '1\\t0\\tcom.example.job\\n' > \"$d/loaded\";;"
    " bootout) rm -f \"$d/loaded\";; esac";

TEST_F(SetLoadedTest, LoadThatTakesAtOnceIsConfirmedByOneCheck) {
  fake(kLoadOnBootstrap);
  EXPECT_TRUE(Agents::setLoaded(agent(), true));
  EXPECT_EQ(calls(), "bootstrap " + domain_ + " /agents/job.plist\nlist\n");
}

TEST_F(SetLoadedTest, DisabledAgentIsEnabledBeforeBootstrapAndUnloadOnlyBootsOut) {
  fake(kLoadOnBootstrap);
  EXPECT_TRUE(Agents::setLoaded(agent(true), true));
  EXPECT_TRUE(Agents::setLoaded(agent(true), false));
  EXPECT_EQ(calls(), "enable " + domain_ + "/com.example.job\nbootstrap " + domain_ +
                         " /agents/job.plist\nlist\nbootout " + domain_ +
                         "/com.example.job\nlist\n");
}

TEST_F(SetLoadedTest, FailingEnableStopsTheSequenceAndGivesItsReason) {
  fake("[ $1 = enable ] && { echo 'enable broke' >&2; exit 1; }; exit 0");
  Outcome outcome = Agents::setLoaded(agent(true), true);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text, "com.example.job did not load: enable broke");
  EXPECT_EQ(calls().find("bootstrap"), std::string::npos);
}

TEST_F(SetLoadedTest, ErrorThatLeavesTheWantedStateIsASuccess) {
  fake("echo 'Bootstrap failed: 5: Input/output error' >&2; exit 5");
  testing::writeFile(dir_ / "loaded", "7\t0\tcom.example.job\n");
  EXPECT_TRUE(Agents::setLoaded(agent(), true));
  testing::writeFile(dir_ / "loaded", "7\t0\tsomething.else\n");
  EXPECT_TRUE(Agents::setLoaded(agent(), false));
  EXPECT_EQ(calls(), "bootstrap " + domain_ + " /agents/job.plist\nlist\nbootout " + domain_ +
                         "/com.example.job\nlist\n");
}

TEST_F(SetLoadedTest, UnconfirmedLoadFailsAfterTwentyChecksWithLaunchctlsReason) {
  fake("echo '  stdout reason  '; echo ' ' >&2; exit 0");
  Outcome outcome = Agents::setLoaded(agent(), true);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text, "com.example.job did not load: stdout reason");
  std::string log = calls();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 21);
}

TEST_F(SetLoadedTest, UnconfirmedUnloadWithoutAnyOutputSaysSoInChinese) {
  fake("exit 0");
  testing::writeFile(dir_ / "loaded", "7\t0\tcom.example.job\n");
  Language::apply("zh");
  Outcome outcome = Agents::setLoaded(agent(), false);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text, "「com.example.job」没有卸载掉：launchctl 没有给出原因。");
}

TEST_F(SetLoadedTest, MissingLaunchctlGivesTheStartFailureAsReason) {
  platform::overrideToolPath(platform::Tool::launchctl, dir_ / "absent");
  const std::string reason = (dir_ / "absent").string() + ": No such file or directory";
  Outcome outcome = Agents::setLoaded(agent(), false);
  ASSERT_FALSE(outcome) << "a list that cannot be read confirms no unload";
  EXPECT_EQ(outcome.error().text, "com.example.job did not unload: " + reason);
  outcome = Agents::setLoaded(agent(), true);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text, "com.example.job did not load: " + reason);
}

TEST_F(SetLoadedTest, ListThatFailsConfirmsNothingAndEndsTheChecks) {
  fake("exit 0");
  testing::writeFile(dir_ / "loaded", "7\t0\tcom.example.job\n");
  testing::writeFile(dir_ / "broken", "");
  Outcome outcome = Agents::setLoaded(agent(), false);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text,
            "com.example.job did not unload: launchctl list failed: state.json: unexpected end");
  EXPECT_EQ(calls(), "bootout " + domain_ + "/com.example.job\nlist\n");
}

TEST_F(SetLoadedTest, HangingCommandIsEndedAtItsTimeLimitAndTheStateStillDecides) {
  fake("printf '1\\t0\\tcom.example.job\\n' > \"$d/loaded\"; exec sleep 600");
  const auto start = std::chrono::steady_clock::now();
  Outcome outcome = Agents::setLoaded(agent(), true, 0.5);
  EXPECT_TRUE(outcome);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace morvane
