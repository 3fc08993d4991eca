// The Linux side of asking the desktop to show files: xdg-open, the file manager's D-Bus
// service, and the default application for plain text.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "desktop_entry.h"
#include "file_io.h"
#include "language.h"
#include "platform.h"
#include "shell.h"
#include "spawn_signals.h"
#include "unicode_text.h"

extern char** environ;

namespace morvane::platform {
namespace {

/// How long the desktop's services may take to answer a question.
constexpr double kQueryTimeout = 10;

/// Runs `command` in a session of its own with its streams on the null device, and waits until
/// it ends: an opener may run for as long as the application it starts (xdg-open on a desktop
/// it does not know runs the application itself).
Outcome runDetached(const std::vector<std::string>& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                     fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  startWithDefaultSignals(attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  for (const std::string& word : command)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, command.front().c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    return fail(command.front() + ": " + describeErrno(error));

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return {};
  const std::string name = std::filesystem::path(command.front()).filename().string();
  const std::string code =
      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return fail(L([&] { return name + " 以状态 " + code + " 结束"; },
                [&] { return name + " ended with status " + code; }));
}

Outcome open(const std::filesystem::path& path) {
  return runDetached({toolPath(Tool::xdgOpen).string(), path.string()});
}

Outcome showItem(const std::filesystem::path& file) {
  const ShellResult shown = Shell::run(
      toolPath(Tool::dbusSend),
      {"--session", "--print-reply", "--reply-timeout=5000", "--dest=org.freedesktop.FileManager1",
       "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems",
       "array:string:" + fileUrl(file), "string:"},
      kQueryTimeout);
  if (shown.ok())
    return {};
  return open(file.parent_path());
}

/// Where the desktop entry `id` lives: the applications folder of the user's data directory,
/// then those of the system's.
std::optional<std::filesystem::path> desktopEntryFile(const std::string& id) {
  std::vector<std::filesystem::path> roots;
  const char* home = std::getenv("XDG_DATA_HOME");
  roots.push_back(home != nullptr && home[0] == '/' ? std::filesystem::path(home)
                                                    : homeDirectory() / ".local/share");
  const char* system = std::getenv("XDG_DATA_DIRS");
  std::string_view directories =
      system != nullptr && system[0] != '\0' ? system : "/usr/local/share:/usr/share";
  while (!directories.empty()) {
    const size_t colon = directories.find(':');
    if (directories.starts_with('/'))
      roots.emplace_back(directories.substr(0, colon));
    directories = colon == std::string_view::npos ? "" : directories.substr(colon + 1);
  }
  for (const std::filesystem::path& root : roots) {
    std::error_code error;
    if (std::filesystem::is_regular_file(root / "applications" / id, error))
      return root / "applications" / id;
  }
  return std::nullopt;
}

/// The command of the desktop's default application for plain text, for `file`.
std::optional<std::vector<std::string>> textEditorCommand(const std::filesystem::path& file) {
  const ShellResult query =
      Shell::run(toolPath(Tool::xdgMime), {"query", "default", "text/plain"}, kQueryTimeout);
  const std::string id(trimWhitespaceAndNewlines(query.standardOutput));
  if (!query.ok() || !id.ends_with(".desktop") || id.find('/') != std::string::npos)
    return std::nullopt;
  std::optional<std::filesystem::path> entry = desktopEntryFile(id);
  Result<std::string> text = entry ? readFile(*entry) : fail("");
  std::optional<std::vector<std::string>> command =
      text ? desktopEntryCommand(*text, file) : std::nullopt;
  if (!command)
    return std::nullopt;
  if (command->front().find('/') == std::string::npos) {
    std::optional<std::filesystem::path> program = findProgram(command->front());
    if (!program)
      return std::nullopt;
    command->front() = program->string();
  }
  return command;
}

Outcome edit(const std::filesystem::path& file) {
  if (std::optional<std::vector<std::string>> command = textEditorCommand(file))
    return runDetached(*command);
  return open(file);
}

/// Runs `work` on a thread of its own and tells `done` how it went.
void inBackground(std::function<Outcome()> work, DesktopDone done) {
  std::thread([work = std::move(work), done = std::move(done)] { done(work()); }).detach();
}

}  // namespace

std::optional<std::filesystem::path> findProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view directories = path != nullptr ? path : "/usr/bin:/bin";
  while (!directories.empty()) {
    const size_t colon = directories.find(':');
    const std::string_view directory = directories.substr(0, colon);
    directories = colon == std::string_view::npos ? "" : directories.substr(colon + 1);
    if (!directory.starts_with('/'))
      continue;  // a relative entry would depend on the working directory
    const std::filesystem::path candidate = std::filesystem::path(directory) / name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::nullopt;
}

void openInDesktop(const std::filesystem::path& path, DesktopDone done) {
  inBackground([path] { return open(path); }, std::move(done));
}

void revealInFileManager(const std::filesystem::path& file, DesktopDone done) {
  inBackground([file] { return showItem(file); }, std::move(done));
}

void editInTextEditor(const std::filesystem::path& file, DesktopDone done) {
  inBackground([file] { return edit(file); }, std::move(done));
}

}  // namespace morvane::platform
