// list and print-disabled output forms, enable/disable overrides, and isolation by HOME.

#include <unistd.h>

#include "harness.h"

namespace launchctl_test {
namespace {

using OverridesTest = LaunchctlTest;

constexpr char kEmptyOverrides[] =
    "\n\tdisabled services = {\n\t}\n\n\tlogin item associations = {\n\t}\n";

TEST_F(OverridesTest, FreshManagerListsNothing) {
  const Result list = Run({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "PID\tStatus\tLabel\n");
  EXPECT_EQ(list.err, "");
  const Result disabled = Run({"print-disabled", Domain()});
  EXPECT_EQ(disabled.status, 0);
  EXPECT_EQ(disabled.out, kEmptyOverrides);
}

TEST_F(OverridesTest, OverridesAreRecordedForAnyLabelAndReplaced) {
  for (const auto& [verb, label] :
       std::vector<std::pair<std::string, std::string>>{{"disable", "org.example.b"},
                                                        {"enable", "org.example.a"},
                                                        {"disable", "org.example.c"},
                                                        {"enable", "org.example.c"}}) {
    const Result result = Run({verb, Service(label)});
    EXPECT_EQ(result.status, 0) << verb << " " << label;
    EXPECT_EQ(result.out + result.err, "");
  }
  EXPECT_EQ(Run({"print-disabled", Domain()}).out,
            "\n\tdisabled services = {\n"
            "\t\t\"org.example.a\" => enabled\n"
            "\t\t\"org.example.b\" => disabled\n"
            "\t\t\"org.example.c\" => enabled\n"
            "\t}\n\n\tlogin item associations = {\n\t}\n");
  EXPECT_EQ(List().size(), 0u) << "overrides load nothing";
}

TEST_F(OverridesTest, DisablingRefusesBootstrapButLeavesLoadedJobRunning) {
  Load("org.example.running", {"sleep", "30"});
  const pid_t pid = PidOf("org.example.running");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(Run({"disable", Service("org.example.running")}).status, 0);
  EXPECT_EQ(PidOf("org.example.running"), pid);
  EXPECT_TRUE(IsRunning(pid));

  ASSERT_EQ(Run({"disable", Service("org.example.off")}).status, 0);
  const std::string plist = WriteJob("org.example.off", {"sleep", "30"});
  const Result refused = Run({"bootstrap", Domain(), plist});
  EXPECT_EQ(refused.status, 5);
  EXPECT_EQ(refused.err,
            "Bootstrap failed: 5: Input/output error\n"
            "Try re-running the command as root for richer errors.\n");
  EXPECT_FALSE(Row("org.example.off"));

  ASSERT_EQ(Run({"enable", Service("org.example.off")}).status, 0);
  EXPECT_EQ(Run({"bootstrap", Domain(), plist}).status, 0);
  EXPECT_GT(PidOf("org.example.off"), 0);
}

TEST_F(OverridesTest, EachHomeHasItsOwnManager) {
  std::string pattern = (std::filesystem::temp_directory_path() / "launchctl-other-XXXXXX");
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path other_home = pattern;
  const RunOptions other{other_home, {}, {}};

  Load("org.example.mine", {"sleep", "30"});
  ASSERT_EQ(Run({"disable", Service("org.example.x")}).status, 0);
  EXPECT_EQ(RunLaunchctl({"list"}, other).out, "PID\tStatus\tLabel\n");
  EXPECT_EQ(RunLaunchctl({"print-disabled", Domain()}, other).out, kEmptyOverrides);

  // The same label loads independently in the other manager.
  const Result loaded =
      RunLaunchctl({"bootstrap", Domain(), WriteJob("org.example.mine", {"sleep", "30"})}, other);
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  BootOutAll(other_home);
  EXPECT_EQ(RunLaunchctl({"list"}, other).out, "PID\tStatus\tLabel\n");
  EXPECT_GT(PidOf("org.example.mine"), 0);
  std::filesystem::remove_all(other_home);
}

}  // namespace
}  // namespace launchctl_test
