#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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

/// How a stand-in application behaves once started.
enum class Runs { on, never, twoSeconds };

/// A stand-in application bundle: its executable records its pid in `<markers>/started-<tag>`
/// and keeps running, or exits at once, or after two seconds; `padding` files fill it out.
void writeBundle(const fs::path& app, const std::string& tag, const fs::path& markers,
                 Runs runs = Runs::on, int padding = 0) {
  testing::writeFile(app / "Contents/Info.plist",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>CFBundleExecutable</key><string>Morvane</string></dict></plist>\n");
  testing::writeFile(app / "Contents/tag", tag);
  const std::string record = "echo $$ >> " + Shell::quote((markers / ("started-" + tag)).string());
  testing::writeScript(app / "Contents/MacOS/Morvane",
                       runs == Runs::never ? "exit 0"
                       : runs == Runs::twoSeconds
                           ? record + "\nsleep 2"
                           : record + "\ntrap 'exit 0' TERM\nsleep 60 & wait");
  for (int i = 0; i < padding; ++i)
    testing::writeFile(app / "Contents/Resources" / std::to_string(i), std::string(4096, 'p'));
}

/// Whether `app` holds one whole bundle: its tag and every file of that bundle.
::testing::AssertionResult isWholeBundle(const fs::path& app, int newPadding) {
  const std::string tag = testing::readText(app / "Contents/tag");
  if (tag != "old" && tag != "new")
    return ::testing::AssertionFailure() << app << " holds no bundle (tag \"" << tag << "\")";
  size_t files = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator walk(app, error), end; !error && walk != end;
       walk.increment(error))
    files += walk->is_regular_file() ? 1 : 0;
  const size_t expected = 3 + (tag == "new" ? static_cast<size_t>(newPadding) : 0);
  if (files != expected || ::access((app / "Contents/MacOS/Morvane").c_str(), X_OK) != 0)
    return ::testing::AssertionFailure()
           << app << " holds " << files << " files of the " << tag << " bundle's " << expected;
  return ::testing::AssertionSuccess();
}

/// The processes whose command line names `script`.
std::vector<pid_t> processesRunning(const fs::path& script) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const std::string line = testing::readText(entry.path() / "cmdline");
    if (line.find(script.string()) != std::string::npos)
      found.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return found;
}

/// Kills `pid` and every process it started that is still its descendant, all at once, as a
/// power cut or an out-of-memory kill of its group would.
void killTree(pid_t pid) {
  ::kill(pid, SIGSTOP);  // no new children from here on
  std::vector<pid_t> tree{pid};
  for (size_t grown = 0; grown != tree.size();) {
    grown = tree.size();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos)
        continue;
      std::istringstream stat(testing::readText(entry.path() / "stat"));
      std::string field;
      pid_t self = 0, parent = 0;
      stat >> self;
      std::getline(stat, field, ')');  // the name, which may hold spaces
      stat >> field >> parent;
      if (std::find(tree.begin(), tree.end(), parent) != tree.end() &&
          std::find(tree.begin(), tree.end(), self) == tree.end()) {
        ::kill(self, SIGSTOP);
        tree.push_back(self);
      }
    }
  }
  for (pid_t member : tree)
    ::kill(member, SIGKILL);
}

std::string tagOf(const fs::path& app) {
  return testing::readText(app / "Contents/tag");
}

/// A process that sleeps for two minutes; `name` is its argv[0].
pid_t spawnSleeper(const std::string& name = "sleep") {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sleep", name.c_str(), "120", nullptr);
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
    // An open on PATH that is not the bundled one: the script must never reach it.
    testing::writeScript(
        dir_ / "path/open",
        "echo \"$@\" >> " + Shell::quote((markers_ / "wrong-open").string()) + "\nexit 1");
    const char* path = std::getenv("PATH");
    path_.emplace("PATH", (dir_ / "path").string() + ":" + (path ? path : "/usr/bin:/bin"));
    platform::overrideToolPath(platform::Tool::swap, HELPERS_DIR "/swap");
    platform::overrideToolPath(platform::Tool::open, HELPERS_DIR "/open");
    fs::create_directories(markers_);
    writeBundle(app_, "old", markers_);
    writeBundle(staged_.app, "new", markers_);
  }

  void TearDown() override {
    EXPECT_FALSE(fs::exists(markers_ / "wrong-open")) << testing::readText(markers_ / "wrong-open");
    stopStartedBundles();
    platform::resetToolPaths();
    Language::apply("en");
  }

  /// Ends every bundle instance the script started (each runs in a session of its own) and
  /// forgets them.
  void stopStartedBundles() {
    for (const char* tag : {"old", "new", "newer"}) {
      const fs::path record = markers_ / ("started-" + std::string(tag));
      for (std::istringstream pids(testing::readText(record)); !pids.eof();) {
        pid_t pid = 0;
        if (pids >> pid && pid > 0 && ::getsid(pid) > 1)
          ::kill(-::getsid(pid), SIGKILL);
      }
      fs::remove(record);
    }
  }

  /// Hands off to the installer as the application does, with the update lock.
  Outcome handOff(pid_t pid, const fs::path& app) {
    if (Outcome replaceable = Updater::checkReplaceable(app); !replaceable)
      return replaceable;
    Result<Updater::UpdateLock> lock = Updater::UpdateLock::acquire(paths_, app);
    if (!lock)
      return std::unexpected(lock.error());
    return Updater::launchInstaller(staged_, app, pid, paths_, std::move(*lock));
  }
  Outcome handOff(pid_t pid) { return handOff(pid, app_); }

  std::string log() const { return testing::readText(paths_.root / "update.log"); }

  testing::TempDir dir_;
  fs::path markers_ = dir_ / "markers";
  Paths paths_{dir_ / "it's data"};
  // Pattern characters, a PATH separator and a line break in the location are nothing special.
  fs::path app_ = dir_ / "Apps: (old)+[1]\nnext" / "Morvane.app";
  Updater::Staged staged_{"1.1.0", paths_.root / "update/Morvane.app"};
  std::optional<ScopedEnv> path_;
};

TEST(InstallerScript, IsABashScriptThatLogsTheFixedLines) {
  const std::string script = Updater::installerScript();
  EXPECT_TRUE(script.starts_with(
      "#!/bin/bash\n# Morvane 更新安装脚本（由 Morvane 生成并启动）。参数：旧进程 pid、新包路径、"
      "安装位置、交换工具、启动工具。\nPID=\"$1\"; NEW=\"$2\"; APP=\"$3\"; SWAP=\"$4\"; "
      "OPEN=\"$5\"\n"
      "BACKUP=\"$APP.previous\"\n"
      "echo \"[$(date '+%F %T')] updating $APP from $NEW (waiting for pid $PID)\"\n"));
  for (const char* line :
       {"\n    echo \"old instance did not exit, giving up\"\n", "\n            echo \"updated\"\n",
        "\n    echo \"new version did not start, rolling back\"\n",
        "\n    echo \"could not swap bundles, restoring\"\n"})
    EXPECT_EQ(count(script, line), 1u) << line;
  EXPECT_TRUE(script.ends_with("\n    \"$OPEN\" \"$APP\"\nfi\nexit 1"));
  EXPECT_EQ(script.find('\t'), std::string::npos);
  // Nothing is looked up on PATH that the bundle brings, nor found by scanning every process.
  EXPECT_EQ(script.find("\nopen "), std::string::npos);
  EXPECT_EQ(script.find(" open "), std::string::npos);
  EXPECT_EQ(script.find("pgrep"), std::string::npos);
  ShellResult syntax = Shell::run("/bin/bash", {"-n", "-c", script}, 10);
  EXPECT_TRUE(syntax.ok()) << syntax.message();
}

TEST_F(InstallerHandOff, RefusesWhatCannotBeReplacedBeforeWritingAnything) {
  auto notBundle = handOff(1, dir_ / "build/bin");
  ASSERT_FALSE(notBundle);
  EXPECT_EQ(notBundle.error().text,
            "Morvane is not running from an .app bundle, so it can't update itself.");
  Language::apply("zh");
  EXPECT_EQ(handOff(1, dir_ / "Morvane").error().text, "当前不是从 .app 运行的，无法自动更新。");
  Language::apply("en");

  fs::remove_all(staged_.app);
  auto gone = handOff(1);
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
  const std::string text = testing::textFromChild([&]() -> std::string {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      return "could not become nobody";
    auto result = Updater::checkReplaceable(app_);
    return result ? "replaceable" : result.error().text;
  });
  EXPECT_EQ(text,
            "No permission to replace " + app_.string() + ". Install the new version manually.");
  EXPECT_FALSE(fs::exists(paths_.root / "update-install.sh"));
}

TEST_F(InstallerHandOff, ScriptSwapsStartsAndKeepsTheNewVersion) {
  const pid_t old = spawnSleeper();
  auto started = handOff(old);
  ASSERT_TRUE(started) << started.error().text;
  const fs::path script = paths_.root / "update-install.sh";
  EXPECT_EQ(testing::readText(script), Updater::installerScript());
  struct stat info {};
  ASSERT_EQ(::stat(script.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // The hand-off returns once the script runs: its first line is already in the log.
  EXPECT_NE(log().find("] updating " + app_.string() + " from " + staged_.app.string() +
                       " (waiting for pid " + std::to_string(old) + ")\n"),
            std::string::npos)
      << log();

  // The script waits for the old instance, touches nothing meanwhile, and holds the update
  // lock: a second update is refused.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(tagOf(app_), "old");
  auto second = Updater::UpdateLock::acquire(paths_, app_);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().text, "Another update is in progress. Try again once it has finished.");
  // Nor may an update started with another data directory work on the same bundle.
  auto elsewhere = Updater::UpdateLock::acquire(Paths(dir_ / "other data"), app_);
  ASSERT_FALSE(elsewhere);
  EXPECT_EQ(elsewhere.error().text, second.error().text);
  EXPECT_FALSE(fs::exists(dir_ / "other data/update"));
  Language::apply("zh");
  EXPECT_EQ(Updater::UpdateLock::acquire(paths_, app_).error().text,
            "另一个更新正在进行，请等它结束后再试。");
  Language::apply("en");
  endAndReap(old);

  ASSERT_TRUE(waitFor([&] { return log().ends_with("updated\n"); }, std::chrono::seconds(40)))
      << log();
  EXPECT_EQ(tagOf(app_), "new");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  EXPECT_FALSE(fs::exists(staged_.app));
  const std::string newPid = testing::readText(markers_ / "started-new");
  ASSERT_FALSE(newPid.empty());
  EXPECT_EQ(::kill(std::stoi(newPid), 0), 0) << "the new version keeps running";
  EXPECT_TRUE(waitFor([&] { return bool(Updater::UpdateLock::acquire(paths_, app_)); },
                      std::chrono::seconds(5)))
      << "the lock is free once the script has ended";

  // A second hand-off rewrites the script and appends to the same log.
  writeBundle(staged_.app, "newer", markers_);
  const pid_t gone = spawnSleeper();
  endAndReap(gone);
  ASSERT_TRUE(handOff(gone));
  ASSERT_TRUE(waitFor([&] { return count(log(), "updated\n") == 2; }, std::chrono::seconds(40)))
      << log();
  EXPECT_EQ(count(log(), "] updating "), 2u);
  EXPECT_EQ(tagOf(app_), "newer");
}

TEST_F(InstallerHandOff, NewVersionThatDoesNotStayUpIsRolledBack) {
  app_ = dir_ / "Applications/Morvane.app";  // one any running check finds
  writeBundle(app_, "old", markers_);
  // A process that merely names the new version's executable, as `watch <app>/… --list` or
  // another user's instance does, is not the new version running.
  const pid_t decoy = spawnSleeper((app_ / "Contents/MacOS/Morvane").string() + " --list");
  for (Runs runs : {Runs::twoSeconds, Runs::never}) {
    writeBundle(staged_.app, "new", markers_, runs);
    fs::remove(markers_ / "started-old");
    const pid_t gone = spawnSleeper();
    endAndReap(gone);
    const size_t before = count(log(), "rolling back");
    ASSERT_TRUE(handOff(gone));
    // The outcome is judged once the script has ended, which frees the update lock: however
    // long a loaded machine makes its checks take, it ends by its own limits (CTest gives the
    // test time for two such runs).
    ASSERT_TRUE(waitFor([&] { return bool(Updater::UpdateLock::acquire(paths_, app_)); },
                        std::chrono::seconds(280)))
        << "the script is still running: " << log();
    EXPECT_EQ(count(log(), "rolling back"), before + 1) << log();
    ASSERT_TRUE(
        waitFor([&] { return fs::exists(markers_ / "started-old"); }, std::chrono::seconds(30)))
        << "the old version is started again";
    EXPECT_EQ(tagOf(app_), "old");
    EXPECT_TRUE(waitFor([&] { return !fs::exists(app_.string() + ".previous"); },
                        std::chrono::seconds(10)));
    EXPECT_FALSE(fs::exists(staged_.app));
    EXPECT_EQ(log().find("updated\n"), std::string::npos);
    stopStartedBundles();
  }
  endAndReap(decoy);
}

TEST_F(InstallerHandOff, SwapToolKilledRightAfterItsSwapIsJudgedByWhatIsOnDisk) {
  // The swap is done, but the tool reports a failure, as one killed before it could exit does.
  testing::writeScript(dir_ / "killed-swap",
                       Shell::quote(HELPERS_DIR "/swap") + " \"$@\"\nkill -KILL $$");
  platform::overrideToolPath(platform::Tool::swap, dir_ / "killed-swap");
  const pid_t gone = spawnSleeper();
  endAndReap(gone);
  ASSERT_TRUE(handOff(gone));
  ASSERT_TRUE(waitFor([&] { return log().ends_with("updated\n"); }, std::chrono::seconds(40)))
      << log();
  EXPECT_EQ(tagOf(app_), "new");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));

  // A new version that does not start is swapped back, and the old one is neither lost nor left
  // beside: it runs again from its place.
  stopStartedBundles();
  writeBundle(staged_.app, "newer", markers_, Runs::never);
  ASSERT_TRUE(handOff(gone));
  ASSERT_TRUE(waitFor([&] { return log().find("rolling back") != std::string::npos; },
                      std::chrono::seconds(40)))
      << log();
  ASSERT_TRUE(
      waitFor([&] { return fs::exists(markers_ / "started-new"); }, std::chrono::seconds(10)));
  EXPECT_EQ(tagOf(app_), "new");
  EXPECT_TRUE(
      waitFor([&] { return !fs::exists(app_.string() + ".previous"); }, std::chrono::seconds(10)));
  EXPECT_EQ(log().find("could not swap"), std::string::npos) << log();
}

TEST_F(InstallerHandOff, KilledAtAnyMomentTheScriptLeavesAWholeBundleInPlace) {
  // The staged bundle on another file system, when there is one, makes its move a slow copy.
  std::optional<testing::TempDir> elsewhere;
  if (fs::is_directory("/dev/shm")) {
    testing::ScopedEnv shm("TMPDIR", "/dev/shm");
    elsewhere.emplace();
    paths_ = Paths(elsewhere->path() / "data");
    staged_.app = paths_.root / "update/Morvane.app";
  }
  constexpr int kPadding = 1500;
  const pid_t gone = spawnSleeper();
  endAndReap(gone);
  const fs::path script = paths_.root / "update-install.sh";
  for (int round = 0; round < 16; ++round) {
    writeBundle(staged_.app, "new", markers_, Runs::on, kPadding);
    ASSERT_TRUE(handOff(gone)) << log();
    std::this_thread::sleep_for(std::chrono::milliseconds(35 * round));
    for (pid_t pid : processesRunning(script))
      killTree(pid);
    // Once nothing of the script runs any more, the lock is free.
    ASSERT_TRUE(waitFor([&] { return bool(Updater::UpdateLock::acquire(paths_, app_)); },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(isWholeBundle(app_, kPadding)) << "killed after " << 35 * round << " ms";
    stopStartedBundles();
  }
  // Whatever the killed runs left, the next update goes through.
  writeBundle(staged_.app, "new", markers_, Runs::on, kPadding);
  ASSERT_TRUE(handOff(gone));
  ASSERT_TRUE(waitFor([&] { return log().ends_with("updated\n"); }, std::chrono::seconds(40)))
      << log();
  EXPECT_TRUE(isWholeBundle(app_, kPadding));
  EXPECT_EQ(tagOf(app_), "new");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
}

TEST_F(InstallerHandOff, ScriptThatNeverRunsIsAFailedHandOff) {
  // A shell that starts nothing, yet exits 0 as `nohup … &` does.
  platform::overrideToolPath(platform::Tool::sh, "/bin/true");
  auto silent = handOff(::getpid());
  ASSERT_FALSE(silent);
  EXPECT_EQ(silent.error().text, "Couldn't start the install script: it did not run.");
  EXPECT_TRUE(Updater::UpdateLock::acquire(paths_, app_)) << "nothing holds the lock";
  platform::overrideToolPath(platform::Tool::sh, "/bin/sh");

  // A data directory on a noexec mount: the shell starts, the script cannot. The mount is made
  // in a mount namespace of a child process.
  const std::string text = testing::textFromChild([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0)
      return std::string("skipped: no mount namespace of its own: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string(
                 "skipped: the root's mounts cannot be made private (a chroot's root is "
                 "no mount point): ") +
             std::strerror(errno);
    if (::mount("tmpfs", paths_.root.c_str(), "tmpfs", MS_NOEXEC, "size=4m") != 0)
      return std::string("skipped: no file system can be mounted: ") + std::strerror(errno);
    writeBundle(staged_.app, "new", markers_);
    auto started = handOff(1);
    return started ? "started" : started.error().text;
  });
  if (text.starts_with("skipped: "))
    GTEST_SKIP() << "the noexec case is a mount of its own, and " << text.substr(9);
  EXPECT_TRUE(text.starts_with("Couldn't start the install script: ")) << text;
  EXPECT_NE(text.find("Permission denied"), std::string::npos) << text;
  EXPECT_EQ(tagOf(app_), "old");
}

TEST_F(InstallerHandOff, OldInstanceThatNeverExitsLeavesEverythingInPlace) {
  const pid_t old = spawnSleeper();
  ASSERT_TRUE(handOff(old));
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
