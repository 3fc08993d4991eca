#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "shell.h"
#include "test_support.h"

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
}

}  // namespace
