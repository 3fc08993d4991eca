// setLoaded and scan against the bundled service manager, with real job processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "agents.h"
#include "language.h"
#include "platform.h"
#include "shell.h"
#include "test_support.h"

namespace morvane {
namespace {

class AgainstServiceManager : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);
    Language::apply("en");
    testing::writeFile(agents_ / "sleeper.plist",
                       "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                       "<key>Label</key><string>com.example.sleeper</string>"
                       "<key>ProgramArguments</key><array><string>/bin/sleep</string>"
                       "<string>300</string></array><key>RunAtLoad</key><true/></dict></plist>");
  }
  void TearDown() override {
    Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget("com.example.sleeper")}, 30);
    platform::resetToolPaths();
  }

  Agent sleeper() {
    std::vector<Agent> agents = Agents::scan(agents_.path());
    EXPECT_EQ(agents.size(), 1u);
    return agents.empty() ? Agent{} : agents.front();
  }

  testing::TempDir home_;
  testing::ScopedEnv homeVariable_{"HOME", home_.path().string()};
  testing::ScopedEnv language_{"MORVANE_LANG", std::nullopt};
  testing::TempDir agents_;
};

bool processExists(int64_t pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

TEST_F(AgainstServiceManager, LoadStartsARealProcessAndUnloadEndsIt) {
  ASSERT_FALSE(sleeper().loaded);
  ASSERT_TRUE(Agents::setLoaded(sleeper(), true));
  Agent loaded = sleeper();
  ASSERT_TRUE(loaded.loaded);
  ASSERT_TRUE(loaded.pid);
  EXPECT_TRUE(processExists(*loaded.pid));

  ASSERT_TRUE(Agents::setLoaded(loaded, false));
  EXPECT_FALSE(sleeper().loaded);
  EXPECT_FALSE(processExists(*loaded.pid));
}

TEST_F(AgainstServiceManager, RefusalsThatLeaveTheWantedStateStillSucceed) {
  // Booting out what is not loaded fails in launchctl, but nothing is listed: confirmed.
  EXPECT_TRUE(Agents::setLoaded(sleeper(), false));
  ASSERT_TRUE(Agents::setLoaded(sleeper(), true));
  // A second bootstrap is refused, but the label is listed: confirmed.
  EXPECT_TRUE(Agents::setLoaded(sleeper(), true));
}

TEST_F(AgainstServiceManager, DisabledAgentIsEnabledAndLoaded) {
  Shell::run(LAUNCHCTL_STANDIN, {"disable", Agents::serviceTarget("com.example.sleeper")}, 30);
  Agent disabled = sleeper();
  ASSERT_TRUE(disabled.disabled);
  ASSERT_TRUE(Agents::setLoaded(disabled, true));
  Agent loaded = sleeper();
  EXPECT_TRUE(loaded.loaded);
  EXPECT_FALSE(loaded.disabled);
  // Unloading leaves the override alone: the agent stays enabled.
  ASSERT_TRUE(Agents::setLoaded(loaded, false));
  EXPECT_FALSE(sleeper().disabled);
}

TEST_F(AgainstServiceManager, UnloadOfAnAgentThatOutlastsItsTermSaysWhatItWaitsFor) {
  testing::writeFile(agents_ / "sleeper.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                     "<key>Label</key><string>com.example.sleeper</string>"
                     "<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string>"
                     "<string>trap '' TERM; while :; do sleep 0.1; done</string></array>"
                     "<key>RunAtLoad</key><true/><key>ExitTimeOut</key><integer>600</integer>"
                     "</dict></plist>");
  ASSERT_TRUE(Agents::setLoaded(sleeper(), true));
  const Agent loaded = sleeper();
  ASSERT_TRUE(loaded.pid);
  Outcome outcome = Agents::setLoaded(loaded, false);
  ASSERT_FALSE(outcome);
  const std::string waiting =
      "com.example.sleeper did not unload: Boot-out failed: 36: Operation "
      "now in progress\nWaiting for com.example.sleeper (pid " +
      std::to_string(*loaded.pid) + ") to exit after SIGTERM; SIGKILL follows in ";
  EXPECT_TRUE(outcome.error().text.starts_with(waiting)) << outcome.error().text;
  EXPECT_TRUE(sleeper().loaded) << "listed while it runs";
  // TearDown's bootout cannot wait ten minutes either: end it here.
  ::kill(static_cast<pid_t>(*loaded.pid), SIGKILL);
}

TEST_F(AgainstServiceManager, AgentThatCannotLoadFailsWithTheManagersReason) {
  testing::writeFile(agents_ / "sleeper.plist", "not a property list");
  Outcome outcome = Agents::setLoaded(sleeper(), true);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().text,
            "sleeper did not load: Bootstrap failed: 5: Input/output error\n"
            "Try re-running the command as root for richer errors.");
}

}  // namespace
}  // namespace morvane
