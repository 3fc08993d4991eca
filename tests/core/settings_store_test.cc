#include "settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "file_io.h"
#include "language.h"
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
  EXPECT_FALSE(store.problem());
  EXPECT_EQ(readText(paths.settingsFile()), encodeSettings(Settings{}));
}

TEST(SettingsStore, ReadableFileIsUsedAndNotRewritten) {
  testing::TempDir dir;
  writeFile(dir / "settings.json", R"({"language":"en"})");
  SettingsStore store{Paths(dir.path())};
  EXPECT_EQ(store.value().language, "en");
  EXPECT_EQ(readText(dir / "settings.json"), R"({"language":"en"})");
}

TEST(SettingsStore, AFileThatCannotBeUsedGivesTheDefaultsAndIsNeverWrittenOver) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"wrong type", [](auto& f) { writeFile(f, R"({"autoUpdate":"yes","language":"zh"})"); },
       "not valid settings"},
      {"not UTF-8", [](auto& f) { writeFile(f, "\xff\xfe"); }, "not valid settings"},
      {"cut short", [](auto& f) { writeFile(f, "{\"friendlyNames\":{\"a\":"); },
       "not valid settings"},
      {"empty", [](auto& f) { writeFile(f, ""); }, "not valid settings"},
      {"too large",
       [](auto& f) {
         writeFile(f, "{}");
         std::filesystem::resize_file(f, SettingsStore::kReadLimit + 1);
       },
       "larger than 32 MiB"},
      {"a FIFO", [](auto& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }, "not a regular file"},
      {"a directory", [](auto& f) { std::filesystem::create_directories(f / "x"); },
       "Is a directory"},
  };
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const std::filesystem::path file = dir / "settings.json";
    c.make(file);
    const auto before = std::filesystem::status(file).type();
    const std::string bytes = std::filesystem::is_regular_file(file) ? readText(file) : "";
    const auto start = std::chrono::steady_clock::now();
    SettingsStore store{Paths(dir.path())};
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(store.value(), Settings{});
    EXPECT_EQ(store.problem(), "Settings not read (" + file.string() + ": " + c.reason +
                                   "); using the defaults for now and leaving the file as it is.");
    // A change holds for the run, and the file stays as it was.
    store.update([](Settings& settings) { settings.language = "en"; });
    EXPECT_EQ(store.value().language, "en");
    EXPECT_EQ(std::filesystem::status(file).type(), before);
    if (before == std::filesystem::file_type::regular) {
      EXPECT_EQ(readText(file), bytes);
    }
  }
  {
    testing::ScopedEnv chinese("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    testing::TempDir dir;
    writeFile(dir / "settings.json", "{");
    EXPECT_EQ(SettingsStore{Paths(dir.path())}.problem(),
              "设置未能读取（" + (dir / "settings.json").string() +
                  "：不是有效的设置），暂用默认设置，文件保持不变。");
  }
  Language::apply(std::nullopt);
}

TEST(SettingsStore, SettingsOfSeveralMegabytesLoad) {
  Settings many;
  for (int i = 0; i < 45000; ++i)
    many.friendlyNames["com.example.agents.group-" + std::to_string(i % 97) + ".job-" +
                       std::to_string(i)] = "Friendly name number " + std::to_string(i) +
                                            " for an agent of a rather large installation";
  testing::TempDir dir;
  const std::string text = encodeSettings(many);
  ASSERT_GT(text.size(), size_t{5'000'000});
  writeFile(dir / "settings.json", text);
  SettingsStore store{Paths(dir.path())};
  EXPECT_FALSE(store.problem());
  EXPECT_EQ(store.value(), many);
}

TEST(SettingsStore, UpdateSavesEveryTimeKeepingUnknownMembersAndLinks) {
  testing::TempDir dir;
  writeFile(dir / "settings.json", R"({"language":null,"notes":{"why":"mine/ours","n":[1,2.5]}})");
  SettingsStore store{Paths(dir.path())};
  store.update([](Settings&) {});
  Settings kept;
  kept.otherMembers["notes"] = R"({"n":[1,2.5],"why":"mine/ours"})";
  EXPECT_EQ(readText(dir / "settings.json"), encodeSettings(kept));
  EXPECT_NE(readText(dir / "settings.json").find(R"("why": "mine\/ours")"), std::string::npos);
  store.update([](Settings& settings) { settings.language = "zh"; });
  EXPECT_EQ(SettingsStore{Paths(dir.path())}.value().language, "zh");
  EXPECT_EQ(SettingsStore{Paths(dir.path())}.value().otherMembers, kept.otherMembers);

  // A settings file that is a link, even one whose target is not there yet, stays a link: the
  // settings are written to its target.
  for (const char* target : {"elsewhere/settings.json", "missing.json"}) {
    SCOPED_TRACE(target);
    testing::TempDir linked;
    std::filesystem::create_directories(linked / "elsewhere");
    if (std::string(target) != "missing.json")
      writeFile(linked / target, R"({"autoUpdate":false})");
    std::filesystem::create_symlink(target, linked / "settings.json");
    SettingsStore viaLink{Paths(linked.path())};
    viaLink.update([](Settings& settings) { settings.language = "en"; });
    EXPECT_TRUE(std::filesystem::is_symlink(linked / "settings.json"));
    EXPECT_EQ(std::filesystem::read_symlink(linked / "settings.json"), target);
    const auto written = decodeSettings(readText(linked / target));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->language, "en");
  }
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
