#include <gtest/gtest.h>
#include <unistd.h>

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
    fs::permissions(app_ / "Contents/MacOS/Morvane", fs::perms::owner_exec, fs::perm_options::add);
    writeFile(app_ / "Contents/Resources/empty", "");
    fs::create_directories(app_ / "Contents/PlugIns");
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

TEST_F(Seal, AddedFileOrFolderFailsAnywhere) {
  writeFile(app_ / "Contents/Resources/extra", "");
  expectBroken("file added: Contents/Resources/extra");
  fs::remove(app_ / "Contents/Resources/extra");
  fs::create_directory(app_ / "Contents/Resources/more");
  expectBroken("folder added: Contents/Resources/more");
  fs::remove(app_ / "Contents/Resources/more");
  // The seal's own folder holds the seal and nothing else.
  writeFile(app_ / "Contents/_CodeSignature/CodeDirectory", "");
  expectBroken("unexpected CodeDirectory in the seal's folder");
  fs::remove(app_ / "Contents/_CodeSignature/CodeDirectory");
  ASSERT_TRUE(verify(app_).ok());
}

TEST_F(Seal, ChangedModeOwnerCapabilityOrRemovedFolderFails) {
  const fs::path executable = app_ / "Contents/MacOS/Morvane";
  for (fs::perms mode : {fs::perms(0644), fs::perms(04755), fs::perms(0775)}) {
    const fs::perms sealed = fs::status(executable).permissions();
    fs::permissions(executable, mode);
    expectBroken("mode changed: Contents/MacOS/Morvane");
    fs::permissions(executable, sealed);
  }
  fs::permissions(app_ / "Contents/Resources", fs::perms(0777));
  expectBroken("mode changed: Contents/Resources");
  fs::permissions(app_ / "Contents/Resources", fs::perms(0755));
  // The bundle itself, the seal and the seal's folder are sealed as they are too.
  for (const fs::path& item :
       {app_, app_ / "Contents/_CodeSignature", app_ / "Contents/_CodeSignature/CodeResources"}) {
    const fs::perms sealed = fs::status(item).permissions();
    fs::permissions(item, fs::perms(0777));
    expectBroken("attributes changed: ");
    fs::permissions(item, sealed);
    ASSERT_TRUE(verify(app_).ok()) << item;
  }
  // So are the owner of every file and folder, and file capabilities.
  const fs::path helper = app_ / "Contents/MacOS/Morvane";
  if (::geteuid() == 0) {
    ASSERT_EQ(::lchown(helper.c_str(), 65534, 65534), 0);
    expectBroken("attributes changed: Contents/MacOS/Morvane");
    ASSERT_EQ(::lchown(helper.c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown((app_ / "Contents/PlugIns").c_str(), 0, 65534), 0);
    expectBroken("attributes changed: Contents/PlugIns");
    ASSERT_EQ(::lchown((app_ / "Contents/PlugIns").c_str(), 0, 0), 0);
    ASSERT_TRUE(verify(app_).ok());
  }
  ShellResult capability =
      morvane::Shell::run("/usr/sbin/setcap", {"cap_net_raw+ep", helper.string()}, 30);
  if (capability.ok()) {
    expectBroken("attributes changed: Contents/MacOS/Morvane");
    morvane::Shell::run("/usr/sbin/setcap", {"-r", helper.string()}, 30);
    ASSERT_TRUE(verify(app_).ok());
  }
  fs::remove(app_ / "Contents/PlugIns");
  expectBroken("folder missing: Contents/PlugIns");
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
  expectBroken("points outside");
  EXPECT_EQ(codesign({"--sign", "-", app_.string()}).status, 1);
  fs::remove(app_ / "Contents/Resources/out");

  // Each link stays inside on its own; followed one after the other they lead out.
  fs::create_symlink(".", app_ / "Contents/l1");
  fs::create_symlink("l1/..", app_ / "Contents/l2");
  fs::create_symlink("l2/..", app_ / "Contents/l3");
  writeFile(dir_ / "outside", "not sealed");
  fs::remove(app_ / "Contents/MacOS/Morvane");
  fs::create_symlink("../l3/outside", app_ / "Contents/MacOS/Morvane");
  ASSERT_EQ(morvane::testing::readText(app_ / "Contents/MacOS/Morvane"), "not sealed");
  expectBroken("points outside");
  ShellResult sealed = codesign({"--sign", "-", "--force", app_.string()});
  EXPECT_EQ(sealed.status, 1);
  EXPECT_NE(sealed.standardError.find("points outside"), std::string::npos);
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
