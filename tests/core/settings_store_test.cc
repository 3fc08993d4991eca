#include "settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "file_io.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::readText;
using testing::writeFile;

TEST(SettingsStore, FirstStartCreatesTheDirectoryAndACompleteFile) {
  testing::TempDir dir;
  Paths paths(dir / "deep" / "data");
  SettingsStore store(paths);
  EXPECT_EQ(store.value(), Settings{});
  EXPECT_EQ(readText(paths.settingsFile()), encodeSettings(Settings{}));
}

TEST(SettingsStore, ReadableFileIsUsedAndNotRewritten) {
  testing::TempDir dir;
  writeFile(dir / "settings.json", R"({"language":"en"})");
  SettingsStore store{Paths(dir.path())};
  EXPECT_EQ(store.value().language, "en");
  EXPECT_EQ(readText(dir / "settings.json"), R"({"language":"en"})");
}

TEST(SettingsStore, UnreadableFileIsReplacedByTheDefaults) {
  for (const char* text : {R"({"autoUpdate":"yes","language":"zh"})", "\xff\xfe", "{"}) {
    testing::TempDir dir;
    writeFile(dir / "settings.json", text);
    SettingsStore store{Paths(dir.path())};
    EXPECT_EQ(store.value(), Settings{});
    EXPECT_EQ(readText(dir / "settings.json"), encodeSettings(Settings{}));
  }
}

TEST(SettingsStore, SettingsFileThatIsAFifoGivesTheDefaultsWithoutBlocking) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "settings.json").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  SettingsStore store{Paths(dir.path())};
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(store.value(), Settings{});
  EXPECT_EQ(readText(dir / "settings.json"), encodeSettings(Settings{}));
}

TEST(SettingsStore, UpdateSavesEveryTimeAndDropsUnknownMembers) {
  testing::TempDir dir;
  writeFile(dir / "settings.json", R"({"language":null,"unknown":1})");
  SettingsStore store{Paths(dir.path())};
  store.update([](Settings&) {});
  EXPECT_EQ(readText(dir / "settings.json"), encodeSettings(Settings{}));
  store.update([](Settings& settings) { settings.language = "zh"; });
  EXPECT_EQ(SettingsStore{Paths(dir.path())}.value().language, "zh");
}

TEST(SettingsStore, FailedSaveKeepsTheChangeInMemory) {
  testing::TempDir dir;
  writeFile(dir / "blocker", "a file where the data directory should be");
  SettingsStore store{Paths(dir / "blocker" / "data")};
  store.update([](Settings& settings) { settings.autoUpdate = false; });
  EXPECT_FALSE(store.value().autoUpdate);
}

TEST(Paths, EnsureDirectoriesReportsTheSystemError) {
  testing::TempDir dir;
  writeFile(dir / "file", "");
  EXPECT_TRUE(Paths(dir / "a" / "b").ensureDirectories());
  EXPECT_TRUE(Paths(dir / "a" / "b").ensureDirectories());
  Outcome blocked = Paths(dir / "file" / "sub").ensureDirectories();
  ASSERT_FALSE(blocked);
  EXPECT_NE(blocked.error().text.find("Not a directory"), std::string::npos);
}

Settings manyNames(char variant) {
  Settings settings;
  for (int i = 0; i < 4000; ++i)
    settings.friendlyNames["label." + std::to_string(i)] = std::string(40, variant);
  return settings;
}

TEST(SettingsStore, AWriterKilledAtAnyPointLeavesTheOldOrTheNewFileWhole) {
  testing::TempDir dir;
  const Paths paths(dir.path());
  const Settings first = manyNames('a'), second = manyNames('b');
  ASSERT_TRUE(writeFileAtomically(paths.settingsFile(), encodeSettings(first)));
  std::mt19937 random(12345);
  for (int round = 0; round < 25; ++round) {
    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      SettingsStore store(paths);
      for (bool flip = false;; flip = !flip)
        store.update([&](Settings& s) { s = flip ? first : second; });
    }
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    std::optional<Settings> found = decodeSettings(readText(paths.settingsFile()));
    ASSERT_TRUE(found) << "round " << round;
    EXPECT_TRUE(*found == first || *found == second) << "round " << round;
  }
}

}  // namespace
}  // namespace morvane
