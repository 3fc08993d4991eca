#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "language.h"
#include "platform.h"
#include "shell.h"
#include "test_support.h"
#include "updater.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::ScopedEnv;

/// A stand-in application bundle: its executable records its pid in `<markers>/started-<tag>`
/// and keeps running, or, when `starts` is false, exits at once.
void writeBundle(const fs::path& app, const std::string& tag, const fs::path& markers,
                 bool starts = true) {
  testing::writeFile(app / "Contents/Info.plist",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>CFBundleExecutable</key><string>Morvane</string></dict></plist>\n");
  testing::writeFile(app / "Contents/tag", tag);
  testing::writeScript(app / "Contents/MacOS/Morvane",
                       starts
                           ? "echo $$ >> " + Shell::quote((markers / ("started-" + tag)).string()) +
                                 "\ntrap 'exit 0' TERM\nsleep 60 & wait"
                           : "exit 0");
}

std::string tagOf(const fs::path& app) {
  return testing::readText(app / "Contents/tag");
}

pid_t spawnSleeper() {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sleep", "sleep", "120", nullptr);
    ::_exit(127);
  }
  return pid;
}

void endAndReap(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++found;
  return found;
}

class InstallerHandOff : public ::testing::Test {
 protected:
  void SetUp() override {
    Language::apply("en");
    const char* path = std::getenv("PATH");
    path_.emplace("PATH", std::string(HELPERS_DIR) + ":" + (path ? path : "/usr/bin:/bin"));
    fs::create_directories(markers_);
    writeBundle(app_, "old", markers_);
    writeBundle(staged_.app, "new", markers_);
  }

  void TearDown() override {
    // End every bundle instance the script started: each runs in a session of its own.
    for (const char* tag : {"old", "new", "newer"})
      for (std::istringstream pids(testing::readText(markers_ / ("started-" + std::string(tag))));
           !pids.eof();) {
        pid_t pid = 0;
        if (pids >> pid && pid > 0)
          ::kill(-::getsid(pid), SIGKILL);
      }
    Language::apply("en");
  }

  std::string log() const { return testing::readText(paths_.root / "update.log"); }

  testing::TempDir dir_;
  fs::path markers_ = dir_ / "markers";
  Paths paths_{dir_ / "it's data"};
  fs::path app_ = dir_ / "Applications/Morvane.app";
  Updater::Staged staged_{"1.1.0", paths_.root / "update/Morvane.app"};
  std::optional<ScopedEnv> path_;
};

TEST(InstallerScript, IsTheFixedThirtySevenLineText) {
  const std::string_view script = Updater::installerScript;
  EXPECT_EQ(script.size(), 968u);
  EXPECT_EQ(count(std::string(script), "\n"), 36u);
  EXPECT_NE(script.back(), '\n');
  EXPECT_TRUE(script.starts_with(
      "#!/bin/bash\n# Morvane 更新安装脚本（由 Morvane 生成并启动）。参数：旧进程 pid、新包路径、"
      "安装位置。\nPID=\"$1\"; NEW=\"$2\"; APP=\"$3\"\nBACKUP=\"$APP.previous\"\n"));
  EXPECT_NE(script.find("\nrunning() { pgrep -f \"$APP/Contents/MacOS/Morvane\" >/dev/null 2>&1; "
                        "}\n\nrm -rf \"$BACKUP\"\n"),
            std::string_view::npos);
  EXPECT_TRUE(
      script.ends_with("\n    [ -d \"$APP\" ] || mv \"$BACKUP\" \"$APP\"\nfi\nopen "
                       "\"$APP\"\nexit 1"));
  EXPECT_EQ(script.find('\t'), std::string_view::npos);
  ShellResult syntax = Shell::run("/bin/bash", {"-n", "-c", std::string(script)}, 10);
  EXPECT_TRUE(syntax.ok()) << syntax.message();
}

TEST_F(InstallerHandOff, RefusesWhatCannotBeReplacedBeforeWritingAnything) {
  auto notBundle = Updater::launchInstaller(staged_, dir_ / "build/bin", 1, paths_);
  ASSERT_FALSE(notBundle);
  EXPECT_EQ(notBundle.error().text,
            "Morvane is not running from an .app bundle, so it can't update itself.");
  Language::apply("zh");
  EXPECT_EQ(Updater::launchInstaller(staged_, dir_ / "Morvane", 1, paths_).error().text,
            "当前不是从 .app 运行的，无法自动更新。");
  Language::apply("en");

  fs::remove_all(staged_.app);
  auto gone = Updater::launchInstaller(staged_, app_, 1, paths_);
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error().text, "The downloaded update is gone. Check for updates again.");
  EXPECT_FALSE(fs::exists(paths_.root / "update-install.sh"));
}

TEST_F(InstallerHandOff, BundleTheUserCannotWriteIsRefusedWithItsPath) {
  // Root may write anywhere, so the check runs as an unprivileged user in a child process.
  fs::permissions(dir_.path(), fs::perms::all);
  fs::permissions(app_.parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      ::_exit(2);
    auto result = Updater::launchInstaller(staged_, app_, 1, paths_);
    std::string text = result ? "started" : result.error().text;
    [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(text,
            "No permission to replace " + app_.string() + ". Install the new version manually.");
  EXPECT_FALSE(fs::exists(paths_.root / "update-install.sh"));
}

TEST_F(InstallerHandOff, ScriptSwapsStartsAndKeepsTheNewVersion) {
  const pid_t old = spawnSleeper();
  auto started = Updater::launchInstaller(staged_, app_, old, paths_);
  ASSERT_TRUE(started) << started.error().text;
  const fs::path script = paths_.root / "update-install.sh";
  EXPECT_EQ(testing::readText(script), Updater::installerScript);
  struct stat info {};
  ASSERT_EQ(::stat(script.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  // The script waits for the old instance and touches nothing meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(tagOf(app_), "old");
  EXPECT_NE(log().find("] updating " + app_.string() + " from " + staged_.app.string() +
                       " (waiting for pid " + std::to_string(old) + ")\n"),
            std::string::npos)
      << log();
  endAndReap(old);

  ASSERT_TRUE(waitFor([&] { return log().ends_with("updated\n"); }, std::chrono::seconds(30)))
      << log();
  EXPECT_EQ(tagOf(app_), "new");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  EXPECT_FALSE(fs::exists(staged_.app));
  const std::string newPid = testing::readText(markers_ / "started-new");
  ASSERT_FALSE(newPid.empty());
  EXPECT_EQ(::kill(std::stoi(newPid), 0), 0) << "the new version keeps running";

  // A second hand-off rewrites the script and appends to the same log.
  writeBundle(staged_.app, "newer", markers_);
  const pid_t gone = spawnSleeper();
  endAndReap(gone);
  ASSERT_TRUE(Updater::launchInstaller(staged_, app_, gone, paths_));
  ASSERT_TRUE(waitFor([&] { return count(log(), "updated\n") == 2; }, std::chrono::seconds(30)))
      << log();
  EXPECT_EQ(count(log(), "] updating "), 2u);
  EXPECT_EQ(tagOf(app_), "newer");
}

TEST_F(InstallerHandOff, NewVersionThatDoesNotStartIsRolledBack) {
  writeBundle(staged_.app, "new", markers_, /*starts=*/false);
  const pid_t gone = spawnSleeper();
  endAndReap(gone);
  ASSERT_TRUE(Updater::launchInstaller(staged_, app_, gone, paths_));
  ASSERT_TRUE(waitFor([&] { return log().find("rolling back") != std::string::npos; },
                      std::chrono::seconds(40)))
      << log();
  ASSERT_TRUE(
      waitFor([&] { return fs::exists(markers_ / "started-old"); }, std::chrono::seconds(10)))
      << "the old version is started again";
  EXPECT_EQ(tagOf(app_), "old");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  EXPECT_FALSE(fs::exists(staged_.app));
}

TEST_F(InstallerHandOff, OldInstanceThatNeverExitsLeavesEverythingInPlace) {
  const pid_t old = spawnSleeper();
  ASSERT_TRUE(Updater::launchInstaller(staged_, app_, old, paths_));
  const bool gaveUp = waitFor(
      [&] { return log().find("old instance did not exit, giving up\n") != std::string::npos; },
      std::chrono::seconds(75));
  endAndReap(old);
  ASSERT_TRUE(gaveUp) << log();
  EXPECT_EQ(tagOf(app_), "old");
  EXPECT_EQ(tagOf(staged_.app), "new");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  EXPECT_FALSE(fs::exists(markers_ / "started-old"));
}

}  // namespace
}  // namespace morvane
