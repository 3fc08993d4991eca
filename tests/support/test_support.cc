#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace morvane::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    ADD_FAILURE() << "mkdtemp failed";
  path_ = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str()))
    previous_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    ::setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

void writeScript(const std::filesystem::path& path, std::string_view body) {
  writeFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                         std::filesystem::perms::group_exec |
                                         std::filesystem::perms::others_exec);
}

std::filesystem::path writeCannedLaunchctl(const std::filesystem::path& dir) {
  const std::string d = "'" + dir.string() + "'";
  writeScript(dir / "launchctl", "echo \"$*\" >> " + d + "/calls\ncase $1 in list) cat " + d +
                                     "/list;; print-disabled) cat " + d +
                                     "/disabled;;\n"
                                     "bootstrap|bootout) test ! -e " +
                                     d + "/refuse;; esac");
  writeFile(dir / "list", "");
  writeFile(dir / "disabled", "");
  return dir / "launchctl";
}

std::string readText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

std::string plistWithLabel(const std::string& label) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<plist version=\"1.0\"><dict><key>Label</key><string>" +
         label + "</string></dict></plist>\n";
}

std::filesystem::path copyForAnyUser(const std::filesystem::path& source, const TempDir& into) {
  namespace fs = std::filesystem;
  const fs::path copy = into / source.filename().string();
  fs::copy(source, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  auto open = [](const fs::path& path) {
    const fs::perms mode = fs::symlink_status(path).permissions();
    fs::perms added = fs::perms::others_read | fs::perms::group_read;
    if ((mode & fs::perms::owner_exec) != fs::perms::none)
      added |= fs::perms::others_exec | fs::perms::group_exec;
    fs::permissions(path, added, fs::perm_options::add);
  };
  for (const fs::path& path : {into.path(), copy})
    open(path);
  if (fs::is_directory(fs::symlink_status(copy)))
    for (const auto& entry : fs::recursive_directory_iterator(copy))
      if (!entry.is_symlink())
        open(entry.path());
  return copy;
}

std::string textFromChild(const std::function<std::string()>& work) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0)
    return "no pipe for the child";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    const std::string text = work();
    [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  ::close(pipeEnds[0]);
  ::waitpid(child, nullptr, 0);
  return text;
}

}  // namespace morvane::testing
