#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::testing {

/// A fresh directory under the system's temporary directory, removed with its contents at the
/// end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

/// Sets (or, with nullopt, unsets) an environment variable for the length of a scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

/// Writes a file, creating its directory; fails the test when that does not work.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

/// Writes an executable shell script.
void writeScript(const std::filesystem::path& path, std::string_view body);

/// Writes `dir`/launchctl: it logs each call's arguments to `dir`/calls and answers `list` and
/// `print-disabled` with the contents of `dir`/list and `dir`/disabled (empty at first);
/// `bootstrap` and `bootout` succeed unless `dir`/refuse exists.
std::filesystem::path writeCannedLaunchctl(const std::filesystem::path& dir);

/// Reads a file whole; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);

/// Runs `work` in a forked child and gives the text it returned: for work that changes the
/// process itself (its user, its mounts) and must leave the test's process as it was.
std::string textFromChild(const std::function<std::string()>& work);

/// Copies `source` (a file, or a folder with all it holds) into `into` and gives the copy's path.
/// `into`, the copy and everything in it are made readable, and where the source was executable
/// runnable, by every user: a test that runs a program as another user runs this copy, which that
/// user reaches from any checkout (one under /root, mode 700, is out of its reach).
std::filesystem::path copyForAnyUser(const std::filesystem::path& source, const TempDir& into);

/// An XML property list holding a dictionary with the given "Label".
std::string plistWithLabel(const std::string& label);

}  // namespace morvane::testing
