#include "file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "test_support.h"

namespace morvane {
namespace {

using testing::writeFile;

/// The pid of a process that has ended and been reaped.
pid_t endedProcess() {
  pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST(ReadFile, ReadsRegularFilesWholeWithEveryByte) {
  testing::TempDir dir;
  const std::string bytes = std::string("a\0b\xff", 4) + std::string(200000, 'x');
  writeFile(dir / "file", bytes);
  EXPECT_EQ(readFile(dir / "file").value(), bytes);
  writeFile(dir / "empty", "");
  EXPECT_EQ(readFile(dir / "empty").value(), "");
}

TEST(ReadFile, FailsAtOnceForWhatIsNotARegularFile) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero");
  std::filesystem::create_directory(dir / "directory");
  const auto start = std::chrono::steady_clock::now();
  auto fifo = readFile(dir / "fifo");
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.error().text, (dir / "fifo").string() + ": not a regular file");
  EXPECT_FALSE(readFile(dir / "zero"));
  EXPECT_FALSE(readFile(dir / "directory"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(ReadFile, RefusesFilesAboveTheLimit) {
  testing::TempDir dir;
  writeFile(dir / "small", std::string(100, 'x'));
  EXPECT_EQ(readRegularFile(dir / "small", 100).value().size(), 100u);
  EXPECT_EQ(readRegularFile(dir / "small", 99).error(), EFBIG);
  writeFile(dir / "large", std::string(kFileReadLimit + 1, 'x'));
  auto large = readFile(dir / "large");
  ASSERT_FALSE(large);
  EXPECT_EQ(large.error().text, (dir / "large").string() + ": larger than 4 MiB");
  EXPECT_EQ(readRegularFile(dir / "missing").error(), ENOENT);
}

TEST(WriteFileAtomically, RemovesTheTemporaryFilesOfWritersThatAreGone) {
  testing::TempDir dir;
  const std::string gone = ".settings.json.tmp-" + std::to_string(endedProcess()) + "-3";
  const std::string running = ".settings.json.tmp-" + std::to_string(::getppid()) + "-0";
  const std::string other = ".other.json.tmp-" + std::to_string(endedProcess()) + "-0";
  for (const std::string& name : {gone, running, other})
    writeFile(dir / name, "partial");
  ASSERT_TRUE(writeFileAtomically(dir / "settings.json", "{}"));
  EXPECT_FALSE(std::filesystem::exists(dir / gone));
  EXPECT_TRUE(std::filesystem::exists(dir / running));
  EXPECT_TRUE(std::filesystem::exists(dir / other));
  EXPECT_EQ(testing::readText(dir / "settings.json"), "{}");
  // Without the flush to disk: the same replacement, and no look at the folder; its clean-up,
  // for every target at once, is left to a rarer moment.
  writeFile(dir / gone, "partial");
  ASSERT_TRUE(writeFileAtomicallyUnflushed(dir / "settings.json", "{\"a\": 1}"));
  EXPECT_TRUE(std::filesystem::exists(dir / gone));
  EXPECT_EQ(testing::readText(dir / "settings.json"), "{\"a\": 1}");
  removeAbandonedTemporaries(dir.path());
  EXPECT_FALSE(std::filesystem::exists(dir / gone));
  EXPECT_FALSE(std::filesystem::exists(dir / other));
  EXPECT_TRUE(std::filesystem::exists(dir / running));
  EXPECT_EQ(testing::readText(dir / "settings.json"), "{\"a\": 1}");
}

TEST(WriteNewFileAtomically, NeverReplacesAndSetsTheModeWhateverTheUmask) {
  testing::TempDir dir;
  const mode_t saved = ::umask(0);
  ASSERT_TRUE(writeNewFileAtomically(dir / "job.plist", "first", 0644));
  ::umask(0777);
  ASSERT_TRUE(writeNewFileAtomically(dir / "other.plist", "other", 0644));
  ::umask(saved);
  for (const char* name : {"job.plist", "other.plist"}) {
    struct stat info {};
    ASSERT_EQ(::stat((dir / name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << name;
  }
  EXPECT_EQ(writeNewFileAtomically(dir / "job.plist", "second", 0644).error(), EEXIST);
  ::symlink("nowhere", (dir / "link.plist").c_str());
  EXPECT_EQ(writeNewFileAtomically(dir / "link.plist", "third", 0644).error(), EEXIST);
  EXPECT_EQ(writeNewFileAtomically(dir / "missing/x.plist", "x", 0644).error(), ENOENT);
  EXPECT_EQ(testing::readText(dir / "job.plist"), "first");
  // No temporary file is left behind, whatever happened.
  size_t names = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++names;
  EXPECT_EQ(names, 3u);
}

TEST(RemoveAbandonedTemporaries, TakesOnlyNamesOfTheExpectedForm) {
  testing::TempDir dir;
  const std::string pid = std::to_string(endedProcess());
  for (const std::string& name : std::vector<std::string>{
           "state.json." + pid, "state.json.x" + pid, "state.json.", "state.json.-1", "state.json"})
    writeFile(dir / name, "");
  removeAbandonedTemporaries(dir.path(), "state.json.");
  EXPECT_FALSE(std::filesystem::exists(dir / ("state.json." + pid)));
  for (const std::string& name :
       std::vector<std::string>{"state.json.x" + pid, "state.json.", "state.json.-1", "state.json"})
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  // Whatever the target: only a hidden name, a target, ".tmp-" and a writer's pid.
  const std::vector<std::string> kept = {
      "a.runs.tmp-" + pid, ".tmp-" + pid, "..tmp-" + pid, ".a.tmp-x" + pid,
      ".a.tmp-",           ".a.tmp--1",   "a.runs",       ".a.tmp-" + std::to_string(::getppid())};
  for (const std::string& name : kept)
    writeFile(dir / name, "");
  const std::vector<std::string> removed = {".a.runs.tmp-" + pid + "-0",
                                            ".a.runs.start.tmp-" + pid};
  for (const std::string& name : removed)
    writeFile(dir / name, "");
  removeAbandonedTemporaries(dir.path());
  for (const std::string& name : kept)
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  for (const std::string& name : removed)
    EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
}

}  // namespace
}  // namespace morvane
