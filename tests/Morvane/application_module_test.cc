#include <gtest/gtest.h>

#include <filesystem>

#include "shell.h"
#include "test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

TEST(ApplicationModule, CommandLineModesMapNeitherTheToolkitNorTheNetworkLibraries) {
  testing::TempDir home;
  // The dynamic loader writes the name of every library it maps to loaded.<pid>.
  ShellResult listed = Shell::run(MORVANE_EXECUTABLE, {"--list"}, 60,
                                  {{"HOME", home.path()},
                                   {"MORVANE_HOME", home / "data"},
                                   {"LD_DEBUG", "files"},
                                   {"LD_DEBUG_OUTPUT", home / "loaded"}});
  ASSERT_EQ(listed.status, 0) << listed.message();
  // One log per process; the launchctl runs write their own.
  std::string loaded;
  for (const auto& entry : fs::directory_iterator(home.path()))
    if (entry.path().filename().string().starts_with("loaded.")) {
      const std::string log = testing::readText(entry.path());
      if (log.find(std::string("needed by ") + MORVANE_EXECUTABLE) != std::string::npos)
        loaded += log;
    }
  EXPECT_NE(loaded.find("libplist"), std::string::npos) << "the loader reported its work";
  EXPECT_EQ(loaded.find("libQt6"), std::string::npos);
  EXPECT_EQ(loaded.find("libcurl"), std::string::npos);
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
