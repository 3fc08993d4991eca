#include <gtest/gtest.h>

#include "shell.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using morvane::ShellResult;
using morvane::testing::TempDir;
using morvane::testing::writeFile;

ShellResult codesign(std::vector<std::string> args) {
  return morvane::Shell::run(CODESIGN_PATH, args, 30);
}

ShellResult verify(const fs::path& bundle) {
  return codesign({"--verify", "--deep", "--strict", bundle.string()});
}

class Seal : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(app_ / "Contents/Info.plist", "<plist/>");
    writeFile(app_ / "Contents/MacOS/Morvane", "binary");
    writeFile(app_ / "Contents/Resources/empty", "");
    fs::create_symlink("../MacOS/Morvane", app_ / "Contents/Resources/link");
    ShellResult sealed = codesign({"--sign", "-", "--force", app_.string()});
    ASSERT_TRUE(sealed.ok()) << sealed.message();
    ASSERT_TRUE(verify(app_).ok()) << verify(app_).message();
  }

  /// Expects verification to fail with a one-line reason containing `part`.
  void expectBroken(const std::string& part) {
    ShellResult result = verify(app_);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find(part), std::string::npos) << result.standardError;
    EXPECT_EQ(result.standardError.find('\n'), result.standardError.size() - 1);
  }

  TempDir dir_;
  fs::path app_ = dir_ / "Morvane.app";
};

TEST_F(Seal, ListsEveryFileWithItsDigest) {
  const std::string seal =
      morvane::testing::readText(app_ / "Contents/_CodeSignature/CodeResources");
  EXPECT_NE(seal.find("<key>Contents/MacOS/Morvane</key>"), std::string::npos);
  // SHA-256 of "binary" and of nothing.
  EXPECT_NE(seal.find("9a3a45d01531a20e89ac6ae10b0b0beb0492acd7216a368aa062d1a5fecaf9cd"),
            std::string::npos);
  EXPECT_NE(seal.find("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
            std::string::npos);
  EXPECT_NE(seal.find("<key>Contents/Resources/link</key>"), std::string::npos);
}

TEST_F(Seal, ChangedFileFails) {
  writeFile(app_ / "Contents/MacOS/Morvane", "binarY");
  expectBroken("file modified: Contents/MacOS/Morvane");
}

TEST_F(Seal, AddedFileFails) {
  writeFile(app_ / "Contents/Resources/extra", "");
  expectBroken("file added: Contents/Resources/extra");
}

TEST_F(Seal, RemovedFileFails) {
  fs::remove(app_ / "Contents/Resources/empty");
  expectBroken("file missing: Contents/Resources/empty");
}

TEST_F(Seal, RetargetedLinkFails) {
  fs::remove(app_ / "Contents/Resources/link");
  fs::create_symlink("../Info.plist", app_ / "Contents/Resources/link");
  expectBroken("file modified: Contents/Resources/link");
}

TEST_F(Seal, LinkLeavingTheBundleFailsEvenWhenSealed) {
  fs::create_symlink("../../../elsewhere", app_ / "Contents/Resources/out");
  expectBroken("points outside the bundle");
  EXPECT_EQ(codesign({"--sign", "-", app_.string()}).status, 1);
}

TEST_F(Seal, UnsignedMissingOrDamagedSealFails) {
  writeFile(app_ / "Contents/_CodeSignature/CodeResources", "not a plist");
  expectBroken("the seal is damaged");
  fs::remove_all(app_ / "Contents/_CodeSignature");
  expectBroken("code object is not signed at all");
  EXPECT_EQ(verify(dir_ / "Missing.app").status, 1);
  EXPECT_NE(verify(dir_ / "Missing.app").standardError.find("No such file or directory"),
            std::string::npos);
}

TEST(CodesignTool, UnknownUsageIsAnError) {
  TempDir dir;
  EXPECT_NE(codesign({}).status, 0);
  EXPECT_NE(codesign({"--verify"}).status, 0);
  EXPECT_NE(codesign({"--sign", "Developer ID", dir.path().string()}).status, 0);
  EXPECT_NE(codesign({"--verify", "--sign", "-", dir.path().string()}).status, 0);
}

}  // namespace
