// list and print-disabled output forms, enable/disable overrides, and isolation by HOME.

#include <unistd.h>

#include "harness.h"

namespace launchctl_test {
namespace {

using OverridesTest = LaunchctlTest;
using BuiltinOverridesTest = BuiltinLaunchctlTest;

constexpr char kEmptyOverrides[] =
    "\n\tdisabled services = {\n\t}\n\n\tlogin item associations = {\n\t}\n";

TEST_P(OverridesTest, FreshManagerListsNothing) {
  const Result list = run({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "PID\tStatus\tLabel\n");
  EXPECT_EQ(list.err, "");
  const Result disabled = run({"print-disabled", domain()});
  EXPECT_EQ(disabled.status, 0);
  EXPECT_EQ(disabled.out, kEmptyOverrides);
}

TEST_P(OverridesTest, OverridesAreRecordedForAnyLabelAndReplaced) {
  for (const auto& [verb, label] :
       std::vector<std::pair<std::string, std::string>>{{"disable", "org.example.b"},
                                                        {"enable", "org.example.a"},
                                                        {"disable", "org.example.c"},
                                                        {"enable", "org.example.c"}}) {
    const Result result = run({verb, service(label)});
    EXPECT_EQ(result.status, 0) << verb << " " << label;
    EXPECT_EQ(result.out + result.err, "");
  }
  EXPECT_EQ(run({"print-disabled", domain()}).out,
            "\n\tdisabled services = {\n"
            "\t\t\"org.example.a\" => enabled\n"
            "\t\t\"org.example.b\" => disabled\n"
            "\t\t\"org.example.c\" => enabled\n"
            "\t}\n\n\tlogin item associations = {\n\t}\n");
  EXPECT_EQ(listRows().size(), 0u) << "overrides load nothing";
}

TEST_P(OverridesTest, DisablingRefusesBootstrapButLeavesLoadedJobRunning) {
  load("org.example.running", {"sleep", "30"});
  const pid_t pid = pidOf("org.example.running");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(run({"disable", service("org.example.running")}).status, 0);
  EXPECT_EQ(pidOf("org.example.running"), pid);
  EXPECT_TRUE(isRunning(pid));

  ASSERT_EQ(run({"disable", service("org.example.off")}).status, 0);
  const std::string plist = writeJob("org.example.off", {"sleep", "30"});
  const Result refused = run({"bootstrap", domain(), plist});
  EXPECT_EQ(refused.status, 5);
  EXPECT_EQ(refused.err,
            "Bootstrap failed: 5: Input/output error\n"
            "Try re-running the command as root for richer errors.\n");
  EXPECT_FALSE(rowOf("org.example.off"));

  ASSERT_EQ(run({"enable", service("org.example.off")}).status, 0);
  EXPECT_EQ(run({"bootstrap", domain(), plist}).status, 0);
  EXPECT_GT(pidOf("org.example.off"), 0);
}

TEST_F(BuiltinOverridesTest, EachHomeHasItsOwnManager) {
  std::string pattern = (std::filesystem::temp_directory_path() / "launchctl-other-XXXXXX");
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path otherHome = pattern;
  const RunOptions other{otherHome, engineEnvironment(), {}};

  load("org.example.mine", {"sleep", "30"});
  ASSERT_EQ(run({"disable", service("org.example.x")}).status, 0);
  EXPECT_EQ(runLaunchctl({"list"}, other).out, "PID\tStatus\tLabel\n");
  EXPECT_EQ(runLaunchctl({"print-disabled", domain()}, other).out, kEmptyOverrides);

  // The same label loads independently in the other manager.
  const Result loaded =
      runLaunchctl({"bootstrap", domain(), writeJob("org.example.mine", {"sleep", "30"})}, other);
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(runLaunchctl({"bootout", service("org.example.mine")}, other).status, 0);
  EXPECT_EQ(runLaunchctl({"list"}, other).out, "PID\tStatus\tLabel\n");
  EXPECT_GT(pidOf("org.example.mine"), 0);
  std::filesystem::remove_all(otherHome);
}

LAUNCHCTL_ON_BOTH_ENGINES(OverridesTest);

}  // namespace
}  // namespace launchctl_test
