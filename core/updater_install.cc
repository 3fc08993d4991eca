#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_io.h"
#include "installer_start.h"
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

Outcome scriptNotWritten(const std::string& reason) {
  return fail(L("无法写入安装脚本：", "Couldn't write the install script: ") + reason);
}

Outcome writeScript(const fs::path& script) {
  Outcome written = writeFileAtomically(script, installerScript());
  if (written && ::chmod(script.c_str(), 0700) != 0)
    written = fail(script.string() + ": " + describeErrno(errno));
  if (!written)
    return scriptNotWritten(written.error().text);
  return {};
}

/// Copies the swap tool beside the script, replacing an earlier copy in one step.
Outcome copySwapTool(const fs::path& copy) {
  const fs::path temporary = copy.string() + ".tmp-" + std::to_string(::getpid());
  std::error_code error;
  fs::copy_file(platform::toolPath(platform::Tool::swap), temporary,
                fs::copy_options::overwrite_existing, error);
  if (!error && ::chmod(temporary.c_str(), 0700) != 0)
    error.assign(errno, std::generic_category());
  if (!error)
    fs::rename(temporary, copy, error);
  if (!error)
    return {};
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return scriptNotWritten(copy.string() + ": " + error.message());
}

/// nohup '<script>' '<pid>' '<staged>' '<app>' '<swap>' '<open>' >> '<log>' 2>&1 &
std::string commandLine(const fs::path& script, pid_t pid, const fs::path& staged,
                        const fs::path& app, const fs::path& swap, const fs::path& open,
                        const fs::path& log) {
  return "nohup " + Shell::quote(script.string()) + " " + Shell::quote(std::to_string(pid)) + " " +
         Shell::quote(staged.string()) + " " + Shell::quote(app.string()) + " " +
         Shell::quote(swap.string()) + " " + Shell::quote(open.string()) + " >> " +
         Shell::quote(log.string()) + " 2>&1 &";
}

}  // namespace

Outcome checkReplaceable(const fs::path& appPath) {
  const std::string app = appPath.string();
  if (!app.ends_with(".app"))
    return fail(L("当前不是从 .app 运行的，无法自动更新。",
                  "Morvane is not running from an .app bundle, so it can't update itself."));
  if (!isWritable(appPath.parent_path()) || !isWritable(appPath))
    return fail(L(
        [&] { return "没有权限替换 " + app + "，请手动安装新版本。"; },
        [&] { return "No permission to replace " + app + ". Install the new version manually."; }));
  return {};
}

Outcome launchInstaller(const Staged& staged, const fs::path& appPath, pid_t pid,
                        const Paths& paths, UpdateLock lock) {
  if (Outcome replaceable = checkReplaceable(appPath); !replaceable)
    return replaceable;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(staged.app, error)))
    return fail(L("下载好的新版本不见了，请重新检查更新。",
                  "The downloaded update is gone. Check for updates again."));
  const fs::path script = installerScriptPath(paths);
  if (Outcome written = writeScript(script); !written)
    return written;
  const fs::path swap = installerSwapPath(paths);
  if (Outcome copied = copySwapTool(swap); !copied)
    return copied;
  // The script's first log line, by which the hand-off knows that it runs.
  const std::string firstLine = "] updating " + appPath.string() + " from " + staged.app.string() +
                                " (waiting for pid " + std::to_string(pid) + ")\n";
  const fs::path log = installLogPath(paths);
  // The bundled open by its absolute path: a ':' or a line break in the bundle's path would
  // split a PATH entry and leave the system's own open to be found.
  const fs::path open = fs::absolute(platform::toolPath(platform::Tool::open));
  return detail::startInstaller(commandLine(script, pid, staged.app, appPath, swap, open, log),
                                std::move(lock), log, firstLine, kStartTimeout);
}

}  // namespace morvane::Updater
