#include <unistd.h>

#include <iostream>
#include <string>

#include "app_identifier.h"
#include "cli.h"
#include "instances.h"
#include "language.h"
#include "mode_settings.h"
#include "paths.h"
#include "platform.h"
#include "updater.h"

namespace morvane::CLI {
namespace {

/// CFBundleShortVersionString of the running bundle, or "0".
std::string runningVersion() {
  const auto& info = platform::mainBundle().info;
  auto version = info.find("CFBundleShortVersionString");
  return version != info.end() ? version->second : "0";
}

/// The menu-bar instances started from this very bundle; this command-line process is not one.
std::vector<platform::RunningApplication> runningInstances() {
  std::vector<platform::RunningApplication> instances;
  const std::filesystem::path& bundle = platform::mainBundle().path;
  for (const auto& app : menuBarInstances(std::string(kAppIdentifier)))
    if (app.bundlePath == bundle && app.pid != ::getpid())
      instances.push_back(app);
  return instances;
}

}  // namespace

int32_t update(bool checkOnly, std::ostream& out) {
  const Paths paths = Paths::defaultPaths();
  modeSettings(std::cerr);

  const std::string current = runningVersion();
  out << L("当前版本    ", "Current     ") << current << std::endl;
  Result<std::optional<Updater::Release>> checked = Updater::check(current);
  if (!checked) {
    out << L("✗ 检查失败：", "✗ Check failed: ") << checked.error().text << std::endl;
    return 1;
  }
  if (!*checked) {
    out << L("已是最新版本", "Already up to date") << std::endl;
    return 0;
  }
  const Updater::Release& release = **checked;
  out << L("发现新版本  ", "New version ") << release.version << std::endl;
  if (checkOnly)
    return 0;

  // Nothing is downloaded for a location that cannot be replaced, nor while another update
  // holds the staging directory; the lock then passes on to the installer script.
  const std::filesystem::path& app = platform::mainBundle().path;
  if (Outcome replaceable = Updater::checkReplaceable(app); !replaceable) {
    out << "✗ " << replaceable.error().text << std::endl;
    return 1;
  }
  Result<Updater::UpdateLock> lock = Updater::UpdateLock::acquire(paths, app);
  if (!lock) {
    out << "✗ " << lock.error().text << std::endl;
    return 1;
  }
  Result<Updater::Staged> staged = Updater::download(release, paths);
  if (!staged) {
    out << "✗ " << staged.error().text << std::endl;
    return 1;
  }
  out << L("下载校验    ✓", "Verified    ✓") << std::endl;
  // The installer starts the new version where this one runs; with nowhere to show it, it
  // would only roll back. The verified download stays for a later --update.
  if (!platform::canStartApplicationHere()) {
    out << L("✗ 这里没有可以启动新版本的显示或桌面会话，所以没有安装；下载的新版本已保留，"
             "在桌面会话中再次运行 --update 即可安装。",
             "✗ There is no display or desktop session here to start the new version in, so it "
             "was not installed; the download is kept for --update in a desktop session.")
        << std::endl;
    return 1;
  }

  const std::vector<platform::RunningApplication> instances = runningInstances();
  const pid_t waitFor = instances.empty() ? ::getpid() : instances.front().pid;
  if (Outcome started = Updater::launchInstaller(*staged, app, waitFor, paths, std::move(*lock));
      !started) {
    out << "✗ " << started.error().text << std::endl;
    return 1;
  }
  for (const auto& instance : instances)
    platform::requestTermination(instance.pid);
  out << L("安装中      旧实例退出后自动替换并重启，日志在 ",
           "Installing  the app is replaced and restarted once the old instance exits; log at ")
      << Updater::installLogPath(paths).string() << std::endl;
  return 0;
}

}  // namespace morvane::CLI
