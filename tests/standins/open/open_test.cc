#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "shell.h"
#include "test_support.h"
#include "user_manager_sandbox.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using morvane::ShellResult;
using morvane::testing::TempDir;

ShellResult open(std::vector<std::string> args, morvane::Shell::Environment env = {}) {
  return morvane::Shell::run(OPEN_PATH, args, 30, env);
}

/// A bundle whose executable writes its pid, session and one variable to `report`, then runs
/// for `seconds`.
fs::path writeBundle(const fs::path& app, const fs::path& report, int seconds) {
  morvane::testing::writeFile(
      app / "Contents/Info.plist",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
      "<string>Runner</string></dict></plist>");
  morvane::testing::writeScript(app / "Contents/MacOS/Runner",
                                "echo \"$$ $(ps -o sid= -p $$) $OPEN_TEST_VALUE\" > '" +
                                    report.string() + ".tmp'; mv '" + report.string() + ".tmp' '" +
                                    report.string() + "'\nsleep " + std::to_string(seconds));
  return app;
}

bool eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(OpenTool, StartsTheBundleDetachedAndItsPidIsGoneAfterItExits) {
  TempDir dir;
  const fs::path report = dir / "report";
  writeBundle(dir / "Runner.app", report, 2);
  const auto start = Clock::now();
  ShellResult opened = open({"-g", (dir / "Runner.app").string()}, {{"OPEN_TEST_VALUE", "kept"}});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "returns at once";
  ASSERT_TRUE(opened.ok()) << opened.message();

  ASSERT_TRUE(eventually([&] { return fs::exists(report); }, std::chrono::seconds(10)));
  std::istringstream fields(morvane::testing::readText(report));
  pid_t pid = 0;
  pid_t session = 0;
  std::string value;
  fields >> pid >> session >> value;
  EXPECT_EQ(value, "kept") << "the environment is inherited";
  EXPECT_NE(session, ::getsid(0)) << "a session of its own";
  EXPECT_EQ(::kill(pid, 0), 0);
  EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(10)))
      << "reaped by its keeper, not left a zombie";
}

TEST(OpenTool, WhatIsNotABundleIsAnError) {
  TempDir dir;
  ShellResult missing = open({(dir / "Nothing.app").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.standardError.find("does not exist"), std::string::npos);

  fs::create_directories(dir / "Plain.app");
  EXPECT_EQ(open({(dir / "Plain.app").string()}).status, 1);

  writeBundle(dir / "Broken.app", dir / "r", 0);
  fs::permissions(dir / "Broken.app/Contents/MacOS/Runner", fs::perms::owner_read);
  ShellResult notExecutable = open({(dir / "Broken.app").string()});
  EXPECT_EQ(notExecutable.status, 1);
  EXPECT_NE(notExecutable.standardError.find("not executable"), std::string::npos);

  EXPECT_EQ(open({}).status, 1);
  EXPECT_EQ(open({"-x", (dir / "Plain.app").string()}).status, 1);

  // An Info.plist that is a FIFO or a device is no bundle: refused at once, not read forever.
  fs::create_directories(dir / "Fifo.app/Contents");
  ASSERT_EQ(::mkfifo((dir / "Fifo.app/Contents/Info.plist").c_str(), 0600), 0);
  fs::create_directories(dir / "Endless.app/Contents");
  fs::create_symlink("/dev/zero", dir / "Endless.app/Contents/Info.plist");
  for (const char* bundle : {"Fifo.app", "Endless.app"}) {
    ShellResult refused = morvane::Shell::run(OPEN_PATH, {(dir / bundle).string()}, 10);
    EXPECT_FALSE(refused.timedOut) << bundle;
    EXPECT_EQ(refused.status, 1) << bundle;
    EXPECT_NE(refused.standardError.find("is not an application bundle"), std::string::npos)
        << refused.standardError;
  }
}

/// A bundle whose executable writes its pid, the session variables, one more variable and its
/// cgroup to `report`, then runs for a minute.
fs::path writeSessionBundle(const fs::path& app, const fs::path& report) {
  morvane::testing::writeFile(
      app / "Contents/Info.plist",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
      "<string>Runner</string></dict></plist>");
  morvane::testing::writeScript(
      app / "Contents/MacOS/Runner",
      "{ echo \"$$ ${DISPLAY:--} ${XAUTHORITY:--} ${OPEN_TEST_VALUE:--}\"; cat /proc/self/cgroup; }"
      " > '" +
          report.string() + ".tmp'; mv '" + report.string() + ".tmp' '" + report.string() +
          "'\nexec sleep 60");
  return app;
}

/// open with a systemd user manager of the test's own, called from where no display is known.
class OpenWithUserManager : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = morvane::testing::UserManagerSandbox::start({home_.path(), false});
    if (!started)
      GTEST_SKIP() << "skipped: " << started.error();
    manager_ = std::move(*started);
    writeSessionBundle(home_ / "Runner.app", report_);
  }

  morvane::Shell::Environment environment() const {
    morvane::Shell::Environment env = manager_->environment();
    env.insert({{"MORVANE_JOB_ENGINE", ""},
                {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},
                {"XAUTHORITY", "/from/the/caller"},
                {"OPEN_TEST_VALUE", "kept"}});
    return env;
  }

  /// Publishes a session variable in the manager, as a desktop session does at login.
  void publish(const std::string& assignment) const {
    ShellResult set = morvane::Shell::run(
        "/bin/systemctl", {"--user", "set-environment", assignment}, 10, manager_->environment());
    ASSERT_TRUE(set.ok()) << set.message();
  }

  std::vector<std::string> reportWords() const {
    std::istringstream text(morvane::testing::readText(report_));
    std::vector<std::string> words;
    for (std::string word; text >> word;)
      words.push_back(word);
    return words;
  }

  TempDir home_;
  fs::path report_ = home_ / "report";
  std::unique_ptr<morvane::testing::UserManagerSandbox> manager_;
};

TEST_F(OpenWithUserManager, ApplicationRunsInAUnitOfItsOwnOnTheSessionsDisplay) {
  publish("DISPLAY=:77");
  publish("XAUTHORITY=/from/the/session");
  ShellResult opened = open({"-g", (home_ / "Runner.app").string()}, environment());
  ASSERT_TRUE(opened.ok()) << opened.message();
  ASSERT_TRUE(eventually([&] { return fs::exists(report_); }, std::chrono::seconds(10)));
  const std::vector<std::string> words = reportWords();
  ASSERT_GE(words.size(), 5u);
  EXPECT_EQ(words[1], ":77");
  EXPECT_EQ(words[2], "/from/the/session") << "the session's variables come together";
  EXPECT_EQ(words[3], "kept") << "the rest of the caller's environment is kept";
  EXPECT_NE(morvane::testing::readText(report_).find("/app.slice/app-Runner-"), std::string::npos)
      << morvane::testing::readText(report_);
  EXPECT_EQ(::kill(std::stoi(words[0]), 0), 0) << "it outlives open";
}

TEST_F(OpenWithUserManager, ApplicationWaitsUntilASessionPublishesItsDisplay) {
  const auto start = Clock::now();
  ShellResult opened = open({(home_ / "Runner.app").string()}, environment());
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << "open returns at once";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(fs::exists(report_)) << "started without a display";
  publish("WAYLAND_DISPLAY=wayland-1");
  ASSERT_TRUE(eventually([&] { return fs::exists(report_); }, std::chrono::seconds(10)));
  EXPECT_EQ(reportWords().at(1), "-");
}

TEST_F(OpenWithUserManager, WaitingForASessionEndsWithALineSayingSo) {
  ShellResult waited =
      open({"--await-session", "1", (home_ / "Runner.app").string()}, environment());
  EXPECT_EQ(waited.status, 1);
  EXPECT_EQ(waited.standardError,
            "open: no desktop session published DISPLAY or WAYLAND_DISPLAY in 1 s; " +
                (home_ / "Runner.app").string() + " is not started\n");
}

}  // namespace
