#include "installed_copy.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "app_identifier.h"
#include "instances.h"
#include "platform.h"
#include "updater.h"

namespace morvane::testing {
namespace fs = std::filesystem;

bool eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

std::string versionOf(const fs::path& app) {
  const platform::Bundle bundle = platform::bundleForExecutable(app / "Contents/MacOS/Morvane");
  const auto version = bundle.info.find("CFBundleShortVersionString");
  return version != bundle.info.end() ? version->second : "";
}

pid_t startProgram(const fs::path& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : texts)
    argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

std::vector<pid_t> instancesOf(const fs::path& app) {
  std::vector<pid_t> pids;
  for (const auto& instance : menuBarInstances(std::string(kAppIdentifier)))
    if (instance.bundlePath == app)
      pids.push_back(instance.pid);
  return pids;
}

void InstalledCopy::TearDown() {
  for (pid_t child : children_)
    if (::waitpid(child, nullptr, WNOHANG) == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
  stopInstances();
}

pid_t InstalledCopy::startChild(const fs::path& program) {
  children_.push_back(startProgram(program, {}));
  return children_.back();
}

void InstalledCopy::publish(const Package& package) {
  const auto release = Updater::release(package.manifest);
  ASSERT_TRUE(release) << package.manifest;
  server_.answer("/Morvane-" + release->version + ".zip", 200, readText(package.zip));
  server_.answer("/latest.json", 200, package.manifest);
}

void InstalledCopy::publish(const std::string& version, const Package& package) {
  server_.answer("/Morvane-" + version + ".zip", 200, readText(package.zip));
  server_.answer("/latest.json", 200, signedManifest(version, package.sha256));
}

fs::path InstalledCopy::install(const Package& package, const fs::path& folder) {
  fs::create_directories(folder);
  ShellResult unpacked =
      Shell::run("/usr/bin/unzip", {"-q", package.zip.string(), "-d", folder.string()}, 60);
  EXPECT_TRUE(unpacked.ok()) << unpacked.message();
  return folder / "Morvane.app";
}

ShellResult InstalledCopy::run(const fs::path& app, std::vector<std::string> arguments,
                               const std::string& language, const std::string& origin) {
  return Shell::run(app / "Contents/MacOS/Morvane", arguments, 120, environment(language, origin));
}

Shell::Environment InstalledCopy::environment(const std::string& language,
                                              const std::string& origin) const {
  return {{"MORVANE_HOME", home_.string()},
          {"MORVANE_LANG", language},
          {"MORVANE_UPDATE_URL", origin.empty() ? server_.url() : origin},
          {"HOME", dir_.path().string()},
          {"http_proxy", ""},
          {"https_proxy", ""},
          {"ALL_PROXY", ""}};
}

::testing::AssertionResult InstalledCopy::noInstanceRuns() {
  if (eventually([] { return menuBarInstances(std::string(kAppIdentifier)).empty(); },
                 std::chrono::seconds(60)))
    return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "another copy of the application keeps running:";
  for (const auto& instance : menuBarInstances(std::string(kAppIdentifier)))
    failure << " pid " << instance.pid << " from " << instance.bundlePath;
  return failure;
}

void InstalledCopy::stopInstances() {
  for (pid_t pid : instancesOf(app_))
    ::kill(pid, SIGTERM);
  EXPECT_TRUE(eventually([&] { return instancesOf(app_).empty(); }, std::chrono::seconds(20)));
}

std::string InstalledCopy::log() const {
  return readText(home_ / "update.log");
}

}  // namespace morvane::testing
