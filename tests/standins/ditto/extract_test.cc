#include "extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "private_mounts.h"
#include "shell.h"
#include "test_support.h"

namespace ditto {
namespace {

namespace fs = std::filesystem;
using morvane::testing::TempDir;

/// One entry of a zip made for a test.
struct Item {
  std::string path;
  EntryKind kind = EntryKind::file;
  std::string content;  ///< a file's bytes, or a link's target
  int mode = 0644;
  size_t zeros = 0;  ///< bytes of zeros appended to a file's content
};

void writeZip(const fs::path& zip, const std::vector<Item>& items) {
  archive* writer = archive_write_new();
  archive_write_set_format_zip(writer);
  archive_write_set_options(writer, "zip:compression=deflate");
  ASSERT_EQ(archive_write_open_filename(writer, zip.c_str()), ARCHIVE_OK);
  for (const Item& item : items) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.path.c_str());
    archive_entry_set_perm(entry, static_cast<mode_t>(item.mode));
    switch (item.kind) {
      case EntryKind::directory:
        archive_entry_set_filetype(entry, AE_IFDIR);
        break;
      case EntryKind::symlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, item.content.c_str());
        break;
      default:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size() + item.zeros));
    }
    archive_write_header(writer, entry);
    if (item.kind == EntryKind::file) {
      archive_write_data(writer, item.content.data(), item.content.size());
      const std::string block(1 << 20, '\0');
      for (size_t left = item.zeros; left > 0;) {
        const size_t now = std::min(left, block.size());
        archive_write_data(writer, block.data(), now);
        left -= now;
      }
    }
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

/// Every path under `dir`, relative, sorted.
std::vector<std::string> tree(const fs::path& dir) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    paths.push_back(entry.path().lexically_relative(dir).string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

class Extract : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(target_); }
  void TearDown() override { fs::current_path("/"); }  // extractZip moved into the target

  TempDir dir_;
  fs::path zip_ = dir_ / "in.zip";
  fs::path target_ = dir_ / "sub" / "target";
};

TEST_F(Extract, UnpacksFilesFoldersAndInsideLinksKeepingExecutableBits) {
  writeZip(zip_, {{"Morvane.app/", EntryKind::directory, "", 0755},
                  {"Morvane.app/Contents/MacOS/Morvane", EntryKind::file, "#!/bin/sh\n", 0755},
                  {"Morvane.app/Contents/Info.plist", EntryKind::file, "<plist/>", 0644},
                  {"Morvane.app/Contents/Current", EntryKind::symlink, "MacOS/Morvane"},
                  {"Morvane.app/Contents/Up", EntryKind::symlink, "../Contents/Info.plist"}});
  ASSERT_EQ(extractZip(zip_, target_), "");
  const fs::path app = target_ / "Morvane.app";
  EXPECT_EQ(morvane::testing::readText(app / "Contents/MacOS/Morvane"), "#!/bin/sh\n");
  EXPECT_EQ(::access((app / "Contents/MacOS/Morvane").c_str(), X_OK), 0);
  EXPECT_EQ(fs::status(app / "Contents/Info.plist").permissions() & fs::perms::owner_exec,
            fs::perms::none);
  EXPECT_EQ(fs::read_symlink(app / "Contents/Current"), "MacOS/Morvane");
  EXPECT_EQ(morvane::testing::readText(app / "Contents/Up"), "<plist/>");
}

TEST_F(Extract, EntryEscapingTheTargetMeansNothingIsWrittenAtAll) {
  const std::vector<std::vector<Item>> hostile = {
      {{"good", EntryKind::file, "ok"}, {"/tmp/absolute-escape", EntryKind::file, "x"}},
      {{"good", EntryKind::file, "ok"}, {"a/../../escape", EntryKind::file, "x"}},
      {{"good", EntryKind::file, "ok"}, {"../escape", EntryKind::file, "x"}},
      {{"good", EntryKind::file, "ok"}, {"link", EntryKind::symlink, "../outside"}},
      {{"good", EntryKind::file, "ok"}, {"a/b/link", EntryKind::symlink, "../../../x"}},
      {{"good", EntryKind::file, "ok"}, {"link", EntryKind::symlink, "/etc/passwd"}},
      {{"good", EntryKind::file, "ok"}, {"", EntryKind::file, "x"}},
      // Each link stays inside on its own; followed one after the other they climb out.
      {{"good", EntryKind::file, "ok"},
       {"l1", EntryKind::symlink, "."},
       {"l2", EntryKind::symlink, "l1/.."},
       {"l3", EntryKind::symlink, "l2/.."},
       {"MacOS/Morvane", EntryKind::symlink, "../l3/outside"}},
      {{"good", EntryKind::file, "ok"},
       {"MacOS/Morvane", EntryKind::symlink, "../l3/outside"},
       {"l3", EntryKind::symlink, "l2/.."},
       {"l2", EntryKind::symlink, "l1/.."},
       {"l1", EntryKind::symlink, "."}},
      {{"good", EntryKind::file, "ok"},
       {"a", EntryKind::symlink, "b/x"},
       {"b", EntryKind::symlink, "a/y"}},
      // A later entry writes through a link, or one path is given twice.
      {{"good", EntryKind::file, "ok"},
       {"d/file", EntryKind::file, "x"},
       {"d", EntryKind::symlink, "."}},
      {{"good", EntryKind::file, "ok"}, {"good", EntryKind::symlink, "other"}},
  };
  for (const auto& items : hostile) {
    writeZip(zip_, items);
    const std::string reason = extractZip(zip_, target_);
    EXPECT_NE(reason, "") << items.back().path;
    EXPECT_TRUE(tree(target_).empty()) << items.back().path;
    EXPECT_EQ(tree(dir_.path() / "sub"), std::vector<std::string>{"target"});
  }
}

TEST_F(Extract, FilesAreNotWrittenThroughAnUnpackedLink) {
  // The link itself stays inside, but a later entry tries to write through it.
  writeZip(zip_, {{"dir", EntryKind::symlink, "."}, {"dir/file", EntryKind::file, "x"}});
  EXPECT_NE(extractZip(zip_, target_), "");
  EXPECT_TRUE(tree(target_).empty());

  // Nor through a link the target already held.
  fs::create_symlink("../..", target_ / "up");
  writeZip(zip_, {{"up/escape", EntryKind::file, "x"}, {"inside", EntryKind::symlink, "up/x"}});
  EXPECT_NE(extractZip(zip_, target_), "");
  EXPECT_EQ(tree(target_), std::vector<std::string>{"up"});
  EXPECT_FALSE(fs::exists(dir_ / "escape"));
}

TEST_F(Extract, ArchiveLargerThanTheLimitIsRefusedBeforeWriting) {
  writeZip(zip_, {{"small", EntryKind::file, "ok"}, {"zeros", EntryKind::file, "", 0644, 8 << 20}});
  EXPECT_LT(fs::file_size(zip_), 1u << 20) << "a bomb: small outside, large inside";
  const std::string reason = extractZip(zip_, target_, {.totalBytes = 4 << 20, .entries = 100});
  EXPECT_NE(reason.find("larger than 4194304 bytes"), std::string::npos) << reason;
  EXPECT_TRUE(tree(target_).empty());

  std::vector<Item> many;
  for (int i = 0; i < 20; ++i)
    many.push_back({"f" + std::to_string(i), EntryKind::file, "x"});
  writeZip(zip_, many);
  EXPECT_NE(extractZip(zip_, target_, {.totalBytes = 1 << 20, .entries = 10}).find("entries"),
            std::string::npos);
}

TEST_F(Extract, DamagedOrMissingArchiveIsAnError) {
  morvane::testing::writeFile(zip_, "PK\x03\x04 but nothing after");
  EXPECT_NE(extractZip(zip_, target_), "");
  EXPECT_NE(extractZip(dir_ / "missing.zip", target_), "");
}

TEST(DittoTool, UnpacksWithTheMacOSCommandLineAndRefusesAnyOther) {
  TempDir dir;
  writeZip(dir / "a.zip", {{"x/y", EntryKind::file, "data"}});
  auto run = [](std::vector<std::string> args) {
    return morvane::Shell::run(DITTO_PATH, args, 30);
  };
  EXPECT_TRUE(run({"-x", "-k", (dir / "a.zip").string(), (dir / "out").string()}).ok());
  EXPECT_EQ(morvane::testing::readText(dir / "out/x/y"), "data");

  writeZip(dir / "bad.zip", {{"../../escape", EntryKind::file, "x"}});
  morvane::ShellResult refused =
      run({"-x", "-k", (dir / "bad.zip").string(), (dir / "out2").string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.standardError.find("../../escape"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "escape"));

  EXPECT_NE(run({"-c", "-k", (dir / "x").string(), (dir / "b.zip").string()}).status, 0);
  EXPECT_NE(run({"-x", (dir / "a.zip").string(), (dir / "out").string()}).status, 0);
  EXPECT_NE(run({}).status, 0);

  // A full disk fails the unpacking, however the library words it.
  writeZip(dir / "big.zip", {{"big", EntryKind::file, "", 0644, 4 << 20}});
  fs::create_directories(dir / "small");
  auto full = morvane::testing::runWithPrivateMounts(
      "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 99; exec \"$2\" -x -k \"$3\" \"$1/out\"",
      {(dir / "small").string(), DITTO_PATH, (dir / "big.zip").string()}, 30);
  if (!full)
    GTEST_SKIP() << "the full disk is a small file system of its own, and " << full.error();
  EXPECT_EQ(full->status, 1) << full->message();
  EXPECT_NE(full->standardError.find("big"), std::string::npos) << full->standardError;
}

}  // namespace
}  // namespace ditto
