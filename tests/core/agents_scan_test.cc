#include <gtest/gtest.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "agents.h"
#include "language.h"
#include "platform.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::plistWithLabel;
using testing::writeFile;

std::string binaryPlistWithLabel(const std::string& label) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "Label", plist_new_string(label.c_str()));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string result(bytes, length);
  std::free(bytes);
  plist_free(root);
  return result;
}

std::vector<std::string> labels(const std::vector<Agent>& agents) {
  std::vector<std::string> result;
  for (const Agent& agent : agents)
    result.push_back(agent.label);
  return result;
}

/// A launchctl that prints canned `list` and `print-disabled` output and logs its arguments.
class FakeLaunchctl : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::launchctl,
                               testing::writeCannedLaunchctl(dir_.path()));
  }
  void TearDown() override { platform::resetToolPaths(); }

  void lists(const std::string& list, const std::string& disabled) {
    writeFile(dir_ / "list", list);
    writeFile(dir_ / "disabled", disabled);
  }

  testing::TempDir dir_;
  testing::TempDir agents_;
};

TEST_F(FakeLaunchctl, ScanCombinesFilesWithLoadedAndDisabledState) {
  lists("PID\tStatus\tLabel\n812\t0\tcom.example.sync\n-\t1\tcom.example.idle\n",
        "\tdisabled services = {\n\t\t\"com.example.off\" => disabled\n\t}\n");
  writeFile(agents_ / "com.example.sync.plist", plistWithLabel("com.example.sync"));
  writeFile(agents_ / "idle.plist", binaryPlistWithLabel("com.example.idle"));
  writeFile(agents_ / "com.example.off.plist", plistWithLabel("com.example.off"));

  std::vector<Agent> agents = Agents::scan(agents_.path());
  ASSERT_EQ(agents.size(), 3u);
  EXPECT_EQ(agents[0], (Agent{"idle.plist", (agents_ / "idle.plist").string(), "com.example.idle",
                              true, std::nullopt, false}));
  EXPECT_EQ(agents[1],
            (Agent{"com.example.sync.plist", (agents_ / "com.example.sync.plist").string(),
                   "com.example.sync", true, 812, false}));
  EXPECT_EQ(agents[2].label, "com.example.off");
  EXPECT_FALSE(agents[2].loaded);
  EXPECT_TRUE(agents[2].disabled);

  // The two runs go side by side, so either may be logged first.
  std::string uid = std::to_string(::getuid());
  const std::string calls = testing::readText(dir_ / "calls");
  EXPECT_TRUE(calls == "list\nprint-disabled gui/" + uid + "\n" ||
              calls == "print-disabled gui/" + uid + "\nlist\n")
      << calls;
}

TEST_F(FakeLaunchctl, ScanTakesOnlyPlistSuffixedNamesIncludingHiddenOnes) {
  lists("", "");
  writeFile(agents_ / "a.plist", plistWithLabel("a"));
  writeFile(agents_ / ".hidden.plist", plistWithLabel("hidden"));
  writeFile(agents_ / "B.PLIST", plistWithLabel("upper"));
  writeFile(agents_ / "nosuffix", plistWithLabel("none"));
  writeFile(agents_ / "c.plist.bak", plistWithLabel("backup"));
  std::filesystem::create_directories(agents_ / "sub");
  writeFile(agents_ / "sub" / "deep.plist", plistWithLabel("deep"));
  EXPECT_EQ(labels(Agents::scan(agents_.path())), (std::vector<std::string>{"a", "hidden"}));
}

TEST_F(FakeLaunchctl, TwoFilesWithOneLabelBothAppearWithTheSameState) {
  lists("9\t0\tsame\n", "\"same\" => true\n");
  writeFile(agents_ / "one.plist", plistWithLabel("same"));
  writeFile(agents_ / "two.plist", plistWithLabel("same"));
  std::vector<Agent> agents = Agents::scan(agents_.path());
  ASSERT_EQ(agents.size(), 2u);
  for (const Agent& agent : agents) {
    EXPECT_EQ(agent.pid, 9);
    EXPECT_TRUE(agent.disabled);
  }
}

/// What a scan of `directory` could not know; empty when it knew everything.
std::string problem(const std::filesystem::path& directory) {
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(directory);
  return scanned.problem ? scanned.problem->text : "";
}

TEST_F(FakeLaunchctl, DirectoriesWithoutAgentsAndDirectoriesThatCannotBeListed) {
  lists("1\t0\tx\n", "");
  // Empty or missing (also below a missing folder): no agents, and nothing wrong.
  EXPECT_TRUE(Agents::scan(agents_.path()).empty());
  EXPECT_TRUE(Agents::scan(agents_ / "missing").empty());
  EXPECT_EQ(problem(agents_.path()), "");
  EXPECT_EQ(problem(agents_ / "missing"), "");
  EXPECT_EQ(problem(agents_ / "missing/LaunchAgents"), "");
  // A file or a link loop: no agents either, but the scan says it could not look.
  writeFile(agents_ / "file", "");
  std::filesystem::create_symlink("loop", agents_ / "loop");
  EXPECT_TRUE(Agents::scan(agents_ / "file").empty());
  EXPECT_EQ(problem(agents_ / "file"),
            "Cannot list " + (agents_ / "file").string() + ": Not a directory");
  EXPECT_EQ(problem(agents_ / "loop"),
            "Cannot list " + (agents_ / "loop").string() + ": Too many levels of symbolic links");
}

TEST_F(FakeLaunchctl, ListThatFailsLeavesTheLoadedStateUnknown) {
  writeFile(agents_ / "x.plist", plistWithLabel("x"));
  lists("", "");
  EXPECT_EQ(problem(agents_.path()), "") << "an empty list is a list with nothing loaded";
  std::filesystem::remove(dir_ / "list");  // cat now fails
  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(agents_.path());
  ASSERT_EQ(scanned.agents.size(), 1u);
  EXPECT_FALSE(scanned.agents[0].loaded);
  EXPECT_EQ(problem(agents_.path()), "Loaded state unknown: launchctl list failed: cat: " +
                                         (dir_ / "list").string() + ": No such file or directory");
  // A run that timed out or said nothing.
  EXPECT_EQ(Agents::listFailureReason(ShellResult{9, "", "", true}, 20),
            "launchctl list did not answer within 20 seconds");
  EXPECT_EQ(Agents::listFailureReason(ShellResult{3, "", " \n", false}, 20),
            "launchctl list failed: exit status 3");
}

TEST(Scan, LaunchctlThatCannotRunLeavesEveryAgentUnloadedAndSaysWhy) {
  testing::TempDir agents;
  writeFile(agents / "x.plist", plistWithLabel("x"));
  platform::overrideToolPath(platform::Tool::launchctl, "/nonexistent/launchctl");
  std::vector<Agent> found = Agents::scan(agents.path());
  const std::string why = problem(agents.path());
  platform::resetToolPaths();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_FALSE(found[0].loaded);
  EXPECT_FALSE(found[0].disabled);
  EXPECT_EQ(why,
            "Loaded state unknown: launchctl list failed: /nonexistent/launchctl: No such file or "
            "directory");
}

TEST(Label, ReadsXmlAndBinaryPropertyLists) {
  testing::TempDir dir;
  writeFile(dir / "x.plist", plistWithLabel("com.example.xml"));
  writeFile(dir / "b.plist", binaryPlistWithLabel("com.example.binary"));
  EXPECT_EQ(Agents::label(dir / "x.plist"), "com.example.xml");
  EXPECT_EQ(Agents::label(dir / "b.plist"), "com.example.binary");
}

TEST(Label, FallsBackToTheFileNameWithoutExtension) {
  testing::TempDir dir;
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  writeFile(dir / "com.no.label.plist",
            head + "<dict><key>Other</key><string>x</string></dict></plist>");
  writeFile(dir / "empty.plist", head + "<dict><key>Label</key><string></string></dict></plist>");
  writeFile(dir / "number.plist",
            head + "<dict><key>Label</key><integer>3</integer></dict></plist>");
  writeFile(dir / "array.plist", head + "<array><string>Label</string></array></plist>");
  writeFile(dir / "text.plist", "this is not a property list");
  writeFile(dir / "zero.plist", "");
  writeFile(dir / "bplist.plist", "bplist00 truncated");
  std::filesystem::create_directories(dir / "folder.plist");
  for (const char* stem :
       {"com.no.label", "empty", "number", "array", "text", "zero", "bplist", "folder", "missing"})
    EXPECT_EQ(Agents::label(dir / (std::string(stem) + ".plist")), stem);
}

Agent agent(std::string label, bool loaded, std::string file = "") {
  return Agent{std::move(file), "", std::move(label), loaded, std::nullopt, false};
}

TEST(Sorted, LoadedFirstThenByLowerCasedLabel) {
  std::vector<Agent> agents = {agent("beta", true), agent("Alpha", false), agent("alpha2", true)};
  EXPECT_EQ(labels(Agents::sorted(agents)), (std::vector<std::string>{"alpha2", "beta", "Alpha"}));

  // Many agents in a shuffled order, whose places form cycles of every length: each ends up where
  // a plain sort puts it, with all its fields.
  std::mt19937 random(7);
  std::vector<Agent> many;
  for (int i = 0; i < 300; ++i)
    many.push_back(agent("job" + std::to_string(random() % 1000), random() % 3 == 0,
                         std::to_string(i) + ".plist"));
  std::vector<Agent> expected = many;
  std::stable_sort(expected.begin(), expected.end(), [](const Agent& a, const Agent& b) {
    return a.loaded != b.loaded ? a.loaded : a.label < b.label;
  });
  EXPECT_EQ(Agents::sorted(many), expected);
}

TEST(Sorted, IsStableForLabelsThatLowerCaseAlike) {
  std::vector<Agent> agents = {agent("Job", false, "1"),
                               agent("JOB", false, "2"),
                               agent("a", false, "3"),
                               agent("job", false, "4"),
                               agent("\u00c9t\u00e9", false, "5"),
                               agent("e\u0301t\u00e9", false, "6")};
  std::vector<std::string> files;
  for (const Agent& sortedAgent : Agents::sorted(agents))
    files.push_back(sortedAgent.file);
  EXPECT_EQ(files, (std::vector<std::string>{"3", "1", "2", "4", "5", "6"}));
}

TEST(Commands, LoadEnablesFirstOnlyWhenDisabled) {
  std::string domain = "gui/" + std::to_string(::getuid());
  Agent plain{"x.plist", "/a/x.plist", "com.x", false, std::nullopt, false};
  Agent disabled = plain;
  disabled.disabled = true;
  using Commands = std::vector<std::vector<std::string>>;
  EXPECT_EQ(Agents::commands(plain, true), (Commands{{"bootstrap", domain, "/a/x.plist"}}));
  EXPECT_EQ(Agents::commands(disabled, true),
            (Commands{{"enable", domain + "/com.x"}, {"bootstrap", domain, "/a/x.plist"}}));
  EXPECT_EQ(Agents::commands(disabled, false), (Commands{{"bootout", domain + "/com.x"}}));
  EXPECT_EQ(Agents::commands(plain, false), (Commands{{"bootout", domain + "/com.x"}}));
}

}  // namespace
}  // namespace morvane
