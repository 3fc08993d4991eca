#include "releases.h"

#include <gtest/gtest.h>

#include "shell.h"
#include "test_support.h"

namespace morvane::testing {

std::string sha256Of(const std::filesystem::path& file) {
  ShellResult digest = Shell::run("/usr/bin/sha256sum", {file.string()}, 60);
  EXPECT_TRUE(digest.ok()) << digest.message();
  return digest.standardOutput.substr(0, 64);
}

Package makeRelease(const std::string& version, const std::filesystem::path& outDir,
                    const std::string& identifier) {
  std::vector<std::string> arguments{"--bundle", MORVANE_BUNDLE};
  if (!identifier.empty())
    arguments.insert(arguments.end(), {"--identifier", identifier});
  arguments.insert(arguments.end(), {version, outDir.string()});
  ShellResult made = Shell::run(RELEASE_SCRIPT, arguments, 120);
  EXPECT_TRUE(made.ok()) << made.message();
  Package package{outDir / ("Morvane-" + version + ".zip"), ""};
  package.sha256 = sha256Of(package.zip);
  return package;
}

Package repack(const Package& package,
               const std::function<void(const std::filesystem::path&)>& change) {
  TempDir tree;
  ShellResult unpacked =
      Shell::run("/usr/bin/unzip", {"-q", package.zip.string(), "-d", tree.path().string()}, 60);
  EXPECT_TRUE(unpacked.ok()) << unpacked.message();
  change(tree.path());
  std::filesystem::remove(package.zip);
  ShellResult zipped = Shell::run("/bin/sh",
                                  {"-c", "cd \"$1\" && zip -q -r -y \"$2\" .", "sh",
                                   tree.path().string(), package.zip.string()},
                                  60);
  EXPECT_TRUE(zipped.ok()) << zipped.message();
  return {package.zip, sha256Of(package.zip)};
}

}  // namespace morvane::testing
