#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "entry.h"
#include "installed_copy.h"
#include "platform.h"
#include "private_mounts.h"
#include "raw_server.h"
#include "updater.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using testing::eventually;
using testing::Package;
using testing::startProgram;
using testing::versionOf;

/// The command-line update of an installed copy.
class CommandLineUpdate : public testing::InstalledCopy {};

TEST_F(CommandLineUpdate, CheckOnlyReportsTwoLinesAndDownloadsNothing) {
  publish(testing::makeRelease("1.1.0", dir_ / "releases"));
  ShellResult checked = run(app_, {"--update", "--check"});
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.standardOutput, "Current     1.0.0\nNew version 1.1.0\n");
  EXPECT_EQ(checked.standardError, "");
  EXPECT_EQ(server_.requestCount("/Morvane-1.1.0.zip"), 0);
  EXPECT_FALSE(fs::exists(home_ / "update"));

  EXPECT_EQ(run(app_, {"--check", "--update"}, "zh").standardOutput,
            "当前版本    1.0.0\n发现新版本  1.1.0\n");
}

TEST_F(CommandLineUpdate, UpToDateIsTwoLinesAndNoStaging) {
  publish("1.0.0", old_);
  ShellResult same = run(app_, {"--update"});
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.standardOutput, "Current     1.0.0\nAlready up to date\n");
  EXPECT_FALSE(fs::exists(home_ / "update"));
  EXPECT_EQ(run(app_, {"--update"}, "zh").standardOutput, "当前版本    1.0.0\n已是最新版本\n");
}

TEST_F(CommandLineUpdate, FailedCheckIsOneLineAndStatusOne) {
  ShellResult failed = run(app_, {"--update"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.standardOutput,
            "Current     1.0.0\n✗ Check failed: latest.json returned HTTP 404\n");
  EXPECT_EQ(run(app_, {"--update"}, "zh").standardOutput,
            "当前版本    1.0.0\n✗ 检查失败：latest.json 返回 HTTP 404\n");
}

TEST_F(CommandLineUpdate, BundleWithoutAVersionIsVersionZero) {
  testing::writeFile(app_ / "Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>"
                     "CFBundleIdentifier</key><string>org.morvane.Morvane</string></dict></plist>");
  publish("0.1", old_);
  EXPECT_EQ(run(app_, {"--update", "--check"}).standardOutput, "Current     0\nNew version 0.1\n");
}

TEST_F(CommandLineUpdate, TamperedReleaseIsRefusedAndNothingChanges) {
  Package tampered =
      testing::repack(testing::makeRelease("1.2.0", dir_ / "releases"), [](const fs::path& tree) {
        testing::writeFile(tree / "Morvane.app/Contents/Helpers/launchctl", "#!/bin/sh\n");
      });
  publish("1.2.0", tampered);
  ShellResult refused = run(app_, {"--update"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.standardOutput,
            "Current     1.0.0\nNew version 1.2.0\n✗ The new version failed signature "
            "verification, so it was discarded.\n");

  // Sealed again and named by its digest, as anyone can: only the publisher's signature is
  // missing.
  Package resealed = testing::repack(tampered, [&](const fs::path& tree) {
    ShellResult sealed =
        Shell::run(app_ / "Contents/Helpers/codesign",
                   {"--sign", "-", "--force", (tree / "Morvane.app").string()}, 30);
    ASSERT_TRUE(sealed.ok()) << sealed.message();
  });
  server_.answer("/Morvane-1.2.0.zip", 200, testing::readText(resealed.zip));
  server_.answer("/latest.json", 200,
                 R"({"version": "1.2.0", "sha256": ")" + resealed.sha256 + "\"}");
  EXPECT_EQ(run(app_, {"--update"}).standardOutput,
            "Current     1.0.0\nNew version 1.2.0\n✗ The new version is not signed by Morvane's "
            "publisher, so it was discarded.\n");
  EXPECT_EQ(run(app_, {"--update"}, "zh").standardOutput,
            "当前版本    1.0.0\n发现新版本  1.2.0\n✗ 新版本没有 Morvane 发布者的签名，已丢弃。\n");
  EXPECT_FALSE(fs::exists(home_ / "update"));
  EXPECT_FALSE(fs::exists(home_ / "update-install.sh"));
  EXPECT_EQ(versionOf(app_), "1.0.0");
  EXPECT_TRUE(Shell::run(app_ / "Contents/Helpers/codesign", {"--verify", app_.string()}, 30).ok());
}

TEST_F(CommandLineUpdate, NothingIsDownloadedWhenTheUpdateCannotProceed) {
  publish("1.1.0", testing::makeRelease("1.1.0", dir_ / "releases"));
  // Another update holds this installation, even one started with another data directory: what
  // this one staged is left alone.
  testing::writeFile(home_ / "update/Morvane.app/Contents/tag", "first");
  {
    auto other = Updater::UpdateLock::acquire(Paths(dir_ / "other data"), app_);
    ASSERT_TRUE(other);
    ShellResult refused = run(app_, {"--update"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.standardOutput,
              "Current     1.0.0\nNew version 1.1.0\n✗ Another update is in progress. Try again "
              "once it has finished.\n");
    EXPECT_EQ(run(app_, {"--update"}, "zh").standardOutput,
              "当前版本    1.0.0\n发现新版本  1.1.0\n✗ 另一个更新正在进行，请等它结束后再试。\n");
    EXPECT_EQ(testing::readText(home_ / "update/Morvane.app/Contents/tag"), "first");
  }
  EXPECT_EQ(server_.requestCount("/Morvane-1.1.0.zip"), 0);
  // A read-only install location, made in a mount namespace of its own.
  auto readOnly = testing::runWithPrivateMounts(
      "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" || exit 99; "
      "exec \"$2\" --update",
      {app_.parent_path().string(), (app_ / "Contents/MacOS/Morvane").string()}, 120,
      environment());
  if (!readOnly)
    GTEST_SKIP() << "the read-only install location is a mount of its own, and "
                 << readOnly.error();
  EXPECT_EQ(readOnly->status, 1);
  EXPECT_EQ(readOnly->standardOutput,
            "Current     1.0.0\nNew version 1.1.0\n✗ No permission to "
            "replace " +
                app_.string() + ". Install the new version manually.\n");
  EXPECT_EQ(server_.requestCount("/Morvane-1.1.0.zip"), 0);
  EXPECT_EQ(versionOf(app_), "1.0.0");
}

TEST_F(CommandLineUpdate, WithNowhereToStartTheNewVersionTheDownloadWaitsForADesktop) {
  publish(testing::makeRelease("1.1.0", dir_ / "releases"));
  // A terminal without a display, and no user manager a desktop session publishes to.
  Shell::Environment bare = environment();
  bare.insert_or_assign("QT_QPA_PLATFORM", "");
  bare.insert_or_assign("DISPLAY", "");
  bare.insert_or_assign("WAYLAND_DISPLAY", "");
  bare.insert_or_assign("MORVANE_JOB_ENGINE", "builtin");
  ShellResult refused = Shell::run(app_ / "Contents/MacOS/Morvane", {"--update"}, 120, bare);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.standardOutput,
            "Current     1.0.0\nNew version 1.1.0\nVerified    ✓\n✗ There is no display or "
            "desktop session here to start the new version in, so it was not installed; the "
            "download is kept for --update in a desktop session.\n");
  bare.insert_or_assign("MORVANE_LANG", "zh");
  EXPECT_EQ(
      Shell::run(app_ / "Contents/MacOS/Morvane", {"--update"}, 120, bare).standardOutput,
      "当前版本    1.0.0\n发现新版本  1.1.0\n下载校验    ✓\n✗ 这里没有可以启动新版本的显示或"
      "桌面会话，所以没有安装；下载的新版本已保留，在桌面会话中再次运行 --update 即可安装。\n");
  EXPECT_EQ(versionOf(app_), "1.0.0");
  EXPECT_FALSE(fs::exists(home_ / "update-install.sh"));
  EXPECT_EQ(versionOf(home_ / "update/Morvane.app"), "1.1.0");
  EXPECT_EQ(server_.requestCount("/Morvane-1.1.0.zip"), 1) << "the second run took what it kept";
}

TEST_F(CommandLineUpdate, PackageCutShortIsADownloadFailure) {
  testing::RawServer cut([](int fd, const std::string& head) {
    const std::string manifest =
        std::string(R"({"version": "1.1.0", "sha256": ")") + std::string(64, 'a') + "\"}";
    const std::string response =
        head.find("latest.json") != std::string::npos
            ? "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(manifest.size()) +
                  "\r\nConnection: close\r\n\r\n" + manifest
            : std::string(
                  "HTTP/1.1 200 OK\r\nContent-Length: 5000000\r\nConnection: "
                  "close\r\n\r\nPK\x03\x04");
    [[maybe_unused]] ssize_t written = ::write(fd, response.data(), response.size());
  });
  ShellResult failed = run(app_, {"--update"}, "en", cut.url());
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.standardOutput.starts_with(
      "Current     1.0.0\nNew version 1.1.0\n✗ Download failed: transfer closed with "))
      << failed.standardOutput;
  EXPECT_FALSE(fs::exists(home_ / "update"));
}

TEST_F(CommandLineUpdate, DefaultOriginUsesTheSystemProxy) {
  testing::RawServer proxy(testing::RawServer::fixed("HTTP/1.1 403 Forbidden\r\n\r\n"));
  ShellResult failed = Shell::run(app_ / "Contents/MacOS/Morvane", {"--update", "--check"}, 60,
                                  {{"MORVANE_HOME", home_.string()},
                                   {"MORVANE_LANG", "en"},
                                   {"MORVANE_UPDATE_URL", ""},
                                   {"https_proxy", proxy.url()},
                                   {"no_proxy", ""},
                                   {"NO_PROXY", ""}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.standardOutput.starts_with("Current     1.0.0\n✗ Check failed: "))
      << failed.standardOutput;
  ASSERT_EQ(proxy.requestLines().size(), 1u);
  EXPECT_EQ(proxy.requestLines()[0], "CONNECT updates.morvane.org:443 HTTP/1.1");
}

TEST_F(CommandLineUpdate, RunningInstancesOfThisCopyAreAskedToQuitAfterTheHandOff) {
  // The new version needs somewhere to start, whatever display the test command runs under.
  testing::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
  publish(testing::makeRelease("1.1.0", dir_ / "releases"));
  // Stand-ins for menu-bar instances: programs run from inside the bundles.
  fs::copy_file("/bin/sleep", app_ / "Contents/MacOS/instance");
  const fs::path other = install(old_, dir_ / "Elsewhere");
  fs::copy_file("/bin/sleep", other / "Contents/MacOS/instance");
  const pid_t instance = startProgram(app_ / "Contents/MacOS/instance", {"120"});
  const pid_t stranger = startProgram(other / "Contents/MacOS/instance", {"120"});
  // A command-line run of this copy is no instance: it ends by itself.
  fs::copy_file("/bin/sh", app_ / "Contents/MacOS/listing");
  const pid_t listing =
      startProgram(app_ / "Contents/MacOS/listing", {"-c", "sleep 120; true", "--list"});
  ASSERT_TRUE(
      eventually([&] { return platform::runningApplications("org.morvane.Morvane").size() >= 3; },
                 std::chrono::seconds(5)));

  ShellResult updated = run(app_, {"--update"});
  EXPECT_EQ(updated.status, 0) << updated.standardOutput;
  EXPECT_EQ(updated.standardOutput,
            "Current     1.0.0\nNew version 1.1.0\nVerified    ✓\nInstalling  the app is replaced "
            "and restarted once the old instance exits; log at " +
                (home_ / "update.log").string() + "\n");
  int status = 0;
  ASSERT_EQ(::waitpid(instance, &status, 0), instance);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(::waitpid(stranger, &status, WNOHANG), 0) << "another copy's instance keeps running";
  EXPECT_EQ(::waitpid(listing, &status, WNOHANG), 0) << "the command-line run keeps running";
  for (pid_t group : {stranger, listing}) {
    ::kill(-group, SIGKILL);
    ::waitpid(group, &status, 0);
  }

  ASSERT_TRUE(eventually([&] { return !log().empty(); }, std::chrono::seconds(5)));
  EXPECT_NE(log().find("(waiting for pid " + std::to_string(instance) + ")"), std::string::npos)
      << log();
  // The swap follows; wait for the script to finish either way so nothing is left behind.
  ASSERT_TRUE(eventually(
      [&] {
        const std::string text = log();
        return text.ends_with("updated\n") || text.find("rolling back") != std::string::npos;
      },
      std::chrono::seconds(40)))
      << log();
  EXPECT_EQ(log().find("command not found"), std::string::npos) << "open is found on PATH";
  std::this_thread::sleep_for(std::chrono::seconds(1));  // whichever version was opened last
  for (const auto& app : platform::runningApplications("org.morvane.Morvane"))
    if (app.bundlePath == app_)
      ::kill(app.pid, SIGTERM);
}

TEST_F(CommandLineUpdate, InstalledCopyIsReplacedAndTheNewVersionKeepsRunning) {
  testing::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
  testing::ScopedEnv data("MORVANE_HOME", home_.string());
  testing::ScopedEnv home("HOME", dir_.path().string());
  publish(testing::makeRelease("1.1.0", dir_ / "releases"));
  ASSERT_TRUE(noInstanceRuns());
  const pid_t running = startChild(app_ / "Contents/MacOS/Morvane");
  // Past its single-instance check, it reads its settings.
  ASSERT_TRUE(
      eventually([&] { return fs::exists(home_ / "settings.json"); }, std::chrono::seconds(20)));

  ShellResult updated = run(app_, {"--update"});
  ASSERT_EQ(updated.status, 0) << updated.standardOutput;
  int status = 0;
  EXPECT_EQ(::waitpid(running, &status, 0), running) << "the running instance quits";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(eventually([&] { return log().ends_with("updated\n"); }, std::chrono::seconds(40)))
      << log();
  EXPECT_NE(log().find("(waiting for pid " + std::to_string(running) + ")"), std::string::npos);
  EXPECT_EQ(versionOf(app_), "1.1.0");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // (A process it forks counts too until it has started its program.)
  EXPECT_TRUE(
      eventually([&] { return testing::instancesOf(app_).size() == 1; }, std::chrono::seconds(20)))
      << "1.1.0 keeps running";
}

TEST(EntryPath, BundledToolsComeFirstOnPath) {
  testing::ScopedEnv path("PATH", "/usr/bin:/bin");
  putHelpersFirstOnPath();
  EXPECT_EQ(std::string(std::getenv("PATH")),
            platform::toolPath(platform::Tool::open).parent_path().string() + ":/usr/bin:/bin");
}

}  // namespace
}  // namespace morvane
