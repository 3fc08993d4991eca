#pragma once

// The system facilities Morvane calls on. Everything that differs between macOS and the Linux
// build lives behind these declarations; platform_linux.cc implements them for Linux.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"

namespace morvane::platform {

/// The outside programs the program runs, each found through the tool table.
enum class Tool { launchctl, ditto, codesign, sh, open, swap, xdgOpen, xdgMime, dbusSend };

/// The application bundle the running executable belongs to, as read at start.
struct Bundle {
  /// The bundle's directory, or the executable's directory when it is not in a bundle.
  std::filesystem::path path;
  /// CFBundleIdentifier; empty when the program was not started from a bundle.
  std::string identifier;
  /// The text-valued entries of the bundle's Info.plist.
  std::map<std::string, std::string> info;
  /// CFBundleLocalizations, as declared.
  std::vector<std::string> localizations;
  /// CFBundleDevelopmentRegion; empty when not declared.
  std::string developmentRegion;
};

/// The real user id of this process.
uid_t realUserId();

/// The user's home directory: HOME when set and absolute, else the password database.
std::filesystem::path homeDirectory();

/// The folder where the service manager keeps each job's last runs, one record a job
/// (run_history.h), replaced whenever a run starts or ends.
std::filesystem::path runRecordFolder();

/// Where applications keep the user's data: XDG_DATA_HOME when set and absolute, else
/// ~/.local/share.
std::filesystem::path applicationSupportDirectory();

/// The directory for temporary files: TMPDIR when set and absolute, else /tmp.
std::filesystem::path temporaryDirectory();

/// The user's preferred languages in order, from LANGUAGE, LC_ALL, LC_MESSAGES and LANG;
/// the C and POSIX locales carry no language and are left out. May be empty.
std::vector<std::string> preferredLanguages();

/// The bundle of the running executable, read once.
const Bundle& mainBundle();

/// Reads the bundle that holds `executable`, or describes a bare executable's directory.
Bundle bundleForExecutable(const std::filesystem::path& executable);

/// The bundle's localizations in the order the user prefers: the first localization whose
/// language code matches one of `languages`, else the development region.
std::vector<std::string> preferredLocalizations(const Bundle& bundle,
                                                const std::vector<std::string>& languages);

/// A running application: its process and the bundle it was started from.
struct RunningApplication {
  pid_t pid = 0;
  std::filesystem::path bundlePath;
  /// The user the process runs as.
  uid_t user = 0;
};

/// Every running process whose executable lies in a bundle with this identifier, this process
/// included; processes that have ended but were not yet reaped are left out.
std::vector<RunningApplication> runningApplications(const std::string& identifier);

/// The arguments a running process was started with, its program first; empty when the
/// process is gone or its arguments cannot be read.
std::vector<std::string> processArguments(pid_t pid);

/// Asks a running application to quit, the way a user would; false when it could not be asked.
bool requestTermination(pid_t pid);

/// Opens a pipe for a child's output: both ends close on exec, the read end does not block, and
/// the buffer is as large as the system allows cheaply. False, with errno set, when it fails.
bool openOutputPipe(int fds[2]);

/// A descriptor that poll reports readable once the child `pid` has ended (before it is
/// reaped); -1 when the system cannot provide one, and the caller then polls by time.
int watchChildExit(pid_t pid);

/// What the service manager itself logged of an agent whose property list names no log file for
/// an output: where that log is, and its last lines.
struct ServiceLog {
  /// The name to look the log up by (on Linux, the agent's systemd unit).
  std::string name;
  /// The last lines, oldest first, as lastLines gives a file's (log_tail.h); or why not.
  Result<std::vector<std::string>> lines;
};

/// The service manager's log of the agent `label`, with its last `count` lines; absent when the
/// service manager keeps none for it (on Linux: it was never loaded as a unit of the user's
/// systemd manager).
std::optional<ServiceLog> agentServiceLog(const std::string& label, size_t count);

/// Whether the application, started now by the bundled open, would find somewhere to show itself:
/// a display or Wayland socket of this process, a platform named in QT_QPA_PLATFORM, or a desktop
/// session published to the user's service manager.
bool canStartApplicationHere();

/// A bash function `since PID` for scripts the program writes: it prints a token of when the
/// process started, the same for as long as that process lives (a reused pid gives another),
/// and fails once the process has ended, a zombie included.
std::string_view processStartShellFunction();

/// The absolute path of a tool.
std::filesystem::path toolPath(Tool tool);

/// The first executable file named `name` in the absolute directories of PATH.
std::optional<std::filesystem::path> findProgram(std::string_view name);

/// Hears, once and on another thread, whether the desktop did what it was asked.
using DesktopDone = std::function<void(Outcome)>;

/// Opens a file or folder in the desktop's default application for it. Returns at once; the
/// opener runs detached from this process.
void openInDesktop(const std::filesystem::path& path, DesktopDone done);

/// Shows a file selected in the desktop's file manager where the file manager offers that, else
/// opens the folder that holds it. Returns at once.
void revealInFileManager(const std::filesystem::path& file, DesktopDone done);

/// Opens a file in the desktop's default text editor, else as openInDesktop does. Returns at
/// once.
void editInTextEditor(const std::filesystem::path& file, DesktopDone done);

/// The loadable module of the main bundle that holds the menu-bar application and the updater;
/// the command-line modes that need neither never load it.
std::filesystem::path applicationModulePath();

/// Points a tool at another program; lets tests run the program against fakes.
void overrideToolPath(Tool tool, std::filesystem::path path);

/// Forgets every override made with overrideToolPath.
void resetToolPaths();

}  // namespace morvane::platform
