// The Linux side of the platform seam: the bundle is a directory laid out like a macOS one,
// and the system tools Morvane drives are the stand-ins that travel inside it.

#include <fcntl.h>
#include <plist/plist.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "file_io.h"
#include "platform.h"
#include "property_list.h"

namespace morvane::platform {
namespace {

/// An environment variable's value when it is set to an absolute path.
std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/')
    return std::nullopt;
  return std::filesystem::path(value);
}

/// "zh_CN.UTF-8@latin" → "zh-CN"; the C and POSIX locales → "".
std::string languageTag(std::string locale) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale == "C" || locale == "POSIX")
    return "";
  std::replace(locale.begin(), locale.end(), '_', '-');
  return locale;
}

/// The language code of a tag or localization name, lower-cased: "zh-Hans" → "zh".
std::string languageCode(const std::string& tag) {
  std::string code = tag.substr(0, tag.find_first_of("-_"));
  for (char& c : code)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return code;
}

std::vector<std::string> stringArray(plist_t array) {
  std::vector<std::string> result;
  if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY)
    return result;
  for (uint32_t i = 0; i < plist_array_get_size(array); ++i) {
    plist_t item = plist_array_get_item(array, i);
    if (plist_get_node_type(item) != PLIST_STRING)
      continue;
    char* text = nullptr;
    plist_get_string_val(item, &text);
    if (text != nullptr)
      result.emplace_back(text);
    std::free(text);
  }
  return result;
}

std::map<std::string, std::string> textEntries(plist_t dictionary) {
  std::map<std::string, std::string> entries;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(dictionary, &iterator);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dictionary, iterator, &key, &value);
    if (key == nullptr)
      break;
    if (auto text = dictionaryString(dictionary, key))
      entries[key] = *text;
    std::free(key);
  }
  std::free(iterator);
  return entries;
}

std::mutex toolMutex;
std::map<Tool, std::filesystem::path> toolOverrides;

std::filesystem::path helpersDirectory() {
  const Bundle& bundle = mainBundle();
  if (bundle.identifier.empty())
    return bundle.path / "Helpers";
  return bundle.path / "Contents" / "Helpers";
}

}  // namespace

uid_t realUserId() {
  return ::getuid();
}

std::filesystem::path homeDirectory() {
  if (auto home = absoluteFromEnvironment("HOME"))
    return *home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/";
}

std::filesystem::path runRecordFolder() {
  // The bundled launchctl's state directory: both of its engines record runs there.
  return homeDirectory() / ".launchd-standin" / "runs";
}

std::filesystem::path applicationSupportDirectory() {
  if (auto data = absoluteFromEnvironment("XDG_DATA_HOME"))
    return *data;
  return homeDirectory() / ".local" / "share";
}

std::filesystem::path temporaryDirectory() {
  return absoluteFromEnvironment("TMPDIR").value_or("/tmp");
}

std::vector<std::string> preferredLanguages() {
  std::vector<std::string> languages;
  auto add = [&](const std::string& locale) {
    if (std::string tag = languageTag(locale); !tag.empty())
      languages.push_back(tag);
  };
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string entries = list;
    for (size_t start = 0; start <= entries.size();) {
      size_t end = std::min(entries.find(':', start), entries.size());
      add(entries.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* value = std::getenv(name))
      add(value);
  return languages;
}

Bundle bundleForExecutable(const std::filesystem::path& executable) {
  Bundle bundle;
  const std::filesystem::path macos = executable.parent_path();
  const std::filesystem::path contents = macos.parent_path();
  const std::filesystem::path candidate = contents.parent_path();
  bool inBundle = macos.filename() == "MacOS" && contents.filename() == "Contents" &&
                  candidate.extension() == ".app";
  bundle.path = inBundle ? candidate : macos;
  if (!inBundle)
    return bundle;
  auto bytes = readFile(contents / "Info.plist");
  PlistPtr info = bytes ? parsePropertyList(*bytes) : nullptr;
  if (info == nullptr || plist_get_node_type(info.get()) != PLIST_DICT)
    return bundle;
  bundle.info = textEntries(info.get());
  bundle.identifier = bundle.info["CFBundleIdentifier"];
  bundle.developmentRegion = bundle.info["CFBundleDevelopmentRegion"];
  bundle.localizations = stringArray(plist_dict_get_item(info.get(), "CFBundleLocalizations"));
  return bundle;
}

const Bundle& mainBundle() {
  static const Bundle bundle = [] {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return bundleForExecutable(error ? std::filesystem::current_path(error) / "Morvane"
                                     : executable);
  }();
  return bundle;
}

std::vector<std::string> preferredLocalizations(const Bundle& bundle,
                                                const std::vector<std::string>& languages) {
  for (const std::string& language : languages)
    for (const std::string& localization : bundle.localizations)
      if (languageCode(localization) == languageCode(language))
        return {localization};
  if (bundle.developmentRegion.empty())
    return {};
  return {bundle.developmentRegion};
}

std::vector<RunningApplication> runningApplications(const std::string& identifier) {
  std::vector<RunningApplication> found;
  std::map<std::filesystem::path, bool> matches;  // bundle path → carries the identifier
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
      continue;
    std::error_code unreadable;  // a zombie has no executable; another user's is hidden
    const std::filesystem::path executable =
        std::filesystem::read_symlink(entry.path() / "exe", unreadable);
    if (unreadable)
      continue;
    // Only the bundle's own executables count: those in its Contents/MacOS folder.
    const std::filesystem::path bundle = executable.parent_path().parent_path().parent_path();
    if (bundle.extension() != ".app" || executable.parent_path().filename() != "MacOS")
      continue;
    auto known = matches.find(bundle);
    if (known == matches.end())
      known =
          matches.emplace(bundle, bundleForExecutable(executable).identifier == identifier).first;
    struct stat process = {};
    if (known->second && ::stat(entry.path().c_str(), &process) == 0)
      found.push_back({static_cast<pid_t>(std::stol(name)), bundle, process.st_uid});
  }
  return found;
}

std::vector<std::string> processArguments(pid_t pid) {
  std::vector<std::string> arguments;
  Result<std::string> bytes = readFile("/proc/" + std::to_string(pid) + "/cmdline");
  if (!bytes)
    return arguments;
  // Each argument ends with a NUL.
  size_t start = 0;
  while (start < bytes->size()) {
    size_t end = bytes->find('\0', start);
    if (end == std::string::npos)
      end = bytes->size();
    arguments.push_back(bytes->substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

bool requestTermination(pid_t pid) {
  return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

bool openOutputPipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return false;
  // A larger pipe means fewer wake-ups for chatty children; the default size works too.
  ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  return true;
}

int watchChildExit(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

std::filesystem::path applicationModulePath() {
  const Bundle& bundle = mainBundle();
  const std::filesystem::path frameworks = bundle.identifier.empty()
                                               ? bundle.path / "Frameworks"
                                               : bundle.path / "Contents" / "Frameworks";
  return frameworks / "libMorvaneApp.so";
}

std::string_view processStartShellFunction() {
  // Field 22 of /proc/<pid>/stat is the start time in clock ticks since boot; the command name
  // before it may hold spaces and parentheses, so the fields are counted after its last ')'.
  return "since() {\n"
         "    local stat fields\n"
         "    case \"$1\" in ''|*[!0-9]*) return 1 ;; esac\n"
         "    read -r stat 2>/dev/null <\"/proc/$1/stat\" || return 1\n"
         "    read -r -a fields <<<\"${stat##*) }\"\n"
         "    [ \"${fields[0]}\" != Z ] && echo \"${fields[19]}\"\n"
         "}\n";
}

std::filesystem::path toolPath(Tool tool) {
  {
    std::lock_guard lock(toolMutex);
    if (auto found = toolOverrides.find(tool); found != toolOverrides.end())
      return found->second;
  }
  switch (tool) {
    case Tool::launchctl:
      return helpersDirectory() / "launchctl";
    case Tool::ditto:
      return helpersDirectory() / "ditto";
    case Tool::codesign:
      return helpersDirectory() / "codesign";
    case Tool::open:
      return helpersDirectory() / "open";
    case Tool::swap:
      return helpersDirectory() / "swap";  // our own: renameat2 with RENAME_EXCHANGE
    case Tool::sh:
      return "/bin/sh";
    case Tool::xdgOpen:
      return "/usr/bin/xdg-open";
    case Tool::xdgMime:
      return "/usr/bin/xdg-mime";
    case Tool::dbusSend:
      return "/usr/bin/dbus-send";
  }
  return {};
}

void overrideToolPath(Tool tool, std::filesystem::path path) {
  std::lock_guard lock(toolMutex);
  toolOverrides[tool] = std::move(path);
}

void resetToolPaths() {
  std::lock_guard lock(toolMutex);
  toolOverrides.clear();
}

}  // namespace morvane::platform
