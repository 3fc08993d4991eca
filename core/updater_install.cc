#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_io.h"
#include "language.h"
#include "platform.h"
#include "shell.h"
#include "updater.h"

namespace morvane::Updater {
namespace {

namespace fs = std::filesystem;

constexpr double kStartTimeout = 10;

bool isWritable(const fs::path& path) {
  return ::access(path.c_str(), W_OK) == 0;
}

/// The checks that come before anything is written.
Outcome checkReplaceable(const Staged& staged, const fs::path& appPath) {
  const std::string app = appPath.string();
  if (!app.ends_with(".app"))
    return fail(L("当前不是从 .app 运行的，无法自动更新。",
                  "Morvane is not running from an .app bundle, so it can't update itself."));
  if (!isWritable(appPath.parent_path()) || !isWritable(appPath))
    return fail(L(
        [&] { return "没有权限替换 " + app + "，请手动安装新版本。"; },
        [&] { return "No permission to replace " + app + ". Install the new version manually."; }));
  std::error_code error;
  if (!fs::exists(fs::symlink_status(staged.app, error)))
    return fail(L("下载好的新版本不见了，请重新检查更新。",
                  "The downloaded update is gone. Check for updates again."));
  return {};
}

Outcome writeScript(const fs::path& script) {
  Outcome written = writeFileAtomically(script, installerScript);
  if (written && ::chmod(script.c_str(), 0700) != 0)
    written = fail(script.string() + ": " + describeErrno(errno));
  if (!written)
    return fail(L("无法写入安装脚本：", "Couldn't write the install script: ") +
                written.error().text);
  return {};
}

/// nohup '<script>' '<pid>' '<staged>' '<app>' >> '<log>' 2>&1 &
std::string commandLine(const fs::path& script, pid_t pid, const fs::path& staged,
                        const fs::path& app, const fs::path& log) {
  return "nohup " + Shell::quote(script.string()) + " " + Shell::quote(std::to_string(pid)) + " " +
         Shell::quote(staged.string()) + " " + Shell::quote(app.string()) + " >> " +
         Shell::quote(log.string()) + " 2>&1 &";
}

}  // namespace

Outcome launchInstaller(const Staged& staged, const fs::path& appPath, pid_t pid,
                        const Paths& paths) {
  if (Outcome replaceable = checkReplaceable(staged, appPath); !replaceable)
    return replaceable;
  const fs::path script = installerScriptPath(paths);
  if (Outcome written = writeScript(script); !written)
    return written;
  ShellResult started = Shell::run(
      platform::toolPath(platform::Tool::sh),
      {"-c", commandLine(script, pid, staged.app, appPath, installLogPath(paths))}, kStartTimeout);
  if (!started.ok())
    return fail(L("无法启动安装脚本：", "Couldn't start the install script: ") + started.message());
  return {};
}

}  // namespace morvane::Updater
