#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell.h"
#include "test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

TEST(ApplicationModule, CommandLineModesMapNeitherTheToolkitNorTheNetworkLibraries) {
  testing::TempDir home;
  testing::writeFile(home / "Library/LaunchAgents/com.example.quiet.plist",
                     "<plist><dict><key>Label</key><string>com.example.quiet</string>"
                     "<key>Program</key><string>/bin/true</string></dict></plist>");
  fs::create_directories(home / "runtime");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--list"}, {"--status", "com.example.quiet"}}) {
    SCOPED_TRACE(arguments.front());
    fs::remove_all(home / "loaded");
    fs::create_directories(home / "loaded");
    // The dynamic loader writes the name of every library it maps to loaded/log.<pid>.
    ShellResult run = Shell::run(MORVANE_EXECUTABLE, arguments, 60,
                                 {{"HOME", home.path()},
                                  {"MORVANE_HOME", home / "data"},
                                  {"XDG_RUNTIME_DIR", home / "runtime"},
                                  {"LD_DEBUG", "files"},
                                  {"LD_DEBUG_OUTPUT", home / "loaded/log"}});
    ASSERT_EQ(run.status, 0) << run.message();
    // One log per process; the launchctl runs write their own.
    std::string loaded;
    for (const auto& entry : fs::directory_iterator(home / "loaded")) {
      const std::string log = testing::readText(entry.path());
      if (log.find(std::string("needed by ") + MORVANE_EXECUTABLE) != std::string::npos)
        loaded += log;
    }
    EXPECT_NE(loaded.find("libplist"), std::string::npos) << "the loader reported its work";
    EXPECT_EQ(loaded.find("libQt6"), std::string::npos);
    EXPECT_EQ(loaded.find("libcurl"), std::string::npos);
    // Without a user manager no agent runs as its unit, so there is no journal to ask.
    EXPECT_EQ(loaded.find("libsystemd"), std::string::npos);
  }
}

TEST(ApplicationModule, BundleWithoutItsModuleSaysSoInOneLine) {
  testing::TempDir dir;
  const fs::path app = dir / "Morvane.app";
  fs::create_directories(app / "Contents/MacOS");
  fs::copy_file(fs::path(MORVANE_EXECUTABLE).parent_path().parent_path() / "Info.plist",
                app / "Contents/Info.plist");
  fs::copy_file(MORVANE_EXECUTABLE, app / "Contents/MacOS/Morvane");
  ShellResult started = Shell::run(app / "Contents/MacOS/Morvane", {"--update", "--check"}, 60,
                                   {{"HOME", dir.path()}, {"MORVANE_HOME", dir / "data"}});
  EXPECT_EQ(started.status, 1);
  EXPECT_TRUE(started.standardError.starts_with("morvane: cannot load the application module: "))
      << started.standardError;
  EXPECT_EQ(std::count(started.standardError.begin(), started.standardError.end(), '\n'), 1);
  EXPECT_EQ(started.standardOutput, "");
}

}  // namespace
}  // namespace morvane
