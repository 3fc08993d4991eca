#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "cli.h"
#include "platform.h"
#include "settings.h"
#include "shell.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::plistWithLabel;
using testing::ScopedEnv;
using testing::writeFile;

/// A home with crafted agents, a data directory and a launchctl that prints canned state.
class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::launchctl,
                               testing::writeCannedLaunchctl(home_.path()));
  }
  void TearDown() override { platform::resetToolPaths(); }

  std::string list() {
    std::ostringstream out;
    EXPECT_EQ(CLI::list(out), 0);
    return out.str();
  }

  std::filesystem::path agents() const { return home_ / "Library/LaunchAgents"; }

  testing::TempDir home_;
  ScopedEnv homeVariable{"HOME", home_.path().string()};
  ScopedEnv dataVariable{"MORVANE_HOME", (home_ / "data").string()};
  ScopedEnv language{"MORVANE_LANG", "en"};
};

TEST_F(ListTest, PrintsMarksPidColumnNamesDisabledMarkAndFileNames) {
  writeFile(home_ / "list",
            "PID\tStatus\tLabel\n812\t0\tcom.example.sync\n123456\t0\tcom.example.six\n"
            "1234567\t0\tcom.example.seven\n-\t2\tcom.example.stopped\n");
  writeFile(home_ / "disabled", "\t\t\"com.example.other\" => disabled\n");
  writeFile(home_ / "data/settings.json", R"({"friendlyNames":{"com.example.sync":"Sync"}})");
  writeFile(agents() / "com.example.sync.plist", plistWithLabel("com.example.sync"));
  writeFile(agents() / "com.example.six.plist", plistWithLabel("com.example.six"));
  writeFile(agents() / "com.example.seven.plist", plistWithLabel("com.example.seven"));
  writeFile(agents() / "com.example.stopped.plist", plistWithLabel("com.example.stopped"));
  writeFile(agents() / "other.plist", plistWithLabel("com.example.other"));

  EXPECT_EQ(list(), "Directory  " + agents().string() +
                        "\n"
                        "● pid 123456 com.example.seven\n"
                        "● pid 123456 com.example.six\n"
                        "● -          com.example.stopped\n"
                        "● pid 812    com.example.sync  [Sync]\n"
                        "○ -          com.example.other  (disabled)  ← other.plist\n"
                        "4 of 5 loaded\n");
}

TEST_F(ListTest, ChineseTextsFollowTheSettingsFile) {
  ScopedEnv noForcedLanguage("MORVANE_LANG", std::nullopt);
  writeFile(home_ / "data/settings.json", R"({"language":"zh"})");
  writeFile(home_ / "disabled", "\"off\" => true\n");
  writeFile(agents() / "off.plist", plistWithLabel("off"));
  EXPECT_EQ(list(), "目录  " + agents().string() +
                        "\n○ -          off  （已停用）\n共 1 个，已加载 0 个\n");
}

TEST_F(ListTest, MissingDirectoryPrintsAnEmptyTableAndFirstRunWritesSettings) {
  ScopedEnv defaultData("MORVANE_HOME", std::nullopt);
  ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  EXPECT_EQ(list(), "Directory  " + agents().string() + "\n0 of 0 loaded\n");
  EXPECT_EQ(testing::readText(home_ / ".local/share/Morvane/settings.json"),
            encodeSettings(Settings{}));
}

TEST_F(ListTest, ControlAndDirectionCharactersInLabelsNamesAndFilesAreShownEscaped) {
  writeFile(home_ / "list", "PID\tStatus\tLabel\n-\t0\tevil\tlabel\n");
  writeFile(home_ / "data/settings.json", R"({"friendlyNames":{"x\u001b[2Jy":"a\n\u202Eb"}})");
  writeFile(agents() / "evil.plist", plistWithLabel("evil&#9;label"));
  writeFile(agents() / "esc.plist", plistWithLabel("x\x1b[2Jy"));
  writeFile(agents() / "line\nbreak.plist", "not a property list");
  writeFile(agents() / "odd\xC2\x85\x7f\xff.plist", "not a property list");
  writeFile(agents() / "ordinary\\back.plist", "not a property list");
  writeFile(agents() / "right\u2067left.plist", "not a property list");
  EXPECT_EQ(list(), "Directory  " + agents().string() +
                        "\n"
                        "● -          evil\\tlabel  ← evil.plist\n"
                        "○ -          line\\nbreak\n"
                        "○ -          odd\\u0085\\x7F\\xFF\n"
                        "○ -          ordinary\\back\n"
                        "○ -          right\\u2067left\n"
                        "○ -          x\\x1B[2Jy  [a\\n\\u202Eb]  ← esc.plist\n"
                        "1 of 6 loaded\n");
}

TEST_F(ListTest, AgentFilesThatAreNotRegularFilesAreListedUnderTheirNames) {
  std::filesystem::create_directories(agents());
  ASSERT_EQ(::mkfifo((agents() / "fifo.plist").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", agents() / "zero.plist");
  writeFile(agents() / "fine.plist", plistWithLabel("com.example.fine"));
  EXPECT_EQ(list(), "Directory  " + agents().string() +
                        "\n"
                        "○ -          com.example.fine  ← fine.plist\n"
                        "○ -          fifo\n"
                        "○ -          zero\n"
                        "0 of 3 loaded\n");
}

TEST_F(ListTest, ListingChangesNoSetting) {
  const std::string stored = "{\"language\":\"en\", \"unknown\": true}";
  writeFile(home_ / "data/settings.json", stored);
  list();
  EXPECT_EQ(testing::readText(home_ / "data/settings.json"), stored);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(ListStartedByAParentIgnoringChildSignals, StillCollectsItsChildren) {
  testing::TempDir home;
  const std::string output = (home / "output").string();
  std::vector<std::string> env{"HOME=" + home.path().string(),
                               "MORVANE_HOME=" + (home / "data").string(), "MORVANE_LANG=en"};
  std::vector<char*> envp;
  for (std::string& entry : env)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(MORVANE_EXECUTABLE), const_cast<char*>("--list"), nullptr};

  // The child inherits the ignored SIGCHLD; this process takes its own back at once.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &previous);
  pid_t pid = 0;
  int spawned = ::posix_spawn(&pid, MORVANE_EXECUTABLE, &actions, nullptr, argv, envp.data());
  ::sigaction(SIGCHLD, &previous, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0);

  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (::kill(pid, SIGKILL) == 0) {
    ::waitpid(pid, &status, 0);
    FAIL() << "still running after 15 s";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(testing::readText(output).ends_with("\n0 of 0 loaded\n"))
      << testing::readText(output);
}

TEST(ListAsAnotherUser, UnreadableAgentDirectoryAndSettingsAreReportedAndLeftAlone) {
  if (::getuid() != 0)
    GTEST_SKIP() << "switching to an unprivileged user needs root";
  constexpr unsigned kNobody = 65534;
  testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all |
                                               std::filesystem::perms::group_exec |
                                               std::filesystem::perms::others_exec);
  const std::filesystem::path home = dir / "home", agents = home / "Library/LaunchAgents";
  const std::filesystem::path settings = home / "data/settings.json";
  testing::writeFile(agents / "hidden.plist", testing::plistWithLabel("hidden"));
  std::filesystem::permissions(agents, std::filesystem::perms::owner_all);
  const std::string stored = R"({"friendlyNames":{"hidden":"Kept"}})";
  testing::writeFile(settings, stored);
  for (const auto& owned : {home, home / "data", settings})
    ASSERT_EQ(::chown(owned.c_str(), kNobody, kNobody), 0);
  std::filesystem::permissions(settings, std::filesystem::perms::none);

  // That user runs a copy of the bundle it can reach from any checkout.
  testing::TempDir reachable;
  const std::filesystem::path executable(MORVANE_EXECUTABLE);
  const std::filesystem::path bundle =
      testing::copyForAnyUser(executable.parent_path().parent_path().parent_path(), reachable);
  ShellResult result =
      Shell::run("/usr/bin/setpriv",
                 {"--reuid=65534", "--regid=65534", "--clear-groups",
                  (bundle / "Contents/MacOS" / executable.filename()).string(), "--list"},
                 60, {{"HOME", home}, {"MORVANE_HOME", home / "data"}, {"MORVANE_LANG", "en"}});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.standardOutput, "Directory  " + agents.string() + "\n0 of 0 loaded\n");
  EXPECT_EQ(result.standardError,
            "Settings not read (" + settings.string() +
                ": Permission denied); using the defaults for now and leaving the file as it "
                "is.\n✗ Cannot list " +
                agents.string() + ": Permission denied\n");
  EXPECT_EQ(testing::readText(settings), stored);
  EXPECT_EQ(std::filesystem::status(settings).permissions(), std::filesystem::perms::none);
}

}  // namespace
}  // namespace morvane
