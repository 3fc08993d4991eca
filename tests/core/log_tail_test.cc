#include "log_tail.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "language.h"
#include "test_support.h"

namespace morvane {
namespace {

using Lines = std::vector<std::string>;

class LogTail : public ::testing::Test {
 protected:
  void SetUp() override { Language::apply(std::nullopt); }

  Lines tail(const std::string& contents, size_t count) {
    testing::writeFile(dir_ / "log", contents);
    Result<Lines> lines = lastLines(dir_ / "log", count);
    EXPECT_TRUE(lines) << lines.error().text;
    return lines.value_or(Lines{});
  }

  testing::ScopedEnv english_{"MORVANE_LANG", "en"};
  testing::TempDir dir_;
};

/// What `tail -n count` shows, computed the plain way from the whole text.
Lines referenceTail(const std::string& text, size_t count) {
  Lines lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  if (lines.size() > count)
    lines.erase(lines.begin(), lines.end() - static_cast<ptrdiff_t>(count));
  return lines;
}

TEST_F(LogTail, LastLinesWithOrWithoutAFinalLineBreak) {
  EXPECT_EQ(tail("a\nb\nc\n", 2), (Lines{"b", "c"}));
  EXPECT_EQ(tail("a\nb\nc", 2), (Lines{"b", "c"}));
  EXPECT_EQ(tail("a\nb\nc\n", 10), (Lines{"a", "b", "c"}));
  EXPECT_EQ(tail("a\n\n\nb\n", 3), (Lines{"", "", "b"}));
  EXPECT_EQ(tail("dos\r\nline\r\n", 2), (Lines{"dos", "line"}));
  EXPECT_EQ(tail("\n", 5), (Lines{""}));
  EXPECT_EQ(tail("", 5), Lines{});
  EXPECT_EQ(tail("a\nb\n", 0), Lines{});
}

TEST_F(LogTail, AgreesWithTheWholeFileAcrossBlockBoundaries) {
  // Lines of many lengths, so that line breaks fall on, before and after the 64 KiB block edges.
  std::string text;
  for (size_t i = 0; text.size() < 300 * 1024; ++i)
    text += std::string((i * 7919) % 5000, static_cast<char>('a' + i % 26)) + "\n";
  for (std::string contents : {text, text.substr(0, 65536), text.substr(0, 131073)}) {
    for (size_t count : {1, 2, 3, 10, 40}) {
      EXPECT_EQ(tail(contents, count), referenceTail(contents, count))
          << "size " << contents.size() << ", count " << count;
    }
  }
}

TEST_F(LogTail, OverlongLinesKeepTheirEndOnACharacterBoundary) {
  const std::string wide = "é";  // two bytes
  Lines lines = tail("first\n" + std::string(100000, 'x') + "\n" + "tail" + wide, 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "…" + std::string(kTailLineLimit, 'x'));
  EXPECT_EQ(lines[1], "tail" + wide);

  std::string accented;
  for (size_t i = 0; i < kTailLineLimit; ++i)
    accented += wide;
  lines = tail("x" + accented + "\n", 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("…é")) << lines[0].substr(0, 10);
  EXPECT_EQ(lines[0].find("\xEF\xBF\xBD"), std::string::npos);  // no broken character
}

TEST_F(LogTail, ReadsNoFurtherBackThanItsBudgetAndMarksTheCutLine) {
  // Three lines of 10 KiB: two wanted lines may take 32 KiB, so the older one is cut.
  const std::string line(10 * 1024, 'y');
  Lines lines = tail(line + "\n" + line + "\n" + line + "\n", 2);
  EXPECT_EQ(lines, (Lines{line, line}));
  const std::string longLine(20 * 1024, 'z');
  lines = tail(longLine + "\n" + longLine + "\n" + longLine + "\n", 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("…z"));
  EXPECT_LE(lines[0].size(), kTailLineLimit + 3);
}

TEST_F(LogTail, InvalidUtf8IsReplaced) {
  EXPECT_EQ(tail("ok\nbad \xFF byte\n", 1), (Lines{"bad \xEF\xBF\xBD byte"}));
}

TEST_F(LogTail, MissingDirectoryAndFifoSaySo) {
  EXPECT_EQ(lastLines(dir_ / "nothing", 10).error().text, "no such file");
  EXPECT_EQ(lastLines(dir_.path(), 10).error().text, "cannot be read: Is a directory");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(lastLines(dir_ / "fifo", 10).error().text, "not a regular file");  // and no hang
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(lastLines(dir_ / "nothing", 10).error().text, "文件不存在");
  EXPECT_EQ(lastLines(dir_ / "fifo", 10).error().text, "不是普通文件");
}

/// Bytes this process has read through read and pread so far.
uint64_t bytesRead() {
  std::ifstream io("/proc/self/io");
  for (std::string key; io >> key;) {
    uint64_t value = 0;
    io >> value;
    if (key == "rchar:")
      return value;
  }
  return 0;
}

TEST_F(LogTail, HugeLogIsReadFromTheEndOnly) {
  constexpr off_t kSize = 150LL * 1024 * 1024;
  const std::filesystem::path log = dir_ / "huge.log";
  {
    std::string ending;
    for (int i = 1; i <= 12; ++i)
      ending += "line " + std::to_string(i) + "\n";
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kSize - static_cast<off_t>(ending.size())), 0);  // sparse
    ASSERT_EQ(::pwrite(fd, ending.data(), ending.size(), kSize - static_cast<off_t>(ending.size())),
              static_cast<ssize_t>(ending.size()));
    ::close(fd);
  }
  const uint64_t before = bytesRead();
  Result<Lines> lines = lastLines(log, 10);
  const uint64_t read = bytesRead() - before;
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 10u);
  EXPECT_EQ(lines->front(), "line 3");
  EXPECT_EQ(lines->back(), "line 12");
  EXPECT_LT(read, 256u * 1024) << "read " << read << " bytes of a " << kSize << "-byte log";
}

}  // namespace
}  // namespace morvane
